#pragma once
// Signals for judging the busy-tone detector: published busy tones of many
// countries, and sounds that must not pass for one (speech, chords, noise,
// DTMF digits, steady dial tones).
//
// Everything is made as a telephone line carries it, 8000 samples a second
// in full-scale units (a sine of peak 32768 is 0 dBFS), and brought to the
// capture rate by ToCapture, so that a detector working on the line rate
// (the reference in the benchmark) and ours hear the same thing.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace parvane::vexlin::corpus {

constexpr int kLineRate = 8000;
constexpr int kCaptureRate = 48000;

using Signal = std::vector<double>; // samples at kLineRate

struct BusyTone {
    const char* code;
    const char* country;
    int frequency1;
    int frequency2; // 0: single tone
    int onMs;
    int offMs;
};

// Busy tones published by national operators (frequency in Hz, cadence in ms).
const std::vector<BusyTone>& PublishedBusyTones();
const BusyTone* FindBusyTone(const std::string& code);
// "on/off", the same for every country sharing a cadence.
std::string CadenceFamily(const BusyTone& tone);
// The period in the convention of the callers: on when on equals off, else on + off.
int PeriodOf(const BusyTone& tone);

struct ToneVariant {
    double levelDbfs = -20;       // peak of each component
    double snrDb = 1000;          // tone power over white-noise power; >= 100: no noise
    double frequencyScale = 1.0;  // 1.015: 1.5 % high
    double cadenceScale = 1.0;    // 1.08: every segment 8 % long
    int durationMs = 8000;
    int startMs = 0;              // where in the cadence the signal begins
    double modulationHz = 0;      // amplitude modulation (400 Hz x 16 Hz tones)
    double modulationDepth = 1.0;
};

// The tone switched on and off with its cadence. The random source gives the
// noise and the starting phases.
Signal Cadenced(const BusyTone& tone, const ToneVariant& variant, std::mt19937& random);

// Sounds that carry no busy tone.
Signal SteadyTone(int frequency1, int frequency2, int durationMs, double levelDbfs);
Signal DtmfDigits(const std::string& digits, int onMs, int offMs, double levelDbfs);
Signal WhiteNoise(int durationMs, double levelDbfs, std::mt19937& random);
// White noise switched on and off like a busy tone.
Signal NoiseBursts(int onMs, int offMs, int durationMs, double levelDbfs, std::mt19937& random);
// Voiced syllables with a moving pitch and moving formants, fricatives and
// pauses: the spectrum and rhythm of speech without a speech synthesiser.
Signal SpeechLike(int durationMs, double meanPitchHz, std::mt19937& random);
// Chords of three or four notes with harmonics, changing on a beat; with
// repeatBeat, the same chord is struck on every beat with rests between.
Signal MusicChords(int durationMs, int beatMs, bool repeatBeat, std::mt19937& random);

// Speech spoken by espeak-ng into a file of the given directory, at the
// line rate and levelled to levelDbfs (RMS relative to a full-scale sine).
// Empty when espeak-ng is missing or fails.
Signal SpokenText(const std::string& text, const std::string& voice, const std::string& directory,
                  double levelDbfs);

// Mixes b into a (a grows to the longer of the two).
void Mix(Signal& a, const Signal& b);
// Scales to the given RMS level relative to a full-scale sine.
void LevelTo(Signal& signal, double levelDbfs);

// Line rate to capture rate through a low-pass interpolator, rounded and
// clipped to 16 bits.
std::vector<int16_t> ToCapture(const Signal& line);
// Rounded and clipped to 16 bits at the line rate.
std::vector<int16_t> ToLine(const Signal& line);
// Any rate to any rate (windowed-sinc interpolation), for recorded sounds.
Signal Resample(const Signal& input, int fromRate, int toRate);

} // namespace parvane::vexlin::corpus
