#include "audio/AudioMessages.h"
#include "display/WaveBox.h"
#include "display/WaveNotifyEvent.h"
#include "platform/DebugPrint.h"
#include "tests/audio/FakeAudioBackend.h"
#include "tests/audio/VirtualAdapterAudio.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace parvane;
using namespace parvane::test;

namespace {

std::string WriteWave(const std::string& name, int rate, int frames)
{
    const std::string path = testing::TempDir() + name;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<short> samples(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        samples[static_cast<size_t>(i)] = static_cast<short>(i * 7);
    sf_writef_short(file, samples.data(), frames);
    sf_close(file);
    return path;
}

struct Notices final : WaveBoxNotify {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, uint32_t>> received;
    void OnWaveNotify(int flag, uint32_t id) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.emplace_back(flag, id);
        changed.notify_all();
    }
    bool WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return received.size() >= count; });
    }
};

struct Traces {
    std::vector<std::string> lines;
    std::mutex mutex;
    Traces()
    {
        SetDebugSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(line);
        });
    }
    ~Traces() { SetDebugSink({}); }
    bool Has(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& line : lines)
            if (line == text)
                return true;
        return false;
    }
};

struct Boxes {
    std::vector<AudioMessage> shown;
    Boxes()
    {
        SetAudioMessageHandler([this](const AudioMessage& message) { shown.push_back(message); });
    }
    ~Boxes() { SetAudioMessageHandler({}); }
};

} // namespace

TEST(WaveBox, PlaysAFileOnTheAdaptersOutputWithItsCompletionNotice)
{
    VirtualAdapterDevice& adapter = ChooseAdapterPreset("cn");
    const std::string path = WriteWave("notice.wav", 8000, 1600); // 200 ms
    Traces traces;
    Boxes boxes;
    Notices notices;
    CWaveBox box;
    EXPECT_EQ(box.SetAudioOut("Tarnbox"), 0);
    EXPECT_TRUE(traces.Has("SetAudioOut:find audio device"));
    box.SetNotify(&notices);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(box.PlayWave(path.c_str()), 0);
    const uint32_t id = box.FileDeviceId();
    EXPECT_NE(id, 0u);
    ASSERT_TRUE(notices.WaitFor(1));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
    EXPECT_EQ(notices.received[0], std::make_pair(kWaveNotifySuccessful, id));
    EXPECT_EQ(box.Close(), 0);
    EXPECT_EQ(box.FileDeviceId(), 0u);
    EXPECT_TRUE(boxes.shown.empty());
    for (const char* line : {"PlayWave:1", "PlayWave:2", "PlayWave:3", "PlayWave return",
                             "********PlayWave:mciSendCommand:m_hParent != NULL *********",
                             "********PlayWave:mciSendCommand:command = MCI_PLAY,flag = MCI_NOTIFY *********"})
        EXPECT_TRUE(traces.Has(line)) << line;
    EXPECT_TRUE(traces.Has(box.Alias()));

    const auto played = adapter.Playbacks();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].sampleRate, 8000u);
    EXPECT_EQ(played[0].channels, 1);
    ASSERT_EQ(played[0].samples.size(), 1600u);
    EXPECT_EQ(played[0].samples[1599], static_cast<int16_t>(1599 * 7));
    EXPECT_TRUE(played[0].finished);
}

TEST(WaveBox, PlaysSynchronouslyAndClosesByItself)
{
    VirtualAdapterDevice& adapter = ChooseAdapterPreset("cn");
    const std::string path = WriteWave("sync.wav", 48000, 2400);
    Traces traces;
    CWaveBox box;
    ASSERT_EQ(box.SetAudioOut("USB Audio (virtual)"), 0);
    EXPECT_EQ(box.PlayWave(path.c_str()), 0);
    EXPECT_EQ(box.FileDeviceId(), 0u);
    EXPECT_TRUE(traces.Has("Close wave device return 0"));
    EXPECT_TRUE(traces.Has("********PlayWave:mciSendCommand:command = MCI_PLAY,flag = MCI_WAIT *********"));
    EXPECT_EQ(adapter.Playbacks().size(), 1u);
    EXPECT_EQ(box.Close(), 0);
}

