#include "fxo/FxoLibrary.h"

#include "platform/DebugPrint.h"

#include <cerrno>

namespace fxo {

namespace {

constexpr size_t kReportLength = 9;

// The error code of a report with no device to go to: what the system's HID
// call gives for a missing handle.
#ifdef _WIN32
constexpr int kNoDeviceError = 6; // ERROR_INVALID_HANDLE
#else
constexpr int kNoDeviceError = ENODEV;
#endif

// Report kinds (byte 2).
constexpr uint8_t kReadOne = 0x00;
constexpr uint8_t kWriteOne = 0x01;
constexpr uint8_t kWriteFour = 0x04;

// Every report: report ID 0, then the two marker bytes around the kind.
std::array<uint8_t, kReportLength> Report(uint8_t kind, uint8_t reg, uint8_t d0 = 0, uint8_t d1 = 0, uint8_t d2 = 0,
                                          uint8_t d3 = 0)
{
    return {0x00, 243, kind, 237, reg, d0, d1, d2, d3};
}

long PortIndex()
{
    return static_cast<long>(State().portIndex);
}

// Sends one report; on failure remembers the error code and returns false.
bool Send(const std::array<uint8_t, kReportLength>& report, int& error)
{
    error = 0;
    if (!State().device) {
        error = kNoDeviceError;
        State().lastError = error;
        return false;
    }
    if (State().device->SendFeature(report.data(), report.size(), error))
        return true;
    State().lastError = error;
    return false;
}

bool Fetch(std::array<uint8_t, kReportLength>& reply, int& error)
{
    error = 0;
    reply.fill(0); // report ID 0 in byte 0
    if (State().device->GetFeature(reply.data(), reply.size(), error))
        return true;
    State().lastError = error;
    return false;
}

} // namespace

LibraryState& State()
{
    // One per loaded copy of the library file: each file has its own.
    static LibraryState state;
    return state;
}

void ClearSlicShadows()
{
    State().slicDirectShadow.fill(0);
    State().slicIndirectShadow.fill(0);
}

HidDevice* UsbHidOpen(uint16_t vendorId, uint16_t productId)
{
    LibraryState& state = State();
    DebugPrint("FXO:Vid = 0x%x,PID = 0x%x\n", vendorId, productId);

    std::string path;
    bool enumerationFailed = false;
    std::unique_ptr<HidDevice> opened = ChosenHidBackend().OpenFirst(vendorId, productId, path, enumerationFailed);
    if (enumerationFailed)
        DebugOutput("FXO: SetupDiGetClassDevs failed");
    const bool found = opened != nullptr;
    if (found) {
        DebugPrint("FXO:Vid = 0x%x,PID = 0x%x\n", vendorId, productId);
        DebugPrint("FXO:Find HW SymbolLink DeviceName:%s\n", path.c_str());
        state.candidate = std::move(opened);
    }

    if (state.plugged) {
        DebugOutput("UsbHidOpen: plug before = 1\n");
        if (found) {
            // Still there: keep the handle in use, drop the second one.
            DebugOutput("UsbHidOpen: plug now = 1\n");
            state.candidate.reset();
        } else {
            DebugOutput("UsbHidOpen: plug now = 0\n");
            state.plugged = false;
            ClearSlicShadows();
            state.device.reset();
            state.candidate.reset();
        }
    } else {
        DebugOutput("UsbHidOpen: plug before = 0\n");
        if (found) {
            DebugOutput("UsbHidOpen: plug now = 1\n");
            state.device = std::move(state.candidate);
            state.plugged = true;
        } else {
            DebugOutput("UsbHidOpen: plug now = 0\n");
            state.candidate.reset();
            state.device.reset();
            ClearSlicShadows();
        }
    }
    DebugPrint("DeviceHandle = 0x%x\n", state.device ? state.device->Handle() : 0u);
    return found ? state.device.get() : nullptr;
}

void CloseDevice()
{
    State().plugged = false;
    State().device.reset();
}

bool Write_BYTE(uint8_t reg, uint8_t value)
{
    LibraryState& state = State();
    if (!state.plugged)
        return false;
    if (reg == CTRL_SELECT)
        value &= 0xEF; // bit 4 is always sent as 0
    if (reg == CTRL_MODE && value == kResetCommand)
        state.selectShadow = kSelectAfterReset;
    bool sent = false;
    if (state.device) {
        int error = 0;
        sent = Send(Report(kWriteOne, reg, value), error);
        if (!sent)
            DebugPrint("[Write_BYTE(0x%x,0x%x)]HidD_SetFeature Failed!(error code = %ld)(index=%ld)", reg, value,
                       static_cast<long>(error), PortIndex());
    }
    // The shadow follows what the adapter holds: a lost select write leaves
    // the old routing in force, so the next chip selection writes again.
    if (reg == CTRL_SELECT && sent)
        state.selectShadow = value;
    return sent;
}

std::optional<uint8_t> ReadRegister(uint8_t reg)
{
    LibraryState& state = State();
    if (!state.plugged)
        return std::nullopt;
    std::optional<uint8_t> result;
    int error = 0;
    std::array<uint8_t, kReportLength> reply{};
    if (!Send(Report(kReadOne, reg), error)) {
        DebugPrint("[Read_BYTE(0x%x)]HidD_SetFeature Failed!(error code = %ld)(index=%ld)", reg,
                   static_cast<long>(error), PortIndex());
    } else if (!Fetch(reply, error)) {
        DebugPrint("[Read_BYTE(0x%x)]HidD_GetFeature Failed!(error code = %ld)(index=%ld)", reg,
                   static_cast<long>(error), PortIndex());
    } else {
        result = reply[1];
    }
    // A failed read tells nothing about the register: the shadow keeps what
    // was last known to be there rather than taking the failure value.
    if (reg == CTRL_SELECT && result)
        state.selectShadow = *result;
    return result;
}

uint8_t Read_BYTE(uint8_t reg)
{
    if (!State().plugged)
        return 0;
    return ReadRegister(reg).value_or(kFailedRead);
}

bool Write_4BYTE(uint8_t reg, const uint8_t data[4])
{
    if (!State().plugged || data == nullptr)
        return false;
    int error = 0;
    if (Send(Report(kWriteFour, reg, data[0], data[1], data[2], data[3]), error))
        return true;
    const unsigned long word = static_cast<unsigned long>(data[0]) | static_cast<unsigned long>(data[1]) << 8 |
                               static_cast<unsigned long>(data[2]) << 16 | static_cast<unsigned long>(data[3]) << 24;
    DebugPrint("[Write_4BYTE(0x%x,0x%lx)]HidD_SetFeature Failed!(error code = %ld)(index=%ld)", reg, word,
               static_cast<long>(error), PortIndex());
    return false;
}

bool GetSerial(uint8_t out[6])
{
    LibraryState& state = State();
    if (!state.plugged || !state.device || out == nullptr)
        return false;
    int error = 0;
    std::array<uint8_t, kReportLength> reply{};
    if (!Send(Report(kReadOne, CTRL_SERIAL), error)) {
        DebugPrint("[GetSerial]HidD_SetFeature Failed!(error code = %ld)(index=%ld)", static_cast<long>(error),
                   PortIndex());
    } else if (!Fetch(reply, error)) {
        DebugPrint("[GetSerial]HidD_GetFeature Failed!(error code = %ld)(index=%ld)", static_cast<long>(error),
                   PortIndex());
    } else {
        for (int i = 0; i < 6; ++i)
            out[i] = reply[static_cast<size_t>(i + 1)];
        return true;
    }
    // Callers tell a failed read by six bytes of the failure value.
    for (int i = 0; i < 6; ++i)
        out[i] = kFailedRead;
    return true;
}

namespace {

bool SelectChip(uint8_t chipBit)
{
    const uint8_t shadow = State().selectShadow;
    if ((shadow & chipBit) != 0)
        return true;
    return Write_BYTE(CTRL_SELECT, static_cast<uint8_t>((shadow & 0x23) | chipBit));
}

} // namespace

bool SelectDaa()
{
    return SelectChip(0x04);
}

bool SelectSlic()
{
    return SelectChip(0x08);
}

bool WriteDaaRegister(uint8_t reg, uint8_t value)
{
    if (!State().plugged)
        return false;
    if (!SelectDaa())
        return false; // the transfer would reach the other chip
    const uint8_t data[4] = {0x20, reg, value, 0x61};
    return Write_4BYTE(CTRL_SPI, data);
}

std::optional<uint8_t> ReadDaaRegister(uint8_t reg)
{
    if (!State().plugged)
        return std::nullopt;
    const uint8_t data[4] = {0x60, reg, 0x00, 0x61};
    if (!SelectDaa() || !Write_4BYTE(CTRL_SPI, data))
        return std::nullopt;
    return ReadRegister(CTRL_DAA_DATA);
}

bool WriteSlicDirectRegister(uint8_t reg, uint8_t value)
{
    if (!State().plugged)
        return false;
    if (!SelectSlic())
        return false; // the transfer would reach the other chip
    const uint8_t data[4] = {static_cast<uint8_t>(reg & 0x7F), value, 0x00, 0x03};
    if (!Write_4BYTE(CTRL_SPI, data))
        return false;
    // Only a value that was sent is remembered: the tone loader skips
    // registers whose shadow already holds the value it wants.
    if (reg >= 36 && reg <= 43)
        State().slicDirectShadow[static_cast<size_t>(reg - 36)] = value;
    return true;
}

std::optional<uint8_t> ReadSlicDirectRegister(uint8_t reg)
{
    if (!State().plugged)
        return std::nullopt;
    const uint8_t data[4] = {static_cast<uint8_t>(reg | 0x80), 0x00, 0x00, 0x03};
    if (!SelectSlic() || !Write_4BYTE(CTRL_SPI, data))
        return std::nullopt;
    return ReadRegister(CTRL_SLIC_DATA);
}

int32_t LastErrorCode()
{
    const int error = State().lastError;
    // 0 and 1 are readings of the line where this code stands in for one.
    return error > 1 ? error : EIO;
}

} // namespace fxo
