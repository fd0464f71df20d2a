#include "audio/AudioEngine.h"
#include "audio/AudioGlobals.h"
#include "audio/BlockQueueReceiver.h"
#include "audio/Fft.h"
#include "audio/SpectrumAnalysis.h"
#include "i18n/AudioDeviceName.h"
#include "platform/AudioDevices.h"
#include "platform/WaveIn.h"
#include "tests/audio/VirtualAdapterAudio.h"
#include "vadapter/LineAudio.h"
#include "vadapter/Scenario.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numbers>
#include <thread>

using namespace parvane;
using namespace parvane::test;

namespace {

// The strongest frequency of a mono block (its length a power of two).
double StrongestFrequency(const std::vector<double>& samples, double rate = 48000)
{
    const unsigned n = static_cast<unsigned>(samples.size());
    std::vector<double> re(n), im(n);
    FFT(n, false, samples.data(), nullptr, re.data(), im.data());
    std::vector<double> power(n / 2);
    for (unsigned k = 0; k < n / 2; ++k)
        power[k] = re[k] * re[k] + im[k] * im[k];
    return SpectrumAnalysis::BinFrequency(static_cast<uint32_t>(rate), SpectrumAnalysis::FindPeak(power.data(), n / 2),
                                          n / 2);
}

std::vector<double> Left(const std::vector<int16_t>& stereo, size_t from, size_t frames)
{
    std::vector<double> left(frames);
    for (size_t i = 0; i < frames; ++i)
        left[i] = stereo[2 * (from + i)];
    return left;
}

int16_t Peak(const std::vector<int16_t>& stereo, size_t from, size_t frames)
{
    int peak = 0;
    for (size_t i = from; i < from + frames; ++i)
        peak = std::max(peak, std::abs(static_cast<int>(stereo[2 * i])));
    return static_cast<int16_t>(peak);
}

std::vector<int16_t> Render(const LineAudio& audio, size_t frames, int64_t first = 0)
{
    std::vector<int16_t> stereo(frames * 2);
    audio.Render(stereo.data(), frames, first);
    return stereo;
}

Scenario Parse(const std::string& text, std::string& error, const std::string& file = "/tmp/call.ini")
{
    Scenario scenario;
    EXPECT_FALSE(text.empty());
    if (!ParseScenarioText(text, file, scenario, error))
        return Scenario{};
    error.clear();
    return scenario;
}

std::string WriteWave(const std::string& path, double hz, int rate, int channels, double seconds)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    const int frames = static_cast<int>(rate * seconds);
    std::vector<short> samples(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[static_cast<size_t>(i) * channels + c] =
                static_cast<short>(10000 * std::sin(2 * std::numbers::pi * hz * i / rate));
    sf_writef_short(file, samples.data(), frames);
    sf_close(file);
    return path;
}

} // namespace

