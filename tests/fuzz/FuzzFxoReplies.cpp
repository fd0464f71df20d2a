// The line-device library's own code against an adapter that answers
// anything: every feature-report exchange of hidapi is answered from the
// input (sent or refused, with any errno, replies cut short, full, or 243
// everywhere), while the input's other bytes choose the exports to call.
// Each result must be a failure value or one the replies support; a success
// is never built from a failed exchange. Time passes only on the library's
// waits and one millisecond per exchange, so its start-ups run at once.
#include "fxo/HidTransport.h"
#include "platform/Tick.h"

#include <hidapi/hidapi.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

extern "C" {
uint8_t ZorvLoad(int32_t, int32_t);
uint8_t ZorvClose();
uint8_t WriteByte(uint8_t, uint8_t);
uint8_t ReadByte(uint8_t);
uint8_t Write4Byte(uint8_t, const uint8_t*);
uint8_t GetSerialNumber(uint8_t*);
uint8_t WriteDAARegister(uint8_t, uint8_t);
uint8_t ReadDAARegister(uint8_t);
uint8_t WriteProSlicDirectRegister(uint8_t, uint8_t);
uint8_t ReadProSlicDirectRegister(uint8_t);
uint8_t WriteProSlicInDirectRegister(uint8_t, uint16_t);
uint16_t ReadProSlicInDirectRegister(uint8_t);
uint8_t FupInitDaa();
uint8_t DaaSetOffhook();
uint8_t DaaSetOnhook();
uint8_t DaaOnHookMonitor(uint8_t);
int32_t DaaPstnHook();
uint8_t DaaRingDetect();
void DaaSetCountry(const char*);
uint8_t FupSetCountry(int32_t);
uint8_t FupCalledHangUpDetect();
uint8_t FupInitSlic();
uint8_t SlicPhoneUnhooked();
uint8_t SlicRingPhone();
uint8_t SlicStopRing();
uint8_t SlicPlayDialTone();
uint8_t SlicPlayBusyTone();
uint8_t SlicPlayIntpTone(uint8_t);
uint8_t SlicStopDialTone();
uint8_t SlicDetectDtmfCode();
uint8_t FupDialDtmf(int32_t);
uint8_t FupPcmPathSelect(uint8_t);
uint8_t FupSetPcmFormat(uint8_t);
int32_t FupLedSwitch(int32_t);
uint8_t FupPhoneSwitch(uint8_t);
uint16_t FupReadEEProm(uint8_t);
int32_t FupWriteEEProm(uint8_t, uint16_t);
}

namespace {

constexpr uint16_t kVid = 0x1234;
constexpr uint16_t kPid = 0x0110;

class Input {
public:
    void Reset(const uint8_t* data, size_t size)
    {
        m_data = data;
        m_size = size;
        m_position = 0;
    }
    bool Empty() const { return m_position >= m_size; }
    uint8_t Next() { return Empty() ? 0 : m_data[m_position++]; }

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_position = 0;
};

Input input;
uint32_t now = 0;
bool adapterPresent = true;

// One exchange as the library saw it: the report sent, or the reply.
struct Exchange {
    bool send = false;
    bool ok = false;
    std::array<uint8_t, 9> bytes{};
    int error = 0; // what the library gets to see when it failed
};
std::vector<Exchange> exchanges;

// Refused exchanges give each of these errno values in turn; 0 and 1 are
// line states in DaaPstnHook's result, so the library must not pass them on.
constexpr int kErrors[] = {EIO, 0, EPERM, EPIPE, ENODEV, ETIMEDOUT, EAGAIN, EPROTO};

// The library's view of a refused transfer (see HidrawBackend's Check).
int Refuse(Exchange& exchange, bool transferFailed)
{
    const int error = kErrors[input.Next() % std::size(kErrors)];
    errno = error;
    exchange.ok = false;
    exchange.error = transferFailed && error != 0 ? error : EIO;
    return transferFailed ? -1 : 3;
}

} // namespace

// ---- hidapi, answered from the input -------------------------------------

struct hid_device_ {
    int unused;
};

