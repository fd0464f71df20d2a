// The twin as a USB device, driven with the requests the kernel's drivers
// send on endpoint 0: what enumeration shows (ids, the model name as the
// product string, the HID and audio interfaces), the feature reports as
// usbhid frames them (no report id on the wire), the audio class's sampling
// frequency and the line audio's isochronous packets.
#include "platform/AdapterNodes.h"
#include "tests/support/CapturedStderr.h"
#include "vadapter/VirtualAdapterDevice.h"
#include "vadapter/twin/UsbAdapterDevice.h"

#include <gtest/gtest.h>

namespace parvane {
namespace {

class UsbAdapterDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(LoadScenario("cn", scenario, error)) << error;
        scenario.productId = 0x2110;
        adapter.Reset(scenario);
    }

    static std::vector<uint8_t> In(UsbAdapterDevice& device, uint8_t type, uint8_t request, uint16_t value,
                                   uint16_t index, uint16_t length, bool expectOk = true)
    {
        std::vector<uint8_t> in;
        EXPECT_EQ(device.Control({type, request, value, index, length}, {}, in), expectOk)
            << "request " << int(request) << " value " << value;
        return in;
    }
    static bool Out(UsbAdapterDevice& device, uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                    std::vector<uint8_t> data)
    {
        std::vector<uint8_t> in;
        return device.Control({type, request, value, index, static_cast<uint16_t>(data.size())}, data, in);
    }
    static std::string Text(const std::vector<uint8_t>& descriptor)
    {
        std::string text;
        for (size_t i = 2; i + 1 < descriptor.size(); i += 2)
            text += static_cast<char>(descriptor[i]);
        return text;
    }
    // The serial number's EEPROM read, as hidraw's 9-byte buffers reach the
    // device through usbhid: 8 bytes each way, report id 0 left off.
    std::vector<uint8_t> ReadSerial(UsbAdapterDevice& device, uint8_t interfaceNumber, uint16_t length = 8)
    {
        EXPECT_TRUE(Out(device, 0x21, 0x09, 0x0300, interfaceNumber, {243, 0, 237, 30, 0, 0, 0, 0}));
        return In(device, 0xA1, 0x01, 0x0300, interfaceNumber, length);
    }

    VirtualAdapterDevice adapter{Scenario()};
};

