#include "tests/device/DeviceTestSupport.h"

#include "platform/DebugPrint.h"
#include "platform/ModuleDir.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace parvane::test {

namespace fs = std::filesystem;

std::string ProgramDir::BuildDir()
{
    static const std::string dir = GetModuleDir();
    return dir;
}

ProgramDir::ProgramDir()
{
    BuildDir(); // remember the real one before overriding
    char name[] = "/tmp/parvane-device-XXXXXX";
    const char* made = mkdtemp(name);
    EXPECT_NE(made, nullptr);
    m_dir = std::string(made ? made : "/tmp") + "/";
    SetModuleDirForTest(m_dir);
}

ProgramDir::~ProgramDir()
{
    SetModuleDirForTest("");
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
}

void ProgramDir::Lay(const std::string& builtFile, const std::string& asName)
{
    std::error_code error;
    fs::copy_file(BuildDir() + builtFile, m_dir + asName, fs::copy_options::overwrite_existing, error);
    ASSERT_FALSE(error) << builtFile << ": " << error.message();
}

FakeFxo::FakeFxo(const std::string& path)
{
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(m_handle, nullptr) << dlerror();
}

FakeFxo::~FakeFxo()
{
    if (m_handle != nullptr)
        dlclose(m_handle);
}

void* FakeFxo::Function(const char* name) const
{
    void* entry = m_handle ? dlsym(m_handle, name) : nullptr;
    EXPECT_NE(entry, nullptr) << name;
    return entry;
}

void FakeFxo::Reset()
{
    if (auto f = reinterpret_cast<void (*)()>(Function("FakeFxoReset")))
        f();
}

void FakeFxo::SetRing(bool on)
{
    reinterpret_cast<void (*)(int)>(Function("FakeFxoSetRing"))(on ? 1 : 0);
}

void FakeFxo::SetResult(const char* exportName, int value)
{
    reinterpret_cast<void (*)(const char*, int)>(Function("FakeFxoSetResult"))(exportName, value);
}

void FakeFxo::FailInitDaa(int times)
{
    reinterpret_cast<void (*)(int)>(Function("FakeFxoFailInitDaa"))(times);
}

void FakeFxo::SetAdapter(int vendorId, int productId)
{
    reinterpret_cast<void (*)(int, int)>(Function("FakeFxoSetAdapter"))(vendorId, productId);
}

void FakeFxo::SetLineRegister(uint8_t value)
{
    reinterpret_cast<void (*)(uint8_t)>(Function("FakeFxoSetLineRegister"))(value);
}

void FakeFxo::SetEEProm(uint8_t address, uint16_t value)
{
    reinterpret_cast<void (*)(uint8_t, uint16_t)>(Function("FakeFxoSetEEProm"))(address, value);
}

std::vector<std::string> FakeFxo::Calls()
{
    auto calls = reinterpret_cast<int (*)(char*, int)>(Function("FakeFxoCalls"));
    std::string text(static_cast<size_t>(calls(nullptr, 0)) + 1, '\0');
    calls(text.data(), static_cast<int>(text.size()));
    text.resize(text.size() - 1);
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

int FakeFxo::Count(const std::string& call)
{
    int count = 0;
    for (const auto& line : Calls())
        count += line == call ? 1 : 0;
    return count;
}

std::vector<std::string> FakeFxo::CallsStartingWith(const std::string& prefix)
{
    std::vector<std::string> found;
    for (const auto& line : Calls())
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}

DeviceClock FakeClock::Make()
{
    return DeviceClock{[this] { return m_now.load(); },
                       [this](uint32_t ms) {
                           m_now += ms;
                           m_slept += ms;
                       }};
}

TraceLines::TraceLines()
{
    SetDebugSink([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(line);
    });
}

TraceLines::~TraceLines()
{
    SetDebugSink({});
}

std::vector<std::string> TraceLines::Lines()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

int TraceLines::Count(const std::string& line)
{
    int count = 0;
    for (const auto& each : Lines())
        count += each == line ? 1 : 0;
    return count;
}

int TraceLines::CountContaining(const std::string& text)
{
    int count = 0;
    for (const auto& each : Lines())
        count += each.find(text) != std::string::npos ? 1 : 0;
    return count;
}

void TraceLines::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

FakePort::FakePort(const Files& files)
{
    for (const auto& [built, name] : files)
        dir.Lay(built, name);
    device = std::make_unique<CDeviceOper>(clock.Make());
    device->SetAnswerRequester(&requester);
    trace.Clear();
}

int FakePort::Load(int portIndex)
{
    device->SetPortIndex(portIndex);
    const int loaded = device->LoadDlls();
    const std::string fxoPath = dir.Path(portIndex == 0 ? "FXO.so" : "FXO_02.so");
    if (fs::exists(fxoPath))
        fxo = std::make_unique<FakeFxo>(fxoPath);
    return loaded;
}

} // namespace parvane::test