extern "C" {

int hid_init(void)
{
    return 0;
}

hid_device_info* hid_enumerate(unsigned short vendorId, unsigned short productId)
{
    if (!adapterPresent || vendorId != kVid || productId != kPid)
        return nullptr;
    auto* info = new hid_device_info{};
    info->path = strdup("/dev/hidraw-fuzz");
    info->vendor_id = kVid;
    info->product_id = kPid;
    return info;
}

void hid_free_enumeration(hid_device_info* devices)
{
    while (devices != nullptr) {
        hid_device_info* next = devices->next;
        std::free(devices->path);
        delete devices;
        devices = next;
    }
}

hid_device* hid_open_path(const char*)
{
    return new hid_device{};
}

void hid_close(hid_device* device)
{
    delete device;
}

const wchar_t* hid_error(hid_device*)
{
    return L"refused by the fuzzer";
}

int hid_send_feature_report(hid_device*, const unsigned char* data, size_t length)
{
    ++now;
    Exchange exchange;
    exchange.send = true;
    // The library frames every report alike: 9 bytes, id 0, the two markers.
    if (length != 9 || data[0] != 0 || data[1] != 243 || data[3] != 237 ||
        (data[2] != 0x00 && data[2] != 0x01 && data[2] != 0x04))
        __builtin_trap();
    std::memcpy(exchange.bytes.data(), data, 9);
    const uint8_t answer = input.Next();
    int result = static_cast<int>(length);
    if (input.Empty() || (answer & 0x07) == 0)
        result = Refuse(exchange, (answer & 0x08) != 0);
    else
        exchange.ok = true;
    exchanges.push_back(exchange);
    return result;
}

int hid_get_feature_report(hid_device*, unsigned char* data, size_t length)
{
    ++now;
    Exchange exchange;
    const uint8_t answer = input.Next();
    int result = 0;
    if (input.Empty() || (answer & 0x07) == 0) {
        result = Refuse(exchange, (answer & 0x08) != 0);
    } else {
        // A reply of 7 to 9 bytes is whole for the library (it reads bytes
        // 1 to 6); fewer are a short transfer.
        size_t got = length;
        switch (answer & 0x07) {
        case 1: got = 7 + input.Next() % 3; break;        // cut short, still whole
        case 2: got = input.Next() % 7; break;            // too short
        default: break;
        }
        got = std::min(got, length);
        if ((answer & 0x30) == 0x30) {
            std::memset(data + 1, 243, got > 1 ? got - 1 : 0); // the failure value everywhere
        } else {
            for (size_t i = 1; i < got; ++i)
                data[i] = input.Next();
        }
        data[0] = 0;
        result = static_cast<int>(got);
        exchange.ok = got >= 7;
        if (!exchange.ok)
            exchange.error = EIO;
        std::memcpy(exchange.bytes.data(), data, std::min<size_t>(length, 9));
    }
    exchanges.push_back(exchange);
    return result;
}

} // extern "C"

// ---- the library's clock and transport choice ------------------------------

namespace parvane {
uint32_t GetTickCount32()
{
    return now;
}
void SleepMs(uint32_t milliseconds)
{
    now += milliseconds;
}
} // namespace parvane

namespace fxo {
HidBackend& ChosenHidBackend()
{
    return HidrawBackend();
}
} // namespace fxo

// ---- what the results may be ----------------------------------------------

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool AllOk()
{
    for (const auto& exchange : exchanges)
        if (!exchange.ok)
            return false;
    return true;
}

const Exchange* LastFetch()
{
    for (auto it = exchanges.rbegin(); it != exchanges.rend(); ++it)
        if (!it->send)
            return &*it;
    return nullptr;
}

bool LastIsSentOk()
{
    return !exchanges.empty() && exchanges.back().send && exchanges.back().ok;
}

// A register read: 243 when any exchange failed, else the reply's byte 1.
void CheckRead(uint8_t value)
{
    const Exchange* fetch = LastFetch();
    if (AllOk() && fetch != nullptr)
        Check(value == fetch->bytes[1]);
    else
        Check(value == 243);
}

// The error code of the last refused exchange, as the library passes it on.
int LastError()
{
    for (auto it = exchanges.rbegin(); it != exchanges.rend(); ++it)
        if (!it->ok)
            return it->error > 1 ? it->error : EIO;
    return -1;
}

