// Any sequence of feature-report exchanges with the virtual adapter, as the
// line-device library (or a faulty one) could send them. The input is read
// as commands: the low two bits of a command byte choose a framed report, a
// report of any bytes and length, a read back, or time passing.
#include "vadapter/VirtualAdapterDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_position >= m_size; }
    uint8_t Next() { return Empty() ? 0 : m_data[m_position++]; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    parvane::Scenario scenario;
    scenario.ringDelayMs = 0;
    scenario.phoneOffHookMs = 0;
    scenario.phoneDigits = "1#";
    parvane::VirtualAdapterDevice adapter(scenario);
    adapter.UseManualClock();
    const int handle = adapter.Open(scenario.vendorId, scenario.productId);
    if (handle <= 0)
        __builtin_trap();

    Input input(data, size);
    int error = 0;
    while (!input.Empty()) {
        const uint8_t command = input.Next();
        std::array<uint8_t, 16> report{};
        switch (command & 3) {
        case 0: // a report framed as the controller takes it: kind, register, four bytes
            report[1] = 243;
            report[2] = input.Next();
            report[3] = 237;
            for (size_t i = 4; i < 9; ++i)
                report[i] = input.Next();
            adapter.SendFeatureReport(handle, report.data(), 9, error);
            break;
        case 1: { // anything at all, of any length up to 16 bytes
            const size_t length = (command >> 2) % (report.size() + 1);
            for (size_t i = 0; i < length; ++i)
                report[i] = input.Next();
            adapter.SendFeatureReport(handle, report.data(), length, error);
            break;
        }
        case 2:
            adapter.GetFeatureReport(handle, report.data(), (command & 4) ? 9 : (command >> 3), error);
            break;
        case 3:
            adapter.AdvanceClock(static_cast<uint64_t>(input.Next()) * 20);
            break;
        }
    }

    // What a test or the audio side would look at afterwards.
    adapter.IsOffHook();
    adapter.RingSignal();
    adapter.Pcm();
    std::vector<int16_t> audio(2 * 64);
    adapter.RenderLineAudio(audio.data(), 64, 0);
    adapter.Close(handle);
    return 0;
}
