// The line side through the exports: DAA start-up, hook control, loop
// current, ring detect, the country table and the hang-up detector.
#include "tests/fxo/FxoFixture.h"

#include <chrono>
#include <thread>
#include <utility>

namespace parvane::test {
namespace {

using Writes = std::vector<std::pair<int, int>>;

Writes RegisterValuePairs(const std::vector<BusAccess>& accesses)
{
    Writes pairs;
    for (const auto& access : accesses)
        pairs.emplace_back(access.reg, access.value);
    return pairs;
}

TEST_F(FxoTest, DaaStartUpWritesItsSequenceAndLeavesTheLineOnHook)
{
    Plug();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(fxo.FupInitDaa(), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(350));
    const Writes expected = {{1, 0x80},  {33, 0x28}, {26, 0xC0}, {6, 0x00},  {5, 0x01},  {38, 0x02}, {40, 0x08},
                             {39, 0x01}, {41, 0x05}, {17, 0x00}, {5, 0x01},  {17, 0x08}, {5, 0x00},  {17, 0x00},
                             {5, 0x01},  {17, 0x08}, {24, 0x11}, {23, 0x1D}, {22, 0x4D}, {16, 0x10}, {18, 0x02},
                             {26, 0xC0}, {31, 0xA0}, {5, 0x00}};
    EXPECT_EQ(RegisterValuePairs(DaaWrites()), expected);
    EXPECT_FALSE(adapter->IsOffHook());
    EXPECT_EQ(adapter->DaaRegister(33), 0x28);
}

TEST_F(FxoTest, DaaStartUpFailsWhenTheChipDoesNotEchoAndSucceedsOnItsNextTry)
{
    Plug();
    adapter->SetDaaAnswering(false);
    EXPECT_EQ(fxo.FupInitDaa(), 0);
    EXPECT_EQ(DaaWrites().size(), 2u); // soft reset and register 33, then it stops
    adapter->SetDaaAnswering(true);

    adapter->FailDaaStartups(1);
    EXPECT_EQ(fxo.FupInitDaa(), 0);
    EXPECT_EQ(fxo.FupInitDaa(), 1);
}

TEST_F(FxoTest, DaaStartUpThatLosesAReportIsNotReportedDone)
{
    Plug();
    // Sends of the start-up: W1, W33, the R33 transfer and its data read,
    // then W26, which is lost; the echo itself was fine.
    adapter->FailNextSends(1, 4);
    EXPECT_EQ(fxo.FupInitDaa(), 0);
    EXPECT_EQ(adapter->DaaRegister(33), 0x28);
    EXPECT_EQ(fxo.FupInitDaa(), 1);
}

TEST_F(FxoTest, HookControlSeizesAndReleasesTheLine)
{
    Plug();
    ASSERT_EQ(fxo.FupInitDaa(), 1);
    EXPECT_EQ(fxo.DaaPstnHook(), 1);
    EXPECT_EQ(fxo.DaaSetOffhook(), 1);
    EXPECT_TRUE(adapter->IsOffHook());
    EXPECT_EQ(adapter->DaaRegister(17), 0x00);
    EXPECT_EQ(fxo.DaaPstnHook(), 0); // loop current flows
    adapter->SetLoopCurrent(11);
    EXPECT_EQ(fxo.DaaPstnHook(), 0);
    adapter->SetLoopCurrent(10);
    EXPECT_EQ(fxo.DaaPstnHook(), 1); // too little current for a line in use
    adapter->SetLoopCurrent(0);
    EXPECT_EQ(fxo.DaaPstnHook(), 1); // a dead line

    EXPECT_EQ(fxo.DaaOnHookMonitor(1), 1);
    EXPECT_EQ(adapter->DaaRegister(5), 0x09);
    EXPECT_EQ(fxo.DaaOnHookMonitor(0), 1);
    EXPECT_EQ(adapter->DaaRegister(5), 0x01);

    EXPECT_EQ(fxo.DaaSetOnhook(), 1);
    EXPECT_FALSE(adapter->IsOffHook());
    EXPECT_EQ(adapter->DaaRegister(17), 0x08);
    EXPECT_EQ(fxo.DaaPstnHook(), 1);
}

TEST_F(FxoTest, HookControlRefusesToWriteAfterAFailedRead)
{
    Plug();
    ASSERT_EQ(fxo.FupInitDaa(), 1);
    adapter->ClearLogs();
    adapter->FailNextGets(1); // the read of register 5
    EXPECT_EQ(fxo.DaaSetOffhook(), 0);
    EXPECT_EQ(RegisterValuePairs(DaaWrites()), (Writes{{17, 0x00}}));
    EXPECT_FALSE(adapter->IsOffHook());

    adapter->ClearLogs();
    adapter->FailNextGets(1);
    EXPECT_EQ(fxo.DaaOnHookMonitor(1), 0);
    EXPECT_TRUE(DaaWrites().empty());

    // A write of register 5 that is lost is a failure too.
    ASSERT_EQ(fxo.DaaSetOffhook(), 1);
    adapter->ClearLogs();
    adapter->FailNextSends(1, 3); // W17, R5's transfer and data read pass; W5 is lost
    EXPECT_EQ(fxo.DaaSetOnhook(), 0);
    EXPECT_TRUE(adapter->IsOffHook());

    // A failed loop-current read gives the error code, never a line state.
    adapter->FailNextGets(1);
    EXPECT_EQ(fxo.DaaPstnHook(), 5);
}

TEST_F(FxoTest, CountryByNameIsCaseSensitiveAndLeavesTheSlicAlone)
{
    Plug();
    ASSERT_EQ(fxo.FupInitDaa(), 1);
    adapter->ClearLogs();
    CapturedStderr log;
    fxo.DaaSetCountry("australia");
    EXPECT_TRUE(DaaWrites().empty());
    EXPECT_TRUE(log.Contains("SetDAACountry:szCountryName=australia"));
    EXPECT_FALSE(log.Contains("SetDAACountry:nCountryIndex"));

    fxo.DaaSetCountry("Australia");
    EXPECT_TRUE(log.Contains("SetDAACountry:nCountryIndex=1"));
    const uint8_t r16 = adapter->DaaRegister(16);
    EXPECT_EQ(r16 & 0x53, 0x50); // OHS and bit 4 set, RZ and RT clear
    EXPECT_EQ(adapter->DaaRegister(26) >> 4, 5);
    EXPECT_EQ(adapter->DaaRegister(26) & 0x02, 0);
    EXPECT_EQ(adapter->DaaRegister(30) & 0x0F, 3);
    EXPECT_EQ(adapter->DaaRegister(31) & 0x88, 0x80);
    EXPECT_TRUE(SlicWrites().empty());

    fxo.DaaSetCountry("USA");
    EXPECT_EQ(adapter->DaaRegister(16) & 0x53, 0x10);
    EXPECT_EQ(adapter->DaaRegister(26), 0xC0); // DCV 3, MINI 0, ILIM 0
    EXPECT_EQ(adapter->DaaRegister(30) & 0x0F, 0);
}

TEST_F(FxoTest, CountryByIndexAppliesDaaAndSlicAndClampsToOther)
{
    Plug();
    ASSERT_EQ(fxo.FupInitDaa(), 1);
    EXPECT_EQ(fxo.FupSetCountry(1), 1);
    EXPECT_EQ(adapter->SlicRegister(10) & 0x07, 6);

    fxo.WriteDAARegister(30, 0x0F);
    fxo.WriteProSlicDirectRegister(10, 0xFF);
    CapturedStderr log;
    EXPECT_EQ(fxo.FupSetCountry(200), 1); // "Other"
    EXPECT_TRUE(log.Contains("SetDAACountry:nCountryIndex=200"));
    EXPECT_EQ(adapter->DaaRegister(30), 0x00);
    EXPECT_EQ(adapter->SlicRegister(10), 0xF8);
    EXPECT_EQ(adapter->DaaRegister(26), 0xC0);
    EXPECT_EQ(adapter->DaaRegister(31) & 0x88, 0x80);

    adapter->ClearLogs();
    EXPECT_EQ(fxo.FupSetCountry(-1), 0);
    EXPECT_TRUE(adapter->Reports().empty());
}

TEST_F(FxoTest, CountryRegisterWhoseReadFailsIsLeftAlone)
{
    Plug();
    ASSERT_EQ(fxo.FupInitDaa(), 1);
    adapter->ClearLogs();
    adapter->FailNextGets(1); // the read of register 16
    fxo.DaaSetCountry("Japan");
    Writes regs;
    for (const auto& [reg, value] : RegisterValuePairs(DaaWrites()))
        regs.emplace_back(reg, 0);
    EXPECT_EQ(regs, (Writes{{26, 0}, {30, 0}, {31, 0}}));
    EXPECT_EQ(adapter->DaaRegister(26) >> 4, 9); // DCV 2, MINI 1
}

class RingTest : public FxoTest {
protected:
    static constexpr uint64_t kStart = 1000000;
    void At(uint64_t ms) { adapter->UseManualClock(kStart + ms); }
    bool RingAt(uint64_t ms)
    {
        At(ms);
        return fxo.DaaRingDetect() != 0;
    }
};

TEST_F(RingTest, RingDetectFollowsTheDoubleRingCadence)
{
    UseScenario(PresetScenario("uk")); // 400,200,400,2000 after 1000 ms
    adapter->UseManualClock(kStart);
    Plug();
    EXPECT_FALSE(RingAt(999));
    EXPECT_TRUE(RingAt(1000));
    EXPECT_TRUE(RingAt(1399));
    EXPECT_FALSE(RingAt(1400));
    EXPECT_FALSE(RingAt(1599));
    EXPECT_TRUE(RingAt(1600));
    EXPECT_TRUE(RingAt(1999));
    EXPECT_FALSE(RingAt(2000));
    EXPECT_FALSE(RingAt(3999));
    EXPECT_TRUE(RingAt(4000)); // the cadence repeats
    EXPECT_EQ(adapter->ControllerRegister(10) & 0x02, 0);
}

TEST_F(RingTest, AnsweringStopsTheRingAndTheCallerRingsAgainAfterRelease)
{
    Scenario scenario = PresetScenario("cn"); // 1000,4000
    scenario.redialMs = 5000;
    UseScenario(scenario);
    adapter->UseManualClock(kStart);
    Plug();
    ASSERT_EQ(fxo.FupInitDaa(), 1);
    EXPECT_TRUE(RingAt(1500));
    ASSERT_EQ(fxo.DaaSetOffhook(), 1);
    EXPECT_FALSE(RingAt(1600)); // off-hook: no ring signal
    EXPECT_TRUE(adapter->CallAnswered());
    EXPECT_EQ(adapter->OffHookSinceMs(), kStart + 1500);
    EXPECT_FALSE(RingAt(6000)); // answered: the caller has stopped ringing
    At(10000);
    ASSERT_EQ(fxo.DaaSetOnhook(), 1);
    EXPECT_FALSE(RingAt(14999));
    EXPECT_TRUE(RingAt(15000));
}

TEST_F(RingTest, WithoutRedialTheLineStaysQuietAfterTheCall)
{
    Scenario scenario = PresetScenario("jp");
    scenario.redialMs = 0;
    UseScenario(scenario);
    adapter->UseManualClock(kStart);
    Plug();
    ASSERT_EQ(fxo.FupInitDaa(), 1);
    At(1000);
    ASSERT_EQ(fxo.DaaSetOffhook(), 1);
    At(2000);
    ASSERT_EQ(fxo.DaaSetOnhook(), 1);
    for (uint64_t t = 2000; t < 60000; t += 250)
        ASSERT_FALSE(RingAt(t)) << t;
}

// The one real-time check: the adapter paces rings by its monotonic clock.
TEST_F(FxoTest, RingDetectFollowsACadenceInRealTime)
{
    Scenario scenario;
    scenario.ringDelayMs = 100;
    scenario.ringCadenceMs = {200, 150};
    UseScenario(scenario);
    adapter->UseRealClock();
    const uint64_t openedAfter = adapter->NowMs();
    ASSERT_EQ(fxo.ZorvLoad(kVid, kPid), 1);
    const uint64_t openedBefore = adapter->NowMs();
    auto expected = [&](uint64_t now, uint64_t opened) {
        const uint64_t start = opened + 100;
        return now >= start && (now - start) % 350 < 200;
    };
    int checked = 0, rings = 0, quiet = 0;
    while (adapter->NowMs() < openedBefore + 1200) {
        const uint64_t before = adapter->NowMs();
        const bool ring = fxo.DaaRingDetect() != 0;
        const uint64_t after = adapter->NowMs();
        const bool e = expected(before, openedAfter);
        // Judge only samples whose expectation is the same at both ends.
        if (e == expected(after, openedAfter) && e == expected(before, openedBefore) &&
            e == expected(after, openedBefore)) {
            EXPECT_EQ(ring, e) << "at " << before - openedAfter << " ms";
            ++checked;
            (e ? rings : quiet) += 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(rings, 0);
    EXPECT_GT(quiet, 0);
    EXPECT_GT(checked, 10);
}

class HangUpTest : public FxoTest {
protected:
    // One detector call with this sample on the line.
    bool Sample(bool one)
    {
        adapter->SetSlicRegister(25, one ? 0x01 : 0x00);
        return fxo.FupCalledHangUpDetect() != 0;
    }
};

TEST_F(HangUpTest, ThreeSilentWindowsReportAHangUp)
{
    Plug();
    for (int window = 1; window <= 3; ++window) {
        for (int i = 0; i < 149; ++i)
            ASSERT_FALSE(Sample(false)) << window << "/" << i;
        EXPECT_EQ(Sample(false), window == 3) << window;
    }
    EXPECT_EQ(adapter->SlicIndirectRegister(11), 10);
}

TEST_F(HangUpTest, CloseRepeatsOfThePatternReportAHangUpAndSparseOnesDoNot)
{
    Plug();
    // "1100" every 10 samples from sample 1 on.
    bool result = false;
    for (int i = 0; i < 150; ++i)
        result = Sample(i % 10 == 1 || i % 10 == 2);
    EXPECT_TRUE(result);
    // Every 20 samples: each match is too far from the last.
    for (int i = 0; i < 150; ++i)
        result = Sample(i % 20 == 1 || i % 20 == 2);
    EXPECT_FALSE(result);
    // Ten close matches are not yet a hang-up; the eleventh makes one.
    for (int matches : {10, 11}) {
        for (int i = 0; i < 150; ++i)
            result = Sample(i < 10 * matches && (i % 10 == 1 || i % 10 == 2));
        EXPECT_EQ(result, matches == 11) << matches;
    }
}

} // namespace
} // namespace parvane::test