TEST_F(UsbAdapterDeviceTest, EnumeratesAsTheAdapterWithItsHidAndAudioInterfaces)
{
    UsbAdapterDevice device(adapter, {0x1234, 0x2110, "Tarnbox", "00:11:22:33:44:55"});
    const auto deviceDescriptor = In(device, 0x80, 0x06, 0x0100, 0, 18);
    ASSERT_EQ(deviceDescriptor.size(), 18u);
    EXPECT_EQ(deviceDescriptor[8] | deviceDescriptor[9] << 8, 0x1234);
    EXPECT_EQ(deviceDescriptor[10] | deviceDescriptor[11] << 8, 0x2110);
    EXPECT_EQ(Text(In(device, 0x80, 0x06, 0x0300 | deviceDescriptor[15], 0x0409, 255)), "Tarnbox");
    EXPECT_EQ(Text(In(device, 0x80, 0x06, 0x0300 | deviceDescriptor[16], 0x0409, 255)), "00:11:22:33:44:55");

    // The host reads the configuration's first 9 bytes, then all of it.
    const auto head = In(device, 0x80, 0x06, 0x0200, 0, 9);
    ASSERT_EQ(head.size(), 9u);
    const uint16_t total = static_cast<uint16_t>(head[2] | head[3] << 8);
    const auto configuration = In(device, 0x80, 0x06, 0x0200, 0, total);
    ASSERT_EQ(configuration.size(), total);
    int interfaces = 0, hidInterrupt = 0, isoAdaptiveOut = 0, isoAsyncIn = 0, rates48k = 0;
    for (size_t at = 0; at + 1 < configuration.size(); at += configuration[at]) {
        ASSERT_GT(configuration[at], 0) << "a zero-length descriptor at " << at;
        const uint8_t* d = &configuration[at];
        interfaces += d[1] == 0x04 && d[3] == 0;
        hidInterrupt += d[1] == 0x05 && d[2] == 0x81 && (d[3] & 3) == 3;
        isoAdaptiveOut += d[1] == 0x05 && d[2] < 0x80 && d[3] == 0x09;
        isoAsyncIn += d[1] == 0x05 && d[2] >= 0x80 && d[3] == 0x05;
        rates48k += d[1] == 0x24 && d[2] == 0x02 && d[4] == 2 && d[6] == 16 && (d[8] | d[9] << 8 | d[10] << 16) == 48000;
    }
    EXPECT_EQ(interfaces, head[4]);
    EXPECT_EQ(interfaces, 4);
    EXPECT_EQ(hidInterrupt, 1);
    EXPECT_EQ(isoAdaptiveOut, 1);
    EXPECT_EQ(isoAsyncIn, 1);
    EXPECT_EQ(rates48k, 2);
    EXPECT_TRUE(DescriptorHasFeatureReport(In(device, 0x81, 0x06, 0x2200, 0, 255), 8));

    // Audio endpoints exist only in alternate setting 1 of a configured device.
    EXPECT_FALSE(device.SetAltSetting(3, 1));
    ASSERT_TRUE(device.SetConfiguration(1));
    EXPECT_EQ(device.Endpoints().size(), 1u);
    ASSERT_TRUE(device.SetAltSetting(3, 1));
    ASSERT_TRUE(device.SetAltSetting(2, 1));
    EXPECT_EQ(device.Endpoints().size(), 3u);
    EXPECT_FALSE(device.SetAltSetting(3, 2));
}

