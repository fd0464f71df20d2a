// The virtual SLIC on its own clock (what a real-time run sees), and the
// scenario keys of the telephone set.
#include "vadapter/Scenario.h"
#include "vadapter/VirtualSlic.h"

#include <gtest/gtest.h>

namespace parvane {
namespace {

TEST(VirtualSlic, ConverterAndCalibrationSettleAfterAWhile)
{
    VirtualSlic slic;
    EXPECT_EQ(slic.Read(82, 1000), 0); // converter off after reset
    slic.Write(14, 0x00, 1000);
    EXPECT_LT(slic.Read(82, 1020), 0xC0);
    EXPECT_GE(slic.Read(82, 1100), 0xC0);
    slic.Write(14, 0x10, 2000); // off again: the battery sags, slowly
    EXPECT_LT(slic.Read(82, 3000), slic.Read(82, 2000));
    EXPECT_GT(slic.Read(82, 3000), 0x80);

    slic.Write(96, 0x47, 5000);
    EXPECT_EQ(slic.Read(96, 5000), 0x47);
    EXPECT_EQ(slic.Read(96, 5100), 0x47);
    EXPECT_EQ(slic.Read(96, 5150), 0x00);
    EXPECT_EQ(slic.Read(20, 5150) & 0x04, 0);

    // A calibration that never ends, and one that ends flagging an error.
    slic.SetCalibrationStuck(true);
    slic.Write(96, 0x40, 6000);
    EXPECT_EQ(slic.Read(96, 60000), 0x40);
    slic.SetCalibrationStuck(false);
    slic.SetCalibrationError(true);
    slic.Write(96, 0x40, 70000);
    EXPECT_EQ(slic.Read(96, 70200), 0x00);
    EXPECT_EQ(slic.Read(20, 70200) & 0x04, 0x04);
    slic.Write(20, 0x04, 70200); // written 1, the flag clears
    EXPECT_EQ(slic.Read(20, 70200) & 0x04, 0);
}

TEST(VirtualSlic, GainMismatchReadsZeroFromItsStepDown)
{
    VirtualSlic slic;
    slic.SetGainMismatchSteps(12, 0);
    slic.Write(98, 13, 0);
    EXPECT_NE(slic.Read(88, 0), 0);
    slic.Write(98, 12, 0);
    EXPECT_EQ(slic.Read(88, 0), 0);
    slic.Write(98, 1, 0);
    EXPECT_EQ(slic.Read(88, 0), 0);
    slic.Write(99, 1, 0); // TIP never matches
    EXPECT_NE(slic.Read(89, 0), 0);
}

TEST(VirtualSlic, ResetKeepsThePhoneAndItsIdentity)
{
    VirtualSlic slic;
    slic.SetIdentity(0x13);
    slic.SetPhoneOffHook(true, 0);
    slic.Write(64, 0x01, 0);
    slic.Write(0, 0x00, 0); // read-only
    EXPECT_EQ(slic.Read(0, 0), 0x13);
    EXPECT_EQ(slic.Read(68, 0) & 0x01, 0x01);
    slic.PowerOn();
    EXPECT_EQ(slic.Read(0, 0), 0x13);
    EXPECT_EQ(slic.Read(8, 0), 0x02);
    EXPECT_EQ(slic.Read(11, 0), 0x33);
    EXPECT_EQ(slic.Read(64, 0), 0x00);
    EXPECT_EQ(slic.Read(68, 0) & 0x01, 0); // lifted, but the line is not fed
    EXPECT_TRUE(slic.PhoneOffHook(0));
}

TEST(ScenarioPhone, KeysSetTheTelephoneSetAndBadValuesAreRefused)
{
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ParseScenarioText("[phone]\noff_hook = 2500\ndigits = 12*#\ndigit_gap = 150\n", "p.ini",
                                  scenario, error))
        << error;
    EXPECT_EQ(scenario.phoneOffHookMs, 2500);
    EXPECT_EQ(scenario.phoneDigits, "12*#");
    EXPECT_EQ(scenario.phoneDigitGapMs, 150u);

    Scenario defaults;
    EXPECT_EQ(defaults.phoneOffHookMs, -1);
    EXPECT_TRUE(defaults.phoneDigits.empty());

    ASSERT_FALSE(ParseScenarioText("[phone]\ndigits = 12x\n", "p.ini", scenario, error));
    EXPECT_EQ(error, "p.ini, line 2, key digits: bad value \"12x\": expected DTMF digits: 0-9, *, #, A-D");
    EXPECT_FALSE(ParseScenarioText("[phone]\ndigit_gap = 0\n", "p.ini", scenario, error));
    EXPECT_FALSE(ParseScenarioText("[phone]\noff_hook = -5\n", "p.ini", scenario, error));
    EXPECT_EQ(scenario.phoneOffHookMs, 2500); // a refused file changes nothing
}

TEST(ScenarioPhone, ThePhoneLiftsAndDialsAfterTheAdapterIsOpened)
{
    Scenario scenario;
    scenario.phoneOffHookMs = 1000;
    scenario.phoneDigits = "4";
    scenario.phoneDigitGapMs = 100;
    VirtualSlic slic;
    slic.Configure(scenario);
    slic.Write(64, 0x01, 0);
    EXPECT_FALSE(slic.PhoneOffHook(50000)); // not opened yet
    slic.Opened(50000);
    slic.Opened(50500); // only the first opening counts
    EXPECT_FALSE(slic.PhoneOffHook(50999));
    EXPECT_TRUE(slic.PhoneOffHook(51000));
    EXPECT_EQ(slic.Read(20, 51099) & 0x01, 0);
    EXPECT_EQ(slic.Read(20, 51100) & 0x01, 0x01);
    EXPECT_EQ(slic.Read(24, 51100) & 0x0F, 4);
}

} // namespace
} // namespace parvane
