// End to end against the virtual adapter in real time: the cn preset's line
// taken off-hook through FXO.so, Vexlin.so called as the verification worker
// calls it (on/off times, start, then count, found, period while polling).

#include "platform/AdapterIds.h"
#include "platform/AudioDevices.h"
#include "platform/Tick.h"
#include "tests/fxo/FxoLibraryFile.h"
#include "tests/vexlin/VexlinLibraryFile.h"
#include "vadapter/VirtualAdapterDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace parvane;
using parvane::test::FxoLibraryFile;
using parvane::test::VexlinLibraryFile;

constexpr uint32_t kWatchMs = 12000;

class VexlinOnVirtualLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv(kVirtualAdapterEnv, "cn", 1);
        VirtualAdapterDevice* adapter = VirtualAdapterDevice::Instance();
        ASSERT_NE(adapter, nullptr);
        ASSERT_TRUE(adapter->ResetFromEnvironment());
        model = adapter->ModelName();
        ASSERT_GE(FindAudioInputDevice(model), 0) << "no audio input of the virtual adapter named after " << model;
        ASSERT_TRUE(fxo.Load(parvane::test::kFxoPort1File)) << fxo.LastError();
        fxo.SetPortIndex(0);
        ASSERT_EQ(fxo.ZorvLoad(kAdapterVendorId, kAdapterProductIds[0]), 1);
        ASSERT_EQ(fxo.FupInitDaa(), 1);
        // The line is taken once it rings: the call is answered.
        for (int i = 0; i < 100 && fxo.DaaRingDetect() == 0; ++i)
            SleepMs(50);
        ASSERT_EQ(fxo.DaaSetOffhook(), 1);
        ASSERT_TRUE(adapter->CallAnswered());
    }
    void TearDown() override
    {
        if (fxo.DaaSetOnhook)
            fxo.DaaSetOnhook();
        fxo.Unload();
        unsetenv(kVirtualAdapterEnv);
    }

    // What the worker shows of one copy after each poll.
    struct Seen {
        int count = 0;
        int found = 0;
        int period = 0;
        uint32_t afterMs = 0;

        void Poll(VexlinLibraryFile& vexlin, uint32_t now)
        {
            count = vexlin.GetBusyToneCount();
            found = vexlin.IsBusyToneHappened();
            period = vexlin.GetPerhapsPeriod();
            afterMs = now;
        }
        bool Shown() const { return found != 0 && count >= 10; }
    };

    // Polls every copy until each shows the tone as found, or for the length
    // of the watch; a copy that shows it is not polled any more.
    std::vector<Seen> Watch(std::vector<VexlinLibraryFile*> copies)
    {
        std::vector<Seen> seen(copies.size());
        const uint32_t start = GetTickCount32();
        for (uint32_t now = 0; now < kWatchMs; now = GetTickCount32() - start) {
            bool all = true;
            for (size_t i = 0; i < copies.size(); ++i) {
                if (!seen[i].Shown())
                    seen[i].Poll(*copies[i], now);
                all = all && seen[i].Shown();
            }
            if (all)
                break;
            SleepMs(100);
        }
        return seen;
    }

    std::string model;
    FxoLibraryFile fxo;
};

// Port 1 verifies 350 ms while port 2's copy, on the same line, is asked for
// 500 ms: one finds the tone, the other never does.
TEST_F(VexlinOnVirtualLine, FindsChinasBusyToneAndNotAWrongPeriod)
{
    VexlinLibraryFile port1, port2;
    ASSERT_TRUE(port1.Load(parvane::test::kVexlinPort1File)) << port1.LastError();
    ASSERT_TRUE(port2.Load(parvane::test::kVexlinPort2File)) << port2.LastError();
    port1.VexlinLoad(0);
    port2.VexlinLoad(1);
    port1.SetOnOffTimeForTest(350, 350);
    port2.SetOnOffTimeForTest(500, 500);
    ASSERT_NE(port1.StartVexlin2(model.c_str(), 450, 0, 350, 0, 0, 0), 0);
    ASSERT_NE(port2.StartVexlin2(model.c_str(), 450, 0, 500, 0, 0, 0), 0);

    const std::vector<Seen> seen = Watch({&port1, &port2});
    EXPECT_TRUE(seen[0].Shown()) << "count " << seen[0].count << " after " << seen[0].afterMs << " ms";
    EXPECT_EQ(seen[1].found, 0);
    EXPECT_EQ(seen[1].count, 0);
    // The period is measured whatever was asked.
    EXPECT_NEAR(seen[1].period, 350, 20);
    port1.StopVexlin();
    port2.StopVexlin();
}

TEST_F(VexlinOnVirtualLine, LearnsThePeriodWhenNoneIsGiven)
{
    VexlinLibraryFile vexlin;
    ASSERT_TRUE(vexlin.Load(parvane::test::kVexlinPort1File)) << vexlin.LastError();
    vexlin.VexlinLoad(0);
    vexlin.SetOnOffTimeForTest(0, 0);
    ASSERT_NE(vexlin.StartVexlin2(model.c_str(), 450, 0, 0, 0, 0, 0), 0);
    const Seen seen = Watch({&vexlin})[0];
    EXPECT_TRUE(seen.Shown()) << "count " << seen.count << " after " << seen.afterMs << " ms";
    EXPECT_NEAR(seen.period, 350, 20);
    vexlin.StopVexlin();
}

} // namespace