TEST(ToneList, ParsesItemsAndRefusesWhatIsWrong)
{
    std::vector<ToneSegment> segments;
    std::string error;
    ASSERT_TRUE(ParseToneList("480+620/500,0/500", segments, error)) << error;
    EXPECT_EQ(segments, (std::vector<ToneSegment>{{480, 620, 500}, {0, 0, 500}}));
    ASSERT_TRUE(ParseToneList(" 350+440 ", segments, error)); // a steady dial tone
    EXPECT_EQ(segments, (std::vector<ToneSegment>{{350, 440, 0}}));
    ASSERT_TRUE(ParseToneList("400/375,0/375,400", segments, error));
    EXPECT_EQ(segments.back().durationMs, 0u);
    ASSERT_TRUE(ParseToneList("400*25/400,0/200", segments, error)) << error; // amplitude-modulated
    EXPECT_EQ(segments[0].frequency1, 400);
    EXPECT_EQ(segments[0].frequency2, 0);
    EXPECT_EQ(segments[0].modulation, 25);

    const std::pair<const char*, const char*> bad[] = {
        {"", "empty tone list"},
        {"450/350,", "item 2"},
        {"450,0/350", "no duration"},
        {"450/0", "duration"},
        {"450/abc", "duration"},
        {"450 Hz/350", "f1[+f2]"},
        {"-450/350", "f1[+f2]"},
        {"30000/100", "below 24000"},
        {"0+450/100", "silent item"},
        {"450*x/100", "f1*fm"},
        {"450*500/100", "below f1"},
        {"0*20/100", "below f1"},
        {"400+450*20/100", "not both"},
    };
    for (const auto& [text, why] : bad) {
        EXPECT_FALSE(ParseToneList(text, segments, error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
    }
}

TEST(LineAudioScenario, KeysAreReadAndBadOnesRefusedNamingTheKey)
{
    std::string error;
    Scenario scenario = Parse("[call]\nanswer_delay = 250\ntone = 425/100,0/100\nlevel = -10\nnoise = -50\n", error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(scenario.lineAudio.answerDelayMs, 250u);
    EXPECT_EQ(scenario.lineAudio.tone, "425/100,0/100");
    EXPECT_DOUBLE_EQ(scenario.lineAudio.levelDbfs, -10);
    EXPECT_DOUBLE_EQ(scenario.lineAudio.noiseDbfs.value(), -50);

    const std::pair<const char*, const char*> bad[] = {
        {"[call]\ntone = 425/100,0/x\n", "key tone"},
        {"[call]\nlevel = 3\n", "key level"},
        {"[call]\nnoise = loud\n", "key noise"},
        {"[call]\nanswer_delay = -5\n", "key answer_delay"},
        {"[call]\nwav = nowhere.wav\n", "cannot read the recording /tmp/nowhere.wav"},
        {"[call]\ntone = 425\nwav = x.wav\n", "tone and wav cannot both be given"},
    };
    for (const auto& [text, why] : bad) {
        Parse(text, error);
        EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
        EXPECT_NE(error.find("/tmp/call.ini, line"), std::string::npos) << error;
    }

    // A file that is not audio is refused as well.
    const std::string notAudio = testing::TempDir() + "not-audio.wav";
    std::ofstream(notAudio) << "this is text";
    Parse("[call]\nwav = " + notAudio + "\n", error);
    EXPECT_NE(error.find("key wav"), std::string::npos) << error;
}

TEST(LineAudio, PresetBusyToneAfterTheAnswerDelay)
{
    Scenario cn;
    std::string error;
    ASSERT_TRUE(LoadScenario("cn", cn, error));
    const LineAudio audio(cn.lineAudio, cn.presetBusyTone);
    // 1 s silence, then 350 ms of 450 Hz at -20 dBFS and 350 ms of silence, repeated.
    const auto stereo = Render(audio, 48000 * 3, -4800);
    EXPECT_EQ(Peak(stereo, 0, 4800 + 48000), 0);
    const size_t on = 4800 + 48000;
    EXPECT_NEAR(Peak(stereo, on, 16800), 3277, 2);
    EXPECT_NEAR(StrongestFrequency(Left(stereo, on, 16384)), 450, 3);
    EXPECT_EQ(Peak(stereo, on + 16800 + 10, 16800 - 20), 0);
    EXPECT_NEAR(Peak(stereo, on + 33600 + 10, 16000), 3277, 2);
    for (size_t i = 0; i < stereo.size(); i += 2)
        ASSERT_EQ(stereo[i], stereo[i + 1]);

    // The same position always gives the same tone.
    EXPECT_EQ(Render(audio, 1000, 60000), std::vector<int16_t>(stereo.begin() + 2 * (60000 + 4800),
                                                               stereo.begin() + 2 * (61000 + 4800)));
}

TEST(LineAudio, DualTonesNoiseAndRecordings)
{
    Scenario us;
    std::string error;
    ASSERT_TRUE(LoadScenario("us", us, error));
    us.lineAudio.answerDelayMs = 0;
    const auto dual = Render(LineAudio(us.lineAudio, us.presetBusyTone), 16384);
    std::vector<double> left = Left(dual, 0, 16384);
    EXPECT_NEAR(StrongestFrequency(left), 480, 3);
    // Take out 480 Hz: 620 Hz remains.
    for (size_t i = 0; i < left.size(); ++i)
        left[i] -= 3277 * std::sin(2 * std::numbers::pi * 480 * i / 48000.0);
    EXPECT_NEAR(StrongestFrequency(left), 620, 3);

    LineAudioSettings quiet;
    quiet.tone = "0/1000";
    quiet.noiseDbfs = -40;
    const auto noise = Render(LineAudio(quiet, ""), 48000);
    double sum = 0;
    for (size_t i = 0; i < noise.size(); i += 2)
        sum += static_cast<double>(noise[i]) * noise[i];
    EXPECT_NEAR(std::sqrt(sum / 48000), 327.7, 15);
    // Before off-hook there is no noise either.
    EXPECT_EQ(Peak(Render(LineAudio(quiet, ""), 100, -100), 0, 100), 0);

    // An 8000 Hz stereo recording plays at the line's rate, looped.
    const std::string path = WriteWave(testing::TempDir() + "line-1000hz.wav", 1000, 8000, 2, 0.25);
    Scenario recorded = Parse("[call]\nanswer_delay = 0\nwav = " + path + "\n", error);
    ASSERT_EQ(error, "");
    ASSERT_TRUE(recorded.lineAudio.recording);
    EXPECT_NEAR(static_cast<double>(recorded.lineAudio.recording->size()), 12000, 6);
    const auto played = Render(LineAudio(recorded.lineAudio, ""), 32768);
    EXPECT_NEAR(StrongestFrequency(Left(played, 0, 16384)), 1000, 3);
    EXPECT_NEAR(StrongestFrequency(Left(played, 16384, 16384)), 1000, 3); // past the first loop
}

namespace {

struct Blocks {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<int16_t>> full;

    static void Callback(WaveIn* device, WaveInMessage message, void* instance, WaveBuffer* buffer)
    {
        if (message != WaveInMessage::Data || buffer->bytesRecorded != buffer->bufferLength)
            return;
        auto* self = static_cast<Blocks*>(instance);
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            const auto* samples = reinterpret_cast<const int16_t*>(buffer->data);
            self->full.emplace_back(samples, samples + buffer->bytesRecorded / 2);
            self->changed.notify_all();
        }
        device->AddBuffer(buffer);
    }
    bool WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return full.size() >= count; });
    }
};

} // namespace

