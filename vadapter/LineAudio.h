#pragma once
// What the virtual line carries once answered, and what is played to the
// adapter's audio output.
//
// Scenario keys (section [call]):
//   answer_delay = 1000        ms of silence after off-hook before the tone
//   tone = 480+620/500,0/500   tone list: f1[+f2][/ms] items, frequency 0 is
//                              silence; the list repeats. An item without /ms
//                              (only the last may lack it) lasts for ever.
//                              f1*fm is f1 amplitude-modulated by fm (to
//                              kModulationDepth).
//   level = -20                dBFS of each tone component (peak of its sine)
//   noise = -60                dBFS (RMS) white noise under everything once
//                              off-hook; omit for none
//   wav = path                 a recording (any format libsndfile reads,
//                              relative to the scenario file) played in a
//                              loop instead of the tone, at its own level
// Without tone or wav the line carries the preset's busy tone (silence for a
// file that names no preset).

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace parvane {

struct ToneSegment {
    double frequency1 = 0.0; // Hz; 0: silence
    double frequency2 = 0.0; // Hz; 0: none
    uint32_t durationMs = 0; // 0: lasts for ever (last item only)
    double modulation = 0.0; // Hz of the amplitude modulation of frequency1 (f1*fm); 0: none
    bool operator==(const ToneSegment&) const = default;
};

// Parses a tone list; false with what is wrong in `error`.
bool ParseToneList(const std::string& text, std::vector<ToneSegment>& segments, std::string& error);

struct LineAudioSettings {
    uint32_t answerDelayMs = 1000;
    std::string tone;             // as given; empty: not given
    double levelDbfs = -20.0;
    std::optional<double> noiseDbfs;
    std::string wavPath;          // as resolved; empty: not given
    // The recording, mono at 48000 Hz, full scale 1.0; decoded when the
    // scenario loads.
    std::shared_ptr<const std::vector<float>> recording;
};

// Reads a recording with libsndfile, mixed to mono and resampled to 48000 Hz.
// False with the reason when it is missing, unreadable, empty or too long.
bool LoadRecording(const std::string& path, std::shared_ptr<const std::vector<float>>& recording,
                   std::string& error);

// The line audio of one scenario. Immutable once built; Render may be called
// from any thread.
class LineAudio {
public:
    static constexpr uint32_t kRate = 48000;
    // Of an amplitude-modulated item; its peak is the level.
    static constexpr double kModulationDepth = 0.9;

    // `presetTone` is used when the settings give neither tone nor recording;
    // it must parse (a preset's does).
    LineAudio(const LineAudioSettings& settings, const std::string& presetTone);

    // Stereo frames; positions count frames since off-hook (negative:
    // before, silence).
    void Render(int16_t* interleaved, size_t frames, int64_t firstFrame) const;

    const std::vector<ToneSegment>& Segments() const { return m_segments; }

private:
    double ToneSample(int64_t position) const;

    int64_t m_delayFrames = 0;
    std::vector<ToneSegment> m_segments;
    std::vector<int64_t> m_segmentEnds; // cumulative frames; the last is the cycle
    bool m_lastForever = false;
    double m_amplitude = 0.0;
    double m_noiseRms = 0.0;
    std::shared_ptr<const std::vector<float>> m_recording;
};

// One playback on the adapter's output, as a test sees it.
struct PlaybackRecord {
    int id = 0;
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    std::vector<int16_t> samples; // interleaved
    bool finished = false;        // the stream was closed
};

// What was played to the adapter's output (the last 64 playbacks).
class PlaybackLog {
public:
    int Begin(uint32_t sampleRate, uint16_t channels);
    void Append(int id, const int16_t* interleaved, size_t frames);
    void End(int id);
    std::vector<PlaybackRecord> Records();
    void Clear();

private:
    std::mutex m_mutex;
    PlaybackRecord* Find(int id);
    std::vector<PlaybackRecord> m_records;
    int m_nextId = 1;
};

} // namespace parvane
