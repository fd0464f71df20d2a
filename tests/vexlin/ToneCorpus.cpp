#include "tests/vexlin/ToneCorpus.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace parvane::vexlin::corpus {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScale = 32768.0;

double Amplitude(double levelDbfs) { return kFullScale * std::pow(10.0, levelDbfs / 20.0); }

size_t SamplesOf(int ms) { return static_cast<size_t>(ms) * kLineRate / 1000; }

double Uniform(std::mt19937& random, double low, double high)
{
    return std::uniform_real_distribution<double>(low, high)(random);
}

// Two-pole resonator with unit gain at its centre, for formants.
class Resonator {
public:
    void Tune(double frequency, double bandwidth)
    {
        const double r = std::exp(-kPi * bandwidth / kLineRate);
        m_a1 = 2.0 * r * std::cos(2.0 * kPi * frequency / kLineRate);
        m_a2 = -r * r;
        m_gain = (1.0 - r) * std::sqrt(1.0 - 2.0 * r * std::cos(4.0 * kPi * frequency / kLineRate) + r * r);
    }
    double Step(double x)
    {
        const double y = m_gain * x + m_a1 * m_y1 + m_a2 * m_y2;
        m_y2 = m_y1;
        m_y1 = y;
        return y;
    }

private:
    double m_a1 = 0, m_a2 = 0, m_gain = 0, m_y1 = 0, m_y2 = 0;
};

double Rms(const Signal& signal)
{
    if (signal.empty())
        return 0;
    double sum = 0;
    for (double x : signal)
        sum += x * x;
    return std::sqrt(sum / signal.size());
}

int16_t Clip(double x)
{
    return static_cast<int16_t>(std::clamp(std::lround(x), -32768L, 32767L));
}

} // namespace

const std::vector<BusyTone>& PublishedBusyTones()
{
    static const std::vector<BusyTone> tones = {
        {"us", "United States", 480, 620, 500, 500},
        {"uk", "United Kingdom", 400, 0, 375, 375},
        {"cn", "China", 450, 0, 350, 350},
        {"de", "Germany", 425, 0, 480, 480},
        {"fr", "France", 440, 0, 500, 500},
        {"jp", "Japan", 400, 0, 500, 500},
        {"au", "Australia", 425, 0, 375, 375},
        {"in", "India", 400, 0, 750, 750},
        {"ru", "Russia", 425, 0, 350, 350},
        {"br", "Brazil", 425, 0, 250, 250},
        {"it", "Italy", 425, 0, 200, 200},
        {"es", "Spain", 425, 0, 200, 200},
        {"nl", "Netherlands", 425, 0, 500, 500},
        {"se", "Sweden", 425, 0, 250, 250},
        {"at", "Austria", 420, 0, 400, 400},
        {"il", "Israel", 400, 0, 500, 500},
        {"za", "South Africa", 400, 0, 500, 500},
        {"nz", "New Zealand", 400, 0, 500, 500},
        {"kr", "South Korea", 480, 620, 500, 500},
        {"hk", "Hong Kong", 480, 620, 500, 500},
        {"sg", "Singapore", 425, 0, 750, 750},
        {"ar", "Argentina", 425, 0, 300, 200},
        {"tr", "Turkey", 450, 0, 500, 500},
        {"cz", "Czech Republic", 425, 0, 330, 330},
        {"gr", "Greece", 425, 0, 300, 300},
        {"pl", "Poland", 425, 0, 500, 500},
    };
    return tones;
}

const BusyTone* FindBusyTone(const std::string& code)
{
    for (const BusyTone& tone : PublishedBusyTones())
        if (code == tone.code)
            return &tone;
    return nullptr;
}

std::string CadenceFamily(const BusyTone& tone)
{
    return std::to_string(tone.onMs) + "/" + std::to_string(tone.offMs);
}

int PeriodOf(const BusyTone& tone)
{
    return tone.onMs == tone.offMs ? tone.onMs : tone.onMs + tone.offMs;
}