TEST(WaveBox, ClosingEarlyStopsThePlayAndReportsItAborted)
{
    ChooseAdapterPreset("cn");
    const std::string path = WriteWave("long.wav", 8000, 80000); // 10 s
    Notices notices;
    CWaveBox box;
    ASSERT_EQ(box.SetAudioOut("Tarnbox"), 0);
    box.SetNotify(&notices);
    ASSERT_EQ(box.PlayWave(path.c_str()), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(box.Close(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_TRUE(notices.WaitFor(1));
    EXPECT_EQ(notices.received[0].first, kWaveNotifyAborted);
}

TEST(WaveBox, ADeviceThatFailsWhilePlayingIsReportedAsAFailureNotAnAbort)
{
    FakeAudioBackend backend;
    backend.outputs = {"Tarnbox USB Audio"};
    backend.failPlayAfterFrames = 2048;
    ScopedAudioBackends installed({&backend});
    const std::string path = WriteWave("lost.wav", 8000, 8000);
    Notices notices;
    CWaveBox box;
    ASSERT_EQ(box.SetAudioOut("Tarnbox"), 0);
    box.SetNotify(&notices);
    ASSERT_EQ(box.PlayWave(path.c_str()), 0);
    ASSERT_TRUE(notices.WaitFor(1));
    EXPECT_EQ(notices.received[0].first, kWaveNotifyFailure);
    EXPECT_EQ(box.Close(), 0);
}

TEST(WaveBox, FailuresShowTheirTextAndLeaveNothingOpen)
{
    FakeAudioBackend backend;
    backend.outputs = {"Speakers", "Tarnbox USB Audio"};
    ScopedAudioBackends installed({&backend});
    Boxes boxes;
    CWaveBox box;
    EXPECT_EQ(box.SetAudioOut("Quillbox"), -1);
    EXPECT_EQ(box.SetAudioOut("Tarnbox"), 1);
    EXPECT_EQ(box.DeviceName(), "Tarnbox");
    EXPECT_EQ(box.PlayWave(nullptr), -1);
    EXPECT_TRUE(boxes.shown.empty());

    const std::string unknown = testing::TempDir() + "sound.xyz";
    EXPECT_EQ(box.PlayWave(unknown.c_str()), -1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "The file cannot be played: no audio format is known by its extension.");
    EXPECT_EQ(boxes.shown[0].caption, AudioMessageCaption::Application);
    EXPECT_EQ(box.Close(), 0); // nothing was opened

    const std::string missing = testing::TempDir() + "missing.wav";
    EXPECT_EQ(box.PlayWave(missing.c_str()), -1);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, "The file cannot be opened: it is missing, unreadable or not audio.");
    EXPECT_EQ(box.Close(), 0);

    EXPECT_EQ(CWaveBox::ErrorText(0), "Unknown Error");
    EXPECT_EQ(CWaveBox::ErrorText(12345), "Unknown Error");

    FakeAudioBackend empty;
    ScopedAudioBackends none({&empty});
    EXPECT_EQ(box.SetAudioOut("Tarnbox"), -1);
}

TEST(WaveBox, PlaysStartedInTheSameMillisecondGetTheirOwnAliases)
{
    FakeAudioBackend backend;
    backend.outputs = {"Tarnbox USB Audio"};
    ScopedAudioBackends installed({&backend});
    const std::string path = WriteWave("alias.wav", 8000, 8);
    CWaveBox first, second;
    first.SetAudioOut("Tarnbox");
    second.SetAudioOut("Tarnbox");
    ASSERT_EQ(first.PlayWave(path.c_str()), 0);
    ASSERT_EQ(second.PlayWave(path.c_str()), 0);
    EXPECT_NE(first.Alias(), second.Alias());
    EXPECT_EQ(first.Alias().rfind("Audio_", 0), 0u);
    EXPECT_EQ(first.Alias().size(), second.Alias().size());
}

TEST(WaveBox, TheNoticeReachesAQtObjectAsAnEvent)
{
    static int argc = 1;
    static char name[] = "display_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QCoreApplication(argc, argv);

    struct Receiver : QObject {
        int flag = 0;
        uint32_t id = 0;
        bool event(QEvent* event) override
        {
            if (event->type() != WaveNotifyEvent::EventType())
                return QObject::event(event);
            flag = static_cast<WaveNotifyEvent*>(event)->NotifyFlag();
            id = static_cast<WaveNotifyEvent*>(event)->FileDeviceId();
            return true;
        }
    } receiver;
    PostingWaveNotify notify(&receiver);
    std::thread player([&] { notify.OnWaveNotify(kWaveNotifySuccessful, 42); });
    player.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(receiver.flag, kWaveNotifySuccessful);
    EXPECT_EQ(receiver.id, 42u);
}