TEST_F(UsbAdapterDeviceTest, FeatureReportsReachTheRegistersAsUsbhidFramesThem)
{
    UsbAdapterDevice device(adapter, {0x1234, 0x2110, "Tarnbox", ""});
    ASSERT_TRUE(device.SetConfiguration(1));
    EXPECT_TRUE(Out(device, 0x21, 0x0A, 0, 0, {})) << "SET_IDLE, which usbhid sends first";
    const auto serial = ReadSerial(device, 0);
    ASSERT_EQ(serial.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(serial.begin(), serial.begin() + 6),
              (std::vector<uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    // An input report or a report id the adapter lacks is refused.
    EXPECT_FALSE(Out(device, 0x21, 0x09, 0x0200, 0, {243, 0, 237, 30, 0, 0, 0, 0}));
    EXPECT_FALSE(Out(device, 0x21, 0x09, 0x0301, 0, {243, 0, 237, 30, 0, 0, 0, 0}));
    EXPECT_EQ(device.ReportsServed(), 2);

    // Short replies lose the last byte; a long one cannot pass what the host asked for.
    UsbAdapterDevice shortDevice(adapter, {0x1234, 0x2110, "Tarnbox", "", false, true, 8});
    EXPECT_EQ(ReadSerial(shortDevice, 0).size(), 7u);
    UsbAdapterDevice longDevice(adapter, {0x1234, 0x2110, "Tarnbox", "", false, true, 10});
    EXPECT_EQ(ReadSerial(longDevice, 0).size(), 8u);
    EXPECT_EQ(ReadSerial(longDevice, 0, 9).size(), 9u);

    // A composite device: the first HID interface has no feature report and
    // stays off the registers; the adapter's is the second.
    UsbAdapterDevice composite(adapter, {0x1234, 0x2110, "Tarnbox", "", true});
    EXPECT_FALSE(DescriptorHasFeatureReport(In(composite, 0x81, 0x06, 0x2200, 0, 255), 8));
    EXPECT_FALSE(Out(composite, 0x21, 0x09, 0x0300, 0, {243, 0, 237, 30, 0, 0, 0, 0}));
    EXPECT_EQ(ReadSerial(composite, 1)[1], 0x11);
    EXPECT_EQ(composite.Interfaces().size(), 5u);
}

TEST_F(UsbAdapterDeviceTest, AudioRunsAt48kHzAndCarriesTheLineAndThePlayback)
{
    UsbAdapterDevice device(adapter, {0x1234, 0x2110, "Tarnbox", ""});
    ASSERT_TRUE(device.SetConfiguration(1));
    const uint8_t in = UsbAdapterDevice::kLineInEndpoint;
    EXPECT_TRUE(Out(device, 0x22, 0x01, 0x0100, in, {0x80, 0xBB, 0x00}));
    EXPECT_EQ(In(device, 0xA2, 0x81, 0x0100, in, 3), (std::vector<uint8_t>{0x80, 0xBB, 0x00}));
    EXPECT_FALSE(Out(device, 0x22, 0x01, 0x0100, in, {0x44, 0xAC, 0x00})) << "44100 Hz is not the adapter's";
    EXPECT_EQ(device.SamplingFrequency(in), 48000u);

    device.StartLineStream();
    const auto packet = device.NextLinePacket();
    ASSERT_EQ(packet.size(), 288u) << "72 stereo frames of 16 bits, 1.5 ms";
    EXPECT_EQ(std::count(packet.begin(), packet.end(), 0), 288) << "an on-hook line is silent";

    device.StartPlayback();
    const std::vector<uint8_t> loud = {0x00, 0x40, 0x00, 0x40};
    device.TakePlayback(loud.data(), loud.size());
    device.TakePlayback(loud.data(), loud.size());
    device.StopPlayback();
    EXPECT_EQ(device.Playbacks(), 1);
    EXPECT_EQ(device.PlaybackPeak(), 0x4000);
}

TEST_F(UsbAdapterDeviceTest, LogsTheAnswerAfterTheRingAndTheBusiestSecondOfReports)
{
    adapter.UseManualClock(50000);
    test::CapturedStderr captured;
    {
        UsbAdapterDevice device(adapter, {0x1234, 0x2110, "Tarnbox", ""});
        ASSERT_TRUE(device.SetConfiguration(1));
        adapter.AdvanceClock(500);
        device.InterruptReceiving(0x81, true); // hidraw opened: the call rings 1 s later (cn: 1000 on, 4000 off)
        // Five exchanges, three more 999 ms on: eight within one second;
        // one more a millisecond later leaves the first five behind.
        const std::vector<uint8_t> readLine = {243, 0, 237, 10, 0, 0, 0, 0};
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(Out(device, 0x21, 0x09, 0x0300, 0, readLine));
        adapter.AdvanceClock(999);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(Out(device, 0x21, 0x09, 0x0300, 0, readLine));
        adapter.AdvanceClock(1);
        ASSERT_TRUE(Out(device, 0x21, 0x09, 0x0300, 0, readLine));
        EXPECT_EQ(device.BusiestSecondExchanges(), 8);

        // Answered in the second cycle, 1500 ms after its burst ended.
        adapter.AdvanceClock(1000 + 5000 + 1000 + 1500 - 1000);
        ASSERT_TRUE(Out(device, 0x21, 0x09, 0x0300, 0, {243, 4, 237, 25, 0x20, 5, 0x01, 0x61}));
        ASSERT_TRUE(adapter.IsOffHook());
        EXPECT_EQ(adapter.OffHookSinceMs() - adapter.LastRingEndMs(), 1500u);
        device.InterruptReceiving(0x81, false);
    }
    EXPECT_TRUE(captured.Contains("off-hook (answered) at 9000 ms, 1500 ms after the last ring burst ended at 7500 ms"));
    EXPECT_TRUE(captured.Contains("the HID interface closed after 10 feature-report exchanges in 8500 ms, at most 8 "
                                  "in one second"));
    EXPECT_EQ(captured.Count("feature-report exchanges"), 1) << "logged once, at the close";
}

} // namespace
} // namespace parvane