Signal Cadenced(const BusyTone& tone, const ToneVariant& variant, std::mt19937& random)
{
    const size_t length = SamplesOf(variant.durationMs);
    Signal signal(length, 0.0);
    const double on = tone.onMs * variant.cadenceScale;
    const double cycle = (tone.onMs + tone.offMs) * variant.cadenceScale;
    const double amplitude = Amplitude(variant.levelDbfs);
    std::vector<double> steps, phases;
    for (int frequency : {tone.frequency1, tone.frequency2}) {
        if (frequency <= 0)
            continue;
        steps.push_back(2.0 * kPi * frequency * variant.frequencyScale / kLineRate);
        phases.push_back(Uniform(random, 0, 2.0 * kPi));
    }
    for (size_t n = 0; n < length; ++n) {
        const double ms = variant.startMs + n * 1000.0 / kLineRate;
        if (std::fmod(ms, cycle) >= on)
            continue;
        double x = 0;
        for (size_t c = 0; c < steps.size(); ++c)
            x += std::sin(phases[c] + steps[c] * n);
        if (variant.modulationHz > 0) {
            const double depth = variant.modulationDepth;
            x *= (1.0 + depth * std::sin(2.0 * kPi * variant.modulationHz * ms / 1000.0)) / (1.0 + depth);
        }
        signal[n] = amplitude * x;
    }
    if (variant.snrDb < 100) {
        const double tonePower = steps.size() * amplitude * amplitude / 2.0;
        std::normal_distribution<double> noise(0.0, std::sqrt(tonePower / std::pow(10.0, variant.snrDb / 10.0)));
        for (double& x : signal)
            x += noise(random);
    }
    return signal;
}

Signal SteadyTone(int frequency1, int frequency2, int durationMs, double levelDbfs)
{
    Signal signal(SamplesOf(durationMs), 0.0);
    const double amplitude = Amplitude(levelDbfs);
    for (size_t n = 0; n < signal.size(); ++n) {
        for (int frequency : {frequency1, frequency2})
            if (frequency > 0)
                signal[n] += amplitude * std::sin(2.0 * kPi * frequency * n / kLineRate);
    }
    return signal;
}

Signal DtmfDigits(const std::string& digits, int onMs, int offMs, double levelDbfs)
{
    static const char* const keys = "123A456B789C*0#D";
    static const int rows[] = {697, 770, 852, 941};
    static const int columns[] = {1209, 1336, 1477, 1633};
    Signal signal;
    for (char digit : digits) {
        const char* key = std::strchr(keys, digit);
        if (key == nullptr || *key == '\0')
            continue;
        const int index = static_cast<int>(key - keys);
        // Column a little louder than row, as telephones send them.
        Signal row = SteadyTone(rows[index / 4], 0, onMs, levelDbfs);
        const Signal column = SteadyTone(columns[index % 4], 0, onMs, levelDbfs + 2.0);
        Mix(row, column);
        signal.insert(signal.end(), row.begin(), row.end());
        signal.insert(signal.end(), SamplesOf(offMs), 0.0);
    }
    return signal;
}

Signal WhiteNoise(int durationMs, double levelDbfs, std::mt19937& random)
{
    std::normal_distribution<double> noise(0.0, Amplitude(levelDbfs) / std::sqrt(2.0));
    Signal signal(SamplesOf(durationMs));
    for (double& x : signal)
        x = noise(random);
    return signal;
}

Signal NoiseBursts(int onMs, int offMs, int durationMs, double levelDbfs, std::mt19937& random)
{
    Signal signal = WhiteNoise(durationMs, levelDbfs, random);
    for (size_t n = 0; n < signal.size(); ++n)
        if (static_cast<int>(n * 1000 / kLineRate) % (onMs + offMs) >= onMs)
            signal[n] = 0;
    return signal;
}

