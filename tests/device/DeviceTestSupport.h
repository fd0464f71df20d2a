#pragma once
// Helpers for the device tests: a program directory of their own with
// stand-in libraries in it, a hand-driven clock, and an answer requester that
// counts.

#include "device/AnswerRequester.h"
#include "device/DeviceOper.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace parvane::test {

// Stand-in libraries the build lays beside the tests.
constexpr const char* kFakeFxoFile = "libparvane_fake_fxo.so";
constexpr const char* kFakeFxoWithoutRingDetectFile = "libparvane_fake_fxo_no_ring.so";
constexpr const char* kFakeVexlinFile = "libparvane_fake_vexlin.so";
constexpr const char* kFakeVexlinIncompleteFile = "libparvane_fake_vexlin_no_onoff.so";

// A temporary program directory. Lay() copies a built library (by its file
// name in the real program directory) in under another name. While it
// lives, GetModuleDir() answers this directory.
class ProgramDir {
public:
    ProgramDir();
    ~ProgramDir();
    ProgramDir(const ProgramDir&) = delete;
    ProgramDir& operator=(const ProgramDir&) = delete;

    void Lay(const std::string& builtFile, const std::string& asName);
    std::string Path(const std::string& name) const { return m_dir + name; }
    const std::string& Dir() const { return m_dir; }
    // The directory of the test program itself, where the build put the
    // stand-ins.
    static std::string BuildDir();

private:
    std::string m_dir;
};

// The controls of a stand-in FXO library laid out in a ProgramDir. It opens
// the same file the binding opens, so both see one copy.
class FakeFxo {
public:
    explicit FakeFxo(const std::string& path);
    ~FakeFxo();

    void Reset();
    void SetRing(bool on);
    void SetResult(const char* exportName, int value);
    void FailInitDaa(int times);
    void SetAdapter(int vendorId, int productId);
    void SetLineRegister(uint8_t value);
    void SetEEProm(uint8_t address, uint16_t value);
    // The calls made so far, as "Name(arg,arg)".
    std::vector<std::string> Calls();
    int Count(const std::string& call);
    // The calls made so far whose text starts with the prefix.
    std::vector<std::string> CallsStartingWith(const std::string& prefix);

private:
    void* Function(const char* name) const;
    void* m_handle = nullptr;
};

// A clock moved by hand; sleeping moves it too.
class FakeClock {
public:
    explicit FakeClock(uint32_t start = 100000) : m_now(start) {}
    DeviceClock Make();
    uint32_t Now() const { return m_now.load(); }
    void Advance(uint32_t ms) { m_now += ms; }
    void Set(uint32_t now) { m_now = now; }
    uint32_t Slept() const { return m_slept.load(); }

private:
    std::atomic<uint32_t> m_now;
    std::atomic<uint32_t> m_slept{0};
};

// Collects the program's trace lines while it lives.
class TraceLines {
public:
    TraceLines();
    ~TraceLines();
    std::vector<std::string> Lines();
    int Count(const std::string& line);              // lines equal to it
    int CountContaining(const std::string& text);    // lines containing it
    void Clear();

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class CountingRequester : public AnswerRequester {
public:
    void RequestAnswer(uint32_t delayMs) override
    {
        ++m_requests;
        m_lastDelayMs = delayMs;
    }
    std::atomic<int> m_requests{0};
    std::atomic<uint32_t> m_lastDelayMs{0};
};

// A device object on stand-in libraries in a program directory of its own,
// with a hand-moved clock and a counting answer requester.
struct FakePort {
    // Built file and the name it is laid under.
    using Files = std::vector<std::pair<std::string, std::string>>;
    explicit FakePort(const Files& files = {{kFakeFxoFile, "FXO.so"}, {kFakeVexlinFile, "Vexlin.so"}});

    // Sets the port index and runs LoadDlls; afterwards fxo holds the
    // controls of the port's FXO file when one was laid.
    int Load(int portIndex = 0);

    ProgramDir dir;
    FakeClock clock;
    TraceLines trace;
    CountingRequester requester;
    std::unique_ptr<CDeviceOper> device;
    std::unique_ptr<FakeFxo> fxo;
};

} // namespace parvane::test