TEST(VirtualAudioDevice, PacedByTheAdaptersClockSilentOnHookLineAudioOffHook)
{
    VirtualAdapterDevice& adapter = ChooseAdapterPreset("cn");
    // The call is due before the line is taken, so that taking it answers
    // the call (rather than calling out).
    Scenario scenario = adapter.CurrentScenario();
    scenario.ringDelayMs = 100;
    adapter.Reset(scenario);
    adapter.UseManualClock(5000000);
    EXPECT_EQ(adapter.AudioDeviceName(), "Tarnbox USB Audio (virtual)");
    const int input = FindAudioInputDevice("Tarnbox");
    ASSERT_EQ(input, 0); // the adapter's device comes first
    EXPECT_EQ(FindAudioOutputDevice("Tarnbox USB Audio (virtual)"), 0);

    LineThroughFxo line;
    ASSERT_TRUE(line.Open());

    Blocks blocks;
    WaveIn device;
    ASSERT_EQ(device.Open(input, AudioFormat{}, &Blocks::Callback, &blocks), WaveResult::Ok);
    std::vector<uint8_t> memory[3];
    WaveBuffer buffers[3];
    for (int i = 0; i < 3; ++i) {
        memory[i].assign(4800 * 4, 0xAB); // 100 ms blocks
        buffers[i] = WaveBuffer{memory[i].data(), static_cast<uint32_t>(memory[i].size())};
        device.Prepare(&buffers[i]);
        device.AddBuffer(&buffers[i]);
    }
    ASSERT_EQ(device.Start(), WaveResult::Ok);

    // Nothing arrives while the clock stands still.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(blocks.full.empty());

    adapter.AdvanceClock(200); // two blocks of an on-hook line
    ASSERT_TRUE(blocks.WaitFor(2));
    ASSERT_TRUE(line.OffHook());
    adapter.AdvanceClock(1000); // the answer delay
    ASSERT_TRUE(blocks.WaitFor(12));
    adapter.AdvanceClock(300); // 300 ms of the 350 ms tone
    ASSERT_TRUE(blocks.WaitFor(15));

    // Unplugged, the adapter's audio is gone: nothing arrives, and it is no
    // longer listed; plugged again, capture goes on.
    adapter.Unplug();
    EXPECT_EQ(FindAudioInputDevice("Tarnbox"), AudioInputDeviceNames().empty() ? -2 : -1);
    adapter.AdvanceClock(500);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        std::lock_guard<std::mutex> lock(blocks.mutex);
        EXPECT_EQ(blocks.full.size(), 15u);
    }
    adapter.Replug();
    adapter.AdvanceClock(100);
    ASSERT_TRUE(blocks.WaitFor(16));
    device.Reset();
    device.Close();

    std::lock_guard<std::mutex> lock(blocks.mutex);
    for (size_t b = 0; b < 12; ++b)
        EXPECT_EQ(Peak(blocks.full[b], 0, 4800), 0) << b;
    for (size_t b = 12; b < 15; ++b) {
        EXPECT_NEAR(Peak(blocks.full[b], 0, 4800), 3277, 2) << b;
        EXPECT_NEAR(StrongestFrequency(Left(blocks.full[b], 0, 4096)), 450, 12) << b;
    }
    // The tone runs on across the blocks without a break.
    const auto& a = blocks.full[12];
    const auto& b = blocks.full[13];
    const double step = 2 * std::numbers::pi * 450 / 48000;
    const double expected = 3277 * std::sin(std::asin(std::clamp(a[2 * 4799] / 3277.0, -1.0, 1.0)) + step);
    EXPECT_LT(std::abs(std::abs(b[0]) - std::abs(expected)), 200);
}

