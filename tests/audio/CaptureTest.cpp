#include "audio/AudioEngine.h"
#include "audio/AudioGlobals.h"
#include "audio/AudioMessages.h"
#include "audio/BlockQueueReceiver.h"
#include "i18n/AudioDeviceName.h"
#include "tests/audio/FakeAudioBackend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace parvane;
using parvane::test::FakeAudioBackend;
using parvane::test::ScopedAudioBackends;

namespace {

// Records the blocks an engine hands over.
struct RecordingReceiver final : AudioBlockReceiver {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<const int16_t*, int32_t>> blocks;

    void PostAudioInBlock(uint64_t, const int16_t* samples, int32_t bytes) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        blocks.emplace_back(samples, bytes);
        changed.notify_all();
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return blocks.size();
    }
    bool WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return blocks.size() >= count; });
    }
};

// Collects the message boxes instead of showing them.
struct Messages {
    std::vector<AudioMessage> shown;
    Messages()
    {
        SetAudioMessageHandler([this](const AudioMessage& message) { shown.push_back(message); });
    }
    ~Messages() { SetAudioMessageHandler({}); }
};

struct Globals {
    std::string name = GetAudioDeviceName();
    int32_t bytes = CaptureBlockBytes;
    Globals(const std::string& device, int32_t block)
    {
        SetAudioDeviceName(device);
        CaptureBlockBytes = block;
    }
    ~Globals()
    {
        SetAudioDeviceName(name);
        CaptureBlockBytes = bytes;
    }
};

std::vector<int16_t> Frames(size_t frames, int16_t value)
{
    return std::vector<int16_t>(frames * 2, value);
}

} // namespace

TEST(RecordIn, DeviceSearchGivesMinusTwoMinusOneAndTheFirstMatch)
{
    FakeAudioBackend backend;
    ScopedAudioBackends installed({&backend});
    EXPECT_EQ(CRecordIn::FindDeviceByName("Tarnbox"), -2);
    backend.inputs = {"HDA Intel PCH: ALC892 Analog (hw:0,0)"};
    EXPECT_EQ(CRecordIn::FindDeviceByName("Tarnbox"), -1);
    backend.inputs.push_back("Tarnbox USB Audio: - (hw:1,0)");
    backend.inputs.push_back("Tarnbox USB Audio (virtual)");
    EXPECT_EQ(CRecordIn::FindDeviceByName("Tarnbox"), 1);
}

TEST(RecordIn, NoDeviceFailsToOpenWithItsMessage)
{
    FakeAudioBackend backend;
    ScopedAudioBackends installed({&backend});
    Globals globals("Tarnbox", 4096);
    Messages messages;
    RecordingReceiver receiver;
    CAudioEngine engine(&receiver); // starts capturing at once
    EXPECT_FALSE(engine.Recorder().IsRecording());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Fail to open device");
    EXPECT_EQ(engine.SetState(CAudioEngine::kStopInput), 0);
}

TEST(RecordIn, StartTwiceOpensOnceAndBlocksCycleThroughTheThreeBuffers)
{
    FakeAudioBackend backend;
    backend.inputs = {"Other card", "Tarnbox USB Audio (virtual)"};
    ScopedAudioBackends installed({&backend});
    Globals globals("Tarnbox", 1024); // 256 frames a block
    Messages messages;
    RecordingReceiver receiver;
    CAudioEngine engine(&receiver);
    EXPECT_EQ(engine.State(), 0x10000u);
    EXPECT_TRUE(engine.Recorder().IsRecording());
    EXPECT_EQ(engine.SetState(CAudioEngine::kStartInput), 0); // already recording: no second open
    EXPECT_EQ(backend.captureOpens.load(), 1);
    EXPECT_TRUE(messages.shown.empty());

    for (int block = 0; block < 5; ++block)
        backend.Capture(Frames(256, static_cast<int16_t>(block + 1)));
    ASSERT_TRUE(receiver.WaitFor(5));
    const int16_t* buffers[3] = {reinterpret_cast<int16_t*>(engine.InputBuffer(0)),
                                 reinterpret_cast<int16_t*>(engine.InputBuffer(1)),
                                 reinterpret_cast<int16_t*>(engine.InputBuffer(2))};
    {
        std::lock_guard<std::mutex> lock(receiver.mutex);
        for (int block = 0; block < 5; ++block) {
            EXPECT_EQ(receiver.blocks[block].first, buffers[block % 3]) << block;
            EXPECT_EQ(receiver.blocks[block].second, 1024);
        }
    }
    EXPECT_EQ(buffers[0][0], 4); // buffer 0 was filled again by block 4
    EXPECT_EQ(engine.Recorder().LastIndex(), 1);

    // Half a block, then Stop: the short block is neither handed over nor queued again.
    backend.Capture(Frames(128, 9));
    EXPECT_EQ(engine.SetState(CAudioEngine::kStopInput), 1);
    EXPECT_EQ(engine.State(), 0u);
    EXPECT_EQ(receiver.Count(), 5u);
    EXPECT_FALSE(engine.Recorder().IsRecording());
    EXPECT_EQ(engine.SetState(CAudioEngine::kStopInput), 0); // not recording any more
}

