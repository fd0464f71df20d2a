#include "platform/WaveIn.h"
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

struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<uintptr_t, uint32_t>> data; // user word, bytes recorded
    int opens = 0;
    int closes = 0;
    bool requeue = true;

    bool WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return data.size() >= count; });
    }
};

void Callback(WaveIn* device, WaveInMessage message, void* instance, WaveBuffer* buffer)
{
    auto* received = static_cast<Received*>(instance);
    std::lock_guard<std::mutex> lock(received->mutex);
    if (message == WaveInMessage::Open)
        ++received->opens;
    else if (message == WaveInMessage::Close)
        ++received->closes;
    else {
        received->data.emplace_back(buffer->user, buffer->bytesRecorded);
        if (received->requeue && buffer->bytesRecorded == buffer->bufferLength)
            device->AddBuffer(buffer);
    }
    received->changed.notify_all();
}

std::vector<int16_t> Frames(size_t frames, int16_t first)
{
    std::vector<int16_t> samples(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        samples[2 * i] = static_cast<int16_t>(first + i);
        samples[2 * i + 1] = static_cast<int16_t>(-(first + i));
    }
    return samples;
}

} // namespace

TEST(DeviceSearch, EmptyListNoMatchAndFirstMatch)
{
    EXPECT_EQ(FindDeviceByNameIn({}, "Tarnbox"), -2);
    EXPECT_EQ(FindDeviceByNameIn({"HDA Intel PCH", "USB Mic"}, "Tarnbox"), -1);
    EXPECT_EQ(FindDeviceByNameIn({"HDA Intel", "DuoTarnbox USB Audio", "Tarnbox USB"}, "Tarnbox"), 1);
    // Case matters.
    EXPECT_EQ(FindDeviceByNameIn({"tarnbox usb"}, "Tarnbox"), -1);
}

TEST(DeviceSearch, FindsTheAdaptersCardAmongAlsaNames)
{
    // PortAudio's ALSA names: snd-usb-audio calls a card after the USB
    // product string, "<product>: USB Audio (hw:N,0)".
    const std::vector<std::string> names = {"HDA Intel PCH: ALC892 Analog (hw:0,0)",
                                            "HDA Intel PCH: ALC892 Digital (hw:0,1)",
                                            "Quillbox: USB Audio (hw:1,0)",
                                            "Tarnbox: USB Audio (hw:2,0)",
                                            "sysdefault", "default", "dmix"};
    EXPECT_EQ(FindDeviceByNameIn(names, "Tarnbox"), 3);
    EXPECT_EQ(FindDeviceByNameIn(names, "Quillbox"), 2);
    EXPECT_EQ(FindDeviceByNameIn(names, "DuoTarnbox"), -1);
}

TEST(DeviceSearch, CombinedListsSpanBackends)
{
    FakeAudioBackend first, second;
    first.inputs = {"Card A"};
    second.inputs = {"Card B", "Tarnbox USB Audio"};
    second.outputs = {"Tarnbox USB Audio"};
    ScopedAudioBackends installed({&first, &second});
    EXPECT_EQ(AudioInputDeviceNames().size(), 3u);
    EXPECT_EQ(FindAudioInputDevice("Tarnbox"), 2);
    EXPECT_EQ(FindAudioOutputDevice("Tarnbox"), 0);
    EXPECT_EQ(FindAudioOutputDevice("Card"), -1);
}