Signal SpeechLike(int durationMs, double meanPitchHz, std::mt19937& random)
{
    Signal signal;
    const size_t total = SamplesOf(durationMs);
    Resonator formants[3];
    Resonator hiss;
    double glottis = 0, pulsePhase = 0, tilt = 0;
    std::normal_distribution<double> gauss(0.0, 1.0);
    while (signal.size() < total) {
        // One syllable: an optional fricative, then a vowel gliding between
        // two vowel shapes while the pitch moves; sometimes a pause after.
        const size_t fricative = Uniform(random, 0, 1) < 0.4 ? SamplesOf(static_cast<int>(Uniform(random, 40, 110))) : 0;
        const size_t vowel = SamplesOf(static_cast<int>(Uniform(random, 110, 360)));
        const double startF[3] = {Uniform(random, 280, 850), Uniform(random, 850, 2300), Uniform(random, 2400, 3200)};
        const double endF[3] = {Uniform(random, 280, 850), Uniform(random, 850, 2300), Uniform(random, 2400, 3200)};
        const double pitchStart = meanPitchHz * Uniform(random, 0.8, 1.25);
        const double pitchEnd = pitchStart * Uniform(random, 0.75, 1.2);
        hiss.Tune(Uniform(random, 2600, 3500), 600);
        for (size_t n = 0; n < fricative; ++n)
            signal.push_back(0.3 * hiss.Step(gauss(random)) * std::sin(kPi * n / fricative));
        for (size_t n = 0; n < vowel; ++n) {
            const double position = static_cast<double>(n) / vowel;
            for (int f = 0; f < 3; ++f)
                formants[f].Tune(startF[f] + (endF[f] - startF[f]) * position, 70.0 + 40.0 * f);
            const double pitch = (pitchStart + (pitchEnd - pitchStart) * position) * (1.0 + 0.01 * gauss(random));
            pulsePhase += pitch / kLineRate;
            glottis = 0;
            if (pulsePhase >= 1.0) {
                pulsePhase -= 1.0;
                glottis = 1.0;
            }
            tilt = 0.9 * tilt + glottis + 0.02 * gauss(random);
            const double envelope = std::min({1.0, position * 8.0, (1.0 - position) * 5.0});
            signal.push_back(envelope * (formants[0].Step(tilt) + 0.6 * formants[1].Step(tilt) + 0.3 * formants[2].Step(tilt)));
        }
        if (Uniform(random, 0, 1) < 0.35)
            signal.insert(signal.end(), SamplesOf(static_cast<int>(Uniform(random, 60, 450))), 0.0);
    }
    signal.resize(total);
    LevelTo(signal, -20.0);
    return signal;
}

Signal MusicChords(int durationMs, int beatMs, bool repeatBeat, std::mt19937& random)
{
    static const int shapes[][4] = {{0, 4, 7, -1}, {0, 3, 7, -1}, {0, 4, 7, 10}, {0, 3, 7, 12}, {0, 5, 9, -1}};
    Signal signal(SamplesOf(durationMs), 0.0);
    const size_t beat = SamplesOf(beatMs);
    std::vector<double> notes;
    for (size_t start = 0; start < signal.size(); start += beat) {
        if (notes.empty() || !repeatBeat) {
            notes.clear();
            const int root = std::uniform_int_distribution<int>(48, 67)(random);
            for (int interval : shapes[std::uniform_int_distribution<int>(0, 4)(random)])
                if (interval >= 0)
                    notes.push_back(440.0 * std::pow(2.0, (root + interval - 69) / 12.0));
        }
        const size_t sounding = repeatBeat ? beat / 2 : beat;
        for (size_t n = 0; n < sounding && start + n < signal.size(); ++n) {
            const double t = static_cast<double>(n) / kLineRate;
            const double envelope = std::min(1.0, t * 200.0) * std::exp(-2.5 * t);
            double x = 0;
            for (double note : notes)
                for (int harmonic = 1; harmonic <= 4 && note * harmonic < kLineRate / 2; ++harmonic)
                    x += std::sin(2.0 * kPi * note * harmonic * t) / (harmonic * harmonic);
            signal[start + n] += envelope * x;
        }
    }
    LevelTo(signal, -18.0);
    return signal;
}