// Read-modify-write of DAA register 5: the value written back is the one
// read with only `bits` changed, and nothing is written after a failed read.
void CheckHookWrite(uint8_t result, uint8_t set, uint8_t clear)
{
    const Exchange* fetch = LastFetch();
    bool wrote = false;
    for (const auto& exchange : exchanges) {
        if (!exchange.send || exchange.bytes[2] != 0x04 || exchange.bytes[4] != 25 || exchange.bytes[5] != 0x20 ||
            exchange.bytes[6] != 5)
            continue;
        wrote = true;
        Check(fetch != nullptr && fetch->ok);
        Check(exchange.bytes[7] == static_cast<uint8_t>((fetch->bytes[1] & ~clear) | set));
    }
    if (result != 0)
        Check(wrote && LastIsSentOk());
}

void CallOne(uint8_t command, bool& plugged)
{
    exchanges.clear();
    const uint8_t a = input.Next();
    const uint8_t b = input.Next();
    const bool wasPlugged = plugged;
    uint32_t result = 0;
    switch (command % 36) {
    case 0:
        adapterPresent = (a & 0x03) != 0;
        result = ZorvLoad((a & 0x04) ? 0 : kVid, kPid);
        plugged = result != 0;
        Check(result == (adapterPresent && !(a & 0x04) ? 1u : 0u));
        return;
    case 1:
        Check(ZorvClose() == 1);
        plugged = false;
        return;
    case 2: result = WriteByte(a, b); if (wasPlugged) Check(result == (AllOk() ? 1u : 0u)); break;
    case 3: result = ReadByte(a); if (wasPlugged) CheckRead(static_cast<uint8_t>(result)); break;
    case 4: {
        const uint8_t data[4] = {a, b, input.Next(), input.Next()};
        result = Write4Byte(a, data);
        if (wasPlugged)
            Check(result == (AllOk() ? 1u : 0u));
        break;
    }
    case 5: {
        uint8_t serial[6] = {};
        result = GetSerialNumber(serial);
        if (wasPlugged) {
            Check(result == 1);
            const Exchange* fetch = LastFetch();
            for (int i = 0; i < 6; ++i)
                Check(serial[i] == (AllOk() && fetch ? fetch->bytes[static_cast<size_t>(i + 1)] : 243));
            return;
        }
        break;
    }
    case 6: result = WriteDAARegister(a, b); if (wasPlugged) Check(result == (AllOk() ? 1u : 0u)); break;
    case 7: result = ReadDAARegister(a); if (wasPlugged) CheckRead(static_cast<uint8_t>(result)); break;
    case 8: result = WriteProSlicDirectRegister(a, b); if (wasPlugged) Check(result == (AllOk() ? 1u : 0u)); break;
    case 9: result = ReadProSlicDirectRegister(a); if (wasPlugged) CheckRead(static_cast<uint8_t>(result)); break;
    case 10: result = WriteProSlicInDirectRegister(a, static_cast<uint16_t>(b * 257)); if (result) Check(LastIsSentOk()); break;
    case 11: {
        result = ReadProSlicInDirectRegister(a);
        if (wasPlugged) {
            // Each byte is 243 or a byte some reply carried.
            for (const uint8_t byte : {static_cast<uint8_t>(result >> 8), static_cast<uint8_t>(result & 0xFF)}) {
                bool seen = byte == 243;
                for (const auto& exchange : exchanges)
                    seen = seen || (!exchange.send && exchange.ok && exchange.bytes[1] == byte);
                Check(seen);
            }
            return;
        }
        break;
    }
    case 12: {
        result = FupInitDaa();
        if (result) {
            // Nothing lost, and the chip echoed the mode it was given.
            Check(AllOk());
            for (const auto& exchange : exchanges)
                Check(exchange.send || exchange.bytes[1] == 0x28);
        }
        break;
    }
    case 13: result = DaaSetOffhook(); if (wasPlugged) CheckHookWrite(static_cast<uint8_t>(result), 0x01, 0); break;
    case 14: result = DaaSetOnhook(); if (wasPlugged) CheckHookWrite(static_cast<uint8_t>(result), 0, 0x01); break;
    case 15:
        result = DaaOnHookMonitor(a & 1);
        if (wasPlugged)
            CheckHookWrite(static_cast<uint8_t>(result), (a & 1) ? 0x08 : 0, (a & 1) ? 0 : 0x08);
        break;
    case 16: {
        const int32_t hook = DaaPstnHook();
        if (!wasPlugged) {
            Check(hook == 1 && exchanges.empty());
        } else if (hook == 0 || hook == 1) {
            const Exchange* fetch = LastFetch();
            Check(AllOk() && fetch != nullptr && (fetch->bytes[1] <= 10) == (hook == 1));
        } else {
            Check(!AllOk() && hook == LastError());
        }
        return;
    }
    case 17: {
        result = DaaRingDetect();
        const Exchange* fetch = LastFetch();
        if (result)
            Check(AllOk() && fetch != nullptr && (fetch->bytes[1] & 0x02) == 0);
        break;
    }
    case 18: {
        static const char* const names[] = {"USA", "usa", "Other", "United Kingdom", "", "Australia"};
        DaaSetCountry(names[a % std::size(names)]);
        break;
    }
    case 19: {
        const int32_t index = static_cast<int8_t>(a);
        result = FupSetCountry(index);
        Check(result == (index >= 0 ? 1u : 0u));
        if (index < 0)
            Check(exchanges.empty());
        return;
    }
    case 20: result = FupCalledHangUpDetect(); break;
    case 21:
        result = FupInitSlic();
        if (result)
            Check(exchanges.size() >= 4 && LastIsSentOk());
        break;
    case 22: {
        result = SlicPhoneUnhooked();
        const Exchange* fetch = LastFetch();
        if (result)
            Check(AllOk() && fetch != nullptr && fetch->bytes[1] != 243);
        break;
    }
    case 23: result = SlicRingPhone(); if (result) Check(LastIsSentOk()); break;
    case 24: result = SlicStopRing(); if (wasPlugged) Check(result == (AllOk() ? 1u : 0u)); break;
    case 25: result = SlicPlayDialTone(); if (result) Check(LastIsSentOk()); break;
    case 26: result = SlicPlayBusyTone(); if (result) Check(LastIsSentOk()); break;
    case 27: result = SlicPlayIntpTone(a & 1); if (result) Check(LastIsSentOk()); break;
    case 28: result = SlicStopDialTone(); if (result) Check(LastIsSentOk()); break;
    case 29: {
        result = SlicDetectDtmfCode();
        const Exchange* fetch = LastFetch();
        if (result)
            Check(AllOk() && fetch != nullptr && result == (0x80u | (fetch->bytes[1] & 0x0Fu)));
        break;
    }
    case 30: result = FupDialDtmf(a % 20); if (result) Check(LastIsSentOk()); break;
    case 31: result = FupPcmPathSelect(a % 6); if (result) Check(AllOk() && !exchanges.empty()); break;
    case 32: result = FupSetPcmFormat(a % 4); if (result) Check(AllOk() && !exchanges.empty()); break;
    case 33: {
        const int32_t led = FupLedSwitch(a & 1);
        Check(led == 0 || led == 1);
        if (led) {
            // The line register is written back from a reading, never from a failure.
            const Exchange* fetch = LastFetch();
            Check(AllOk() && fetch != nullptr && exchanges.back().bytes[5] == ((fetch->bytes[1] & 0x3F) | ((a & 1) ? 0x40 : 0)));
        }
        return;
    }
    case 34: {
        result = FupPhoneSwitch(a & 1);
        if (result)
            Check(AllOk() && LastFetch() != nullptr);
        break;
    }
    case 35: {
        if (a & 1) {
            const int32_t written = FupWriteEEProm(b, static_cast<uint16_t>(a * 131));
            Check(written == 0 || written == 1);
            if (written)
                Check(AllOk() && !exchanges.empty());
            result = static_cast<uint32_t>(written);
        } else {
            result = FupReadEEProm(b);
        }
        break;
    }
    }
    // Nothing plugged: no traffic and the failure value.
    if (!wasPlugged)
        Check(exchanges.empty() && result == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    input.Reset(data, size);
    adapterPresent = true;
    // Each input starts from a fresh open: what an earlier input left in the
    // library's shadows is not carried into this one's checks beyond that.
    ZorvClose();
    bool plugged = ZorvLoad(kVid, kPid) == 1;
    Check(plugged);
    while (!input.Empty())
        CallOne(input.Next(), plugged);
    ZorvClose();
    return 0;
}