TEST(WaveInCycle, FillsBuffersInOrderAndRequeues)
{
    FakeAudioBackend backend;
    backend.inputs = {"Tarnbox USB Audio"};
    ScopedAudioBackends installed({&backend});

    Received received;
    WaveIn device;
    ASSERT_EQ(device.Open(0, AudioFormat{}, &Callback, &received), WaveResult::Ok);
    EXPECT_EQ(received.opens, 1);

    std::vector<uint8_t> memory[3];
    WaveBuffer buffers[3];
    for (int i = 0; i < 3; ++i) {
        memory[i].assign(64, 0); // 16 frames each
        buffers[i].data = memory[i].data();
        buffers[i].bufferLength = 64;
        buffers[i].user = i;
        ASSERT_EQ(device.AddBuffer(&buffers[i]), WaveResult::Unprepared);
        ASSERT_EQ(device.Prepare(&buffers[i]), WaveResult::Ok);
        ASSERT_EQ(device.AddBuffer(&buffers[i]), WaveResult::Ok);
    }
    ASSERT_EQ(device.Start(), WaveResult::Ok);
    // 40 frames in odd pieces: buffers 0 and 1 fill, buffer 2 gets 8 frames.
    backend.Capture(Frames(7, 0));
    backend.Capture(Frames(33, 7));
    ASSERT_TRUE(received.WaitFor(2));
    {
        std::lock_guard<std::mutex> lock(received.mutex);
        EXPECT_EQ(received.data[0], std::make_pair(uintptr_t{0}, 64u));
        EXPECT_EQ(received.data[1], std::make_pair(uintptr_t{1}, 64u));
    }
    const int16_t* second = reinterpret_cast<const int16_t*>(memory[1].data());
    EXPECT_EQ(second[0], 16);
    EXPECT_EQ(second[1], -16);
    EXPECT_EQ(second[30], 31);

    // Buffers 0 and 1 went back in the queue behind 2: 24 more frames fill 2 and 0.
    backend.Capture(Frames(24, 40));
    ASSERT_TRUE(received.WaitFor(4));
    {
        std::lock_guard<std::mutex> lock(received.mutex);
        EXPECT_EQ(received.data[2].first, 2u);
        EXPECT_EQ(received.data[3].first, 0u);
    }
    EXPECT_EQ(reinterpret_cast<const int16_t*>(memory[2].data())[0], 32);

    // Stop hands back the buffer being filled, partly filled.
    backend.Capture(Frames(4, 64));
    ASSERT_TRUE(received.WaitFor(4));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(device.Stop(), WaveResult::Ok);
    {
        std::lock_guard<std::mutex> lock(received.mutex);
        ASSERT_EQ(received.data.size(), 5u);
        EXPECT_EQ(received.data[4], std::make_pair(uintptr_t{1}, 16u));
    }
    EXPECT_EQ(device.Close(), WaveResult::StillQueued);
    ASSERT_EQ(device.Reset(), WaveResult::Ok);
    {
        std::lock_guard<std::mutex> lock(received.mutex);
        // Reset hands back the two empty buffers still queued, in queue order.
        ASSERT_EQ(received.data.size(), 7u);
        EXPECT_EQ(received.data[5], std::make_pair(uintptr_t{2}, 0u));
        EXPECT_EQ(received.data[6], std::make_pair(uintptr_t{0}, 0u));
    }
    EXPECT_EQ(device.Close(), WaveResult::Ok);
    EXPECT_EQ(received.closes, 1);
    EXPECT_FALSE(device.IsOpen());
}

TEST(WaveInCycle, RefusesBadDevicesFormatsAndBuffers)
{
    FakeAudioBackend backend;
    backend.inputs = {"Tarnbox USB Audio"};
    ScopedAudioBackends installed({&backend});
    WaveIn device;
    EXPECT_EQ(device.Open(1, AudioFormat{}, nullptr, nullptr), WaveResult::BadDeviceId);
    EXPECT_EQ(device.Open(-1, AudioFormat{}, nullptr, nullptr), WaveResult::BadDeviceId);
    AudioFormat eightBit;
    eightBit.bitsPerSample = 8;
    EXPECT_EQ(device.Open(0, eightBit, nullptr, nullptr), WaveResult::BadFormat);
    EXPECT_EQ(device.Start(), WaveResult::InvalidHandle);

    ASSERT_EQ(device.Open(0, AudioFormat{}, nullptr, nullptr), WaveResult::Ok);
    uint8_t memory[6];
    WaveBuffer odd{memory, 6};
    ASSERT_EQ(device.Prepare(&odd), WaveResult::Ok);
    EXPECT_EQ(device.AddBuffer(&odd), WaveResult::InvalidParameter); // not whole frames
    backend.failStart = true;
    EXPECT_EQ(device.Start(), WaveResult::DeviceFailed);
    EXPECT_EQ(device.LastError(), "start refused");
    EXPECT_EQ(device.Close(), WaveResult::Ok);
}
