#pragma once
// Test base: the virtual adapter chosen, reset to a scenario on a manual
// clock, and FXO.so freshly loaded from the program directory.

#include "platform/AdapterIds.h"
#include "tests/fxo/FxoLibraryFile.h"
#include "tests/support/CapturedStderr.h"
#include "vadapter/VirtualAdapterDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace parvane::test {

constexpr int32_t kVid = kAdapterVendorId;
constexpr int32_t kPid = 0x0110;

inline VirtualAdapterDevice& ChooseVirtualAdapter(const Scenario& scenario)
{
    setenv(kVirtualAdapterEnv, "us", 1);
    VirtualAdapterDevice* adapter = VirtualAdapterDevice::Instance();
    if (adapter == nullptr)
        std::abort();
    adapter->Reset(scenario);
    adapter->UseManualClock();
    return *adapter;
}

inline Scenario PresetScenario(const std::string& name)
{
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(LoadScenario(name, scenario, error)) << error;
    return scenario;
}

class FxoTest : public ::testing::Test {
protected:
    void SetUp() override { UseScenario(PresetScenario("us")); }
    void TearDown() override { fxo.Unload(); }

    void UseScenario(const Scenario& scenario)
    {
        adapter = &ChooseVirtualAdapter(scenario);
        fxo.Unload();
        ASSERT_TRUE(fxo.Load(kFxoPort1File)) << fxo.LastError();
        fxo.SetPortIndex(0);
    }

    // Opens the adapter and forgets the reports that took.
    void Plug()
    {
        ASSERT_EQ(fxo.ZorvLoad(kVid, kPid), 1);
        adapter->ClearLogs();
    }

    std::vector<ReportRecord> Sent()
    {
        std::vector<ReportRecord> sent;
        for (const auto& report : adapter->Reports())
            if (report.send)
                sent.push_back(report);
        return sent;
    }

    // Values written to a controller register by one-byte writes.
    std::vector<uint8_t> WritesTo(uint8_t reg)
    {
        std::vector<uint8_t> values;
        for (const auto& report : Sent())
            if (report.ok && report.bytes[2] == 0x01 && report.bytes[4] == reg)
                values.push_back(report.bytes[5]);
        return values;
    }

    std::vector<BusAccess> ChipWrites(BusAccess::Chip chip)
    {
        std::vector<BusAccess> writes;
        for (const auto& access : adapter->BusAccesses())
            if (access.chip == chip && access.write)
                writes.push_back(access);
        return writes;
    }
    std::vector<BusAccess> DaaWrites() { return ChipWrites(BusAccess::Chip::Daa); }
    std::vector<BusAccess> SlicWrites() { return ChipWrites(BusAccess::Chip::Slic); }

    VirtualAdapterDevice* adapter = nullptr;
    FxoLibraryFile fxo;
};

} // namespace parvane::test
