// The virtual adapter's transport as a host other than the FXO library sees
// it: what it accepts, what it refuses, and how plugging changes handles.
#include "platform/AdapterIds.h"
#include "vadapter/VirtualAdapterDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace parvane {
namespace {

using Report = std::array<uint8_t, 9>;

class VirtualAdapterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(LoadScenario("de", scenario, error));
        adapter.Reset(scenario);
    }

    bool Send(int handle, Report report, int& error)
    {
        return adapter.SendFeatureReport(handle, report.data(), report.size(), error);
    }

    uint8_t ReadRegister(int handle, uint8_t reg)
    {
        int error = 0;
        Report reply{};
        EXPECT_TRUE(Send(handle, {0, 243, 0, 237, reg, 0, 0, 0, 0}, error));
        EXPECT_TRUE(adapter.GetFeatureReport(handle, reply.data(), reply.size(), error));
        return reply[1];
    }

    VirtualAdapterDevice adapter{Scenario()};
};

TEST_F(VirtualAdapterTest, OpensOnlyItsOwnIdentifiers)
{
    const auto devices = adapter.Enumerate();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].vendorId, kAdapterVendorId);
    EXPECT_EQ(devices[0].productId, 0x0110);
    EXPECT_EQ(adapter.Open(kAdapterVendorId, 0x2110), 0);
    EXPECT_EQ(adapter.Open(kAdapterVendorId + 1, 0x0110), 0);
    EXPECT_GT(adapter.Open(kAdapterVendorId, 0x0110), 0);
    EXPECT_EQ(adapter.ModelName(), "Tarnbox");
}

TEST_F(VirtualAdapterTest, RefusesReportsItCannotFrame)
{
    const int handle = adapter.Open(kAdapterVendorId, 0x0110);
    int error = 0;
    EXPECT_FALSE(Send(handle, {0, 242, 1, 237, 10, 0xFF, 0, 0, 0}, error));
    EXPECT_EQ(error, EPROTO);
    EXPECT_FALSE(Send(handle, {1, 243, 1, 237, 10, 0xFF, 0, 0, 0}, error));
    EXPECT_EQ(error, EINVAL);
    const uint8_t shortReport[5] = {0, 243, 1, 237, 10};
    EXPECT_FALSE(adapter.SendFeatureReport(handle, shortReport, sizeof(shortReport), error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(ReadRegister(handle, 10), 0xBF); // none of them acted
    adapter.Close(handle);
    EXPECT_FALSE(Send(handle, {0, 243, 1, 237, 10, 0xFF, 0, 0, 0}, error));
    EXPECT_EQ(error, EBADF);
}

TEST_F(VirtualAdapterTest, HandlesFromBeforeAnUnplugStayDead)
{
    const int old = adapter.Open(kAdapterVendorId, 0x0110);
    adapter.Unplug();
    EXPECT_TRUE(adapter.Enumerate().empty());
    EXPECT_EQ(adapter.Open(kAdapterVendorId, 0x0110), 0);
    int error = 0;
    EXPECT_FALSE(Send(old, {0, 243, 1, 237, 10, 0xFF, 0, 0, 0}, error));
    EXPECT_EQ(error, ENODEV);
    adapter.Replug();
    EXPECT_FALSE(Send(old, {0, 243, 1, 237, 10, 0xFF, 0, 0, 0}, error));
    EXPECT_EQ(error, ENODEV);
    const int fresh = adapter.Open(kAdapterVendorId, 0x0110);
    EXPECT_GT(fresh, 0);
    EXPECT_EQ(ReadRegister(fresh, 10), 0xBF);
    EXPECT_EQ(adapter.OpenHandleCount(), 2); // the dead one until its owner closes it
}

TEST_F(VirtualAdapterTest, TheResetCommandReleasesTheLine)
{
    const int handle = adapter.Open(kAdapterVendorId, 0x0110);
    int error = 0;
    adapter.UseManualClock(5000);
    ASSERT_TRUE(Send(handle, {0, 243, 4, 237, 25, 0x20, 5, 0x01, 0x61}, error)); // DAA 5 = off-hook
    EXPECT_TRUE(adapter.IsOffHook());
    EXPECT_EQ(adapter.OffHookSinceMs(), 5000u);
    ASSERT_TRUE(Send(handle, {0, 243, 1, 237, 1, 0x08, 0, 0, 0}, error)); // route the bus to the SLIC
    ASSERT_TRUE(Send(handle, {0, 243, 1, 237, 0, 0x20, 0, 0, 0}, error));
    EXPECT_FALSE(adapter.IsOffHook());
    EXPECT_EQ(adapter.ControllerRegister(1), 0x24);
}

TEST_F(VirtualAdapterTest, ServesSeveralThreadsAtOnce)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this] {
            const int handle = adapter.Open(kAdapterVendorId, 0x0110);
            for (int i = 0; i < 500; ++i) {
                EXPECT_EQ(ReadRegister(handle, 16), 0);
                adapter.IsOffHook();
                adapter.NowMs();
            }
            adapter.Close(handle);
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(adapter.OpenHandleCount(), 0);
}

} // namespace
} // namespace parvane