TEST(VirtualAudioDevice, RealTimeCaptureFindsTheChineseBusyToneAt451Hz)
{
    VirtualAdapterDevice& adapter = ChooseAdapterPreset("cn");
    (void)adapter;
    LineThroughFxo line;
    ASSERT_TRUE(line.Open());

    const std::string savedName = GetAudioDeviceName();
    const int32_t savedBytes = CaptureBlockBytes;
    SetAudioDeviceName("Tarnbox");
    CaptureBlockBytes = 32768;

    MemoryAnalysisOutput output;
    output.analysing = false;
    SpectrumAnalysis analysis;
    analysis.SetOutput(&output);
    std::atomic<int> blocksSeen{0};
    BlockQueueReceiver receiver([&](const int16_t* samples, int32_t bytes) {
        ++blocksSeen;
        analysis.AnalyseStereoBlock(samples, bytes);
    });

    // Answer, then listen as the program does: analysing from a second after off-hook on.
    ASSERT_TRUE(line.OffHook());
    const auto start = std::chrono::steady_clock::now();
    auto engine = std::make_unique<CAudioEngine>(&receiver);
    analysis.SetTimer(&engine->Timer()); // before the analysis thread takes its blocks
    SetCurrentAudioEngine(engine.get());
    ASSERT_TRUE(engine->Recorder().IsRecording());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    output.analysing = true; // read by the analysis thread only after the queue hand-over
    std::this_thread::sleep_for(std::chrono::milliseconds(2600));
    const int delivered = blocksSeen.load();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    engine->SetState(CAudioEngine::kStopInput);
    receiver.WaitIdle();
    line.OnHook();
    SetCurrentAudioEngine(nullptr);
    engine.reset();
    SetAudioDeviceName(savedName);
    CaptureBlockBytes = savedBytes;

    // Blocks come at the line's pace: each one is 8192 frames, 170.67 ms.
    EXPECT_GE(delivered, 10);
    const double elapsedMs = std::chrono::duration<double, std::milli>(elapsed).count();
    EXPECT_LE(delivered * 170.67, elapsedMs + 1);
    ASSERT_GT(output.frequencies.GetCount(), 0);
    int top = 0;
    for (int row = 1; row < output.frequencies.GetCount(); ++row)
        if (output.frequencies.GetItemData(row) > output.frequencies.GetItemData(top))
            top = row;
    EXPECT_EQ(output.frequencies.GetText(top), "451 Hz");
    EXPECT_GE(output.frequencies.GetItemData(top), 5);
}