TEST(RecordIn, BlocksCompletedAfterStopBeganAreDropped)
{
    FakeAudioBackend backend;
    backend.inputs = {"Tarnbox USB Audio (virtual)"};
    ScopedAudioBackends installed({&backend});
    Globals globals("Tarnbox", 1024);
    RecordingReceiver receiver;
    CAudioEngine engine(&receiver);
    backend.Capture(Frames(256, 1));
    ASSERT_TRUE(receiver.WaitFor(1));

    std::thread stopper([&] { engine.SetState(CAudioEngine::kStopAll); });
    while (engine.Recorder().IsRecording())
        std::this_thread::yield();
    // The recorder has cleared its flag and waits before stopping the device:
    // a block completing now is late.
    backend.Capture(Frames(256, 2));
    stopper.join();
    EXPECT_EQ(receiver.Count(), 1u);
}

TEST(RecordIn, AFailedStartKeepsTheFlagAndALaterStopClosesTheDevice)
{
    FakeAudioBackend backend;
    backend.inputs = {"Tarnbox USB Audio (virtual)"};
    backend.failStart = true;
    ScopedAudioBackends installed({&backend});
    Globals globals("Tarnbox", 2048);
    Messages messages;
    RecordingReceiver receiver;
    CAudioEngine engine(&receiver);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Fail to open device");
    EXPECT_TRUE(engine.Recorder().IsRecording());
    EXPECT_EQ(engine.SetState(CAudioEngine::kStopInput), 1);
    backend.failStart = false;
    EXPECT_EQ(engine.SetState(CAudioEngine::kStartInput), 1);
    EXPECT_EQ(backend.captureOpens.load(), 2);
}

TEST(AudioEngine, FormatsByRateIndexAndTheCurrentEngine)
{
    FakeAudioBackend backend;
    ScopedAudioBackends installed({&backend});
    Messages messages;
    RecordingReceiver receiver;
    {
        CAudioEngine engine(&receiver);
        EXPECT_EQ(engine.InputFormat().sampleRate, 48000u);
        EXPECT_EQ(engine.InputFormat().channels, 2);
        EXPECT_EQ(engine.InputFormat().BytesPerSecond(), 192000u);
        EXPECT_EQ(engine.InputBlockAlign(), 4u);
        const uint32_t rates[] = {48000, 44100, 32000, 24000, 16000, 8000};
        for (int index = 0; index < 6; ++index) {
            ASSERT_TRUE(engine.SetInputFormat(index));
            EXPECT_EQ(engine.InputFormat().sampleRate, rates[index]);
        }
        EXPECT_FALSE(engine.SetInputFormat(6));
        EXPECT_EQ(engine.InputFormat().sampleRate, 8000u);

        SetCurrentAudioEngine(&engine);
        EXPECT_EQ(CurrentAudioEngine(), &engine);
        EXPECT_EQ(CurrentAudioEngineSerial(), engine.Serial());
        CAudioEngine second(&receiver);
        EXPECT_NE(second.Serial(), engine.Serial());
    }
    // An engine that goes away stops being the current one.
    EXPECT_EQ(CurrentAudioEngine(), nullptr);
    EXPECT_EQ(CurrentAudioEngineSerial(), 0u);
}

TEST(PerformanceTimer, MeasuresAtLeastTheTimeWaited)
{
    CPerformanceTimer timer;
    timer.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double elapsed = timer.Stop();
    EXPECT_GE(elapsed, 0.019);
    EXPECT_DOUBLE_EQ(timer.LastElapsed(), elapsed);
}

TEST(BlockQueueReceiver, CopiesBlocksAndDropsThoseOfFormerEngines)
{
    FakeAudioBackend backend;
    ScopedAudioBackends installed({&backend});
    Messages messages;
    std::vector<int16_t> seen;
    BlockQueueReceiver receiver([&](const int16_t* samples, int32_t bytes) {
        EXPECT_EQ(bytes, 8);
        seen.push_back(samples[0]);
    });
    RecordingReceiver unused;
    CAudioEngine engine(&unused);
    SetCurrentAudioEngine(&engine);
    int16_t block[4] = {7, 0, 0, 0};
    receiver.PostAudioInBlock(engine.Serial(), block, 8);
    block[0] = 8; // the receiver kept its own copy
    receiver.PostAudioInBlock(engine.Serial() + 1000, block, 8);
    receiver.WaitIdle();
    EXPECT_EQ(seen, std::vector<int16_t>{7});
    EXPECT_EQ(receiver.HandledBlocks(), 2u);
    SetCurrentAudioEngine(nullptr);
}