Signal SpokenText(const std::string& text, const std::string& voice, const std::string& directory,
                  double levelDbfs)
{
    static int serial = 0;
    const std::string path = directory + "/spoken-" + std::to_string(++serial) + ".wav";
    const std::string command = "espeak-ng -v '" + voice + "' -s 165 -w '" + path + "' '" + text + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        return {};
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return {};
    std::vector<double> frames(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t read = sf_readf_double(file, frames.data(), info.frames);
    sf_close(file);
    std::filesystem::remove(path);
    Signal mono(static_cast<size_t>(read));
    for (size_t n = 0; n < mono.size(); ++n)
        mono[n] = frames[n * info.channels];
    Signal line = Resample(mono, info.samplerate, kLineRate);
    LevelTo(line, levelDbfs);
    return line;
}

void Mix(Signal& a, const Signal& b)
{
    if (a.size() < b.size())
        a.resize(b.size(), 0.0);
    for (size_t n = 0; n < b.size(); ++n)
        a[n] += b[n];
}

void LevelTo(Signal& signal, double levelDbfs)
{
    const double rms = Rms(signal);
    if (rms <= 0)
        return;
    const double gain = Amplitude(levelDbfs) / std::sqrt(2.0) / rms;
    for (double& x : signal)
        x *= gain;
}

std::vector<int16_t> ToCapture(const Signal& line)
{
    constexpr int kFactor = kCaptureRate / kLineRate;
    constexpr int kTapsPerPhase = 16;
    constexpr int kTaps = kFactor * kTapsPerPhase;
    static const std::vector<double> filter = [] {
        std::vector<double> h(kTaps);
        const double cutoff = 3700.0 / kCaptureRate;
        const double middle = (kTaps - 1) / 2.0;
        for (int n = 0; n < kTaps; ++n) {
            const double t = n - middle;
            const double sinc = std::sin(2.0 * kPi * cutoff * t) / (kPi * t);
            const double blackman = 0.42 - 0.5 * std::cos(2.0 * kPi * n / (kTaps - 1)) +
                                    0.08 * std::cos(4.0 * kPi * n / (kTaps - 1));
            h[n] = kFactor * sinc * blackman;
        }
        return h;
    }();
    std::vector<int16_t> capture(line.size() * kFactor);
    for (size_t j = 0; j < capture.size(); ++j) {
        const int phase = static_cast<int>(j % kFactor);
        const long base = static_cast<long>(j / kFactor);
        double y = 0;
        for (int k = 0; k < kTapsPerPhase; ++k) {
            const long m = base - k;
            if (m < 0)
                break;
            y += filter[phase + kFactor * k] * line[static_cast<size_t>(m)];
        }
        capture[j] = Clip(y);
    }
    return capture;
}

std::vector<int16_t> ToLine(const Signal& line)
{
    std::vector<int16_t> samples(line.size());
    std::transform(line.begin(), line.end(), samples.begin(), Clip);
    return samples;
}

Signal Resample(const Signal& input, int fromRate, int toRate)
{
    if (fromRate == toRate || input.empty())
        return input;
    const double ratio = static_cast<double>(fromRate) / toRate;
    const double cutoff = 0.45 * std::min(1.0, 1.0 / ratio); // of the input rate
    const int half = static_cast<int>(std::ceil(8.0 / cutoff));
    Signal output(static_cast<size_t>(input.size() / ratio));
    for (size_t m = 0; m < output.size(); ++m) {
        const double centre = m * ratio;
        const long first = std::max(0L, static_cast<long>(centre) - half);
        const long last = std::min(static_cast<long>(input.size()) - 1, static_cast<long>(centre) + half);
        double y = 0;
        for (long k = first; k <= last; ++k) {
            const double t = k - centre;
            const double sinc = t == 0 ? 2.0 * cutoff : std::sin(2.0 * kPi * cutoff * t) / (kPi * t);
            const double window = 0.5 + 0.5 * std::cos(kPi * t / (half + 1));
            y += input[k] * sinc * window;
        }
        output[m] = y;
    }
    return output;
}

} // namespace parvane::vexlin::corpus
