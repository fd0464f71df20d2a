// Whatever a USB host could do to the twin as a USB device: any setup packet
// on endpoint 0 with any data (a wLength that disagrees with the data too),
// configurations and alternate settings in any order, the HID interface
// opened and closed, the iso streams run, the clock moved on, bus resets.
// The device answers within what the host asked for, describes itself
// consistently, and its streams keep their packet size.
#include "vadapter/VirtualAdapterDevice.h"
#include "vadapter/twin/UsbAdapterDevice.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint16_t Word()
    {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
};

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// What every answer must be, whatever was asked.
void CheckAnswer(const parvane::UsbSetup& setup, bool ok, const std::vector<uint8_t>& in)
{
    Check(in.size() <= setup.length);
    if (!ok || setup.requestType != 0x80 || setup.request != 0x06)
        return;
    const uint8_t type = static_cast<uint8_t>(setup.value >> 8);
    if (type == 0x01 && setup.length >= 18)
        Check(in.size() == 18 && in[0] == 18 && in[1] == 0x01);
    if (type == 0x02 && in.size() >= 4) {
        // The configuration's total length is what the whole of it is.
        const size_t total = static_cast<size_t>(in[2] | in[3] << 8);
        Check(in[1] == 0x02 && (setup.length >= total ? in.size() == total : in.size() == setup.length));
    }
    if (type == 0x03 && !in.empty())
        Check(in[0] == in.size() || in.size() == setup.length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    parvane::Scenario scenario;
    scenario.ringDelayMs = 0;
    parvane::VirtualAdapterDevice adapter(scenario);
    adapter.UseManualClock();
    Input input{data, size};
    const uint8_t shape = input.Byte();
    parvane::UsbIdentity identity{scenario.vendorId, scenario.productId, scenario.model, "1",
                                  (shape & 1) != 0, (shape & 2) == 0, static_cast<size_t>(shape >> 2)};
    parvane::UsbAdapterDevice device(adapter, identity);

    while (input.More()) {
        switch (input.Byte() % 8) {
        case 0:
        case 1:
        case 2: { // a control transfer: the setup packet, then the data that came with it
            parvane::UsbSetup setup;
            setup.requestType = input.Byte();
            setup.request = input.Byte();
            setup.value = input.Word();
            setup.index = input.Word();
            setup.length = input.Word();
            std::vector<uint8_t> out(input.Byte() % 72);
            for (uint8_t& byte : out)
                byte = input.Byte();
            std::vector<uint8_t> in{0xEE};
            const bool ok = device.Control(setup, out, in);
            CheckAnswer(setup, ok, in);
            break;
        }
        case 3:
            device.SetConfiguration(input.Byte() % 3);
            break;
        case 4: {
            const uint8_t number = input.Byte() % 8;
            device.SetAltSetting(number, input.Byte() % 3);
            break;
        }
        case 5: { // the interrupt endpoint starts or stops (hidraw opened or closed)
            const uint8_t endpoint = input.Byte();
            device.InterruptReceiving(endpoint, (endpoint & 1) != 0);
            break;
        }
        case 6: { // the streams run a while, the clock moves on
            const uint8_t count = input.Byte();
            if (count & 1)
                device.StartLineStream();
            for (int i = 0; i < count % 8; ++i)
                Check(device.NextLinePacket().size() == parvane::UsbAdapterDevice::kBytesPerPacket);
            std::vector<uint8_t> played(input.Byte() % 200);
            for (uint8_t& byte : played)
                byte = input.Byte();
            if (count & 2)
                device.StartPlayback();
            device.TakePlayback(played.data(), played.size());
            if (count & 4)
                device.StopPlayback();
            Check(device.PlaybackPeak() >= 0 && device.PlaybackPeak() <= 32768);
            adapter.AdvanceClock(static_cast<uint64_t>(input.Byte()) * 100);
            break;
        }
        default:
            device.Reset();
            Check(device.Configuration() == 0 && device.Endpoints().empty());
            break;
        }
        Check(device.Configuration() != 0 || device.Endpoints().empty());
    }
    return 0;
}
