// The phone side through the exports: SLIC start-up with its checks and
// waits, indirect registers, ringing, tones and their shadows, loop closure,
// DTMF decoding and the PCM settings.
#include "tests/fxo/FxoFixture.h"

#include <chrono>
#include <initializer_list>
#include <tuple>
#include <utility>

namespace parvane::test {
namespace {

using Writes = std::vector<std::pair<int, int>>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class SlicTest : public FxoTest {
protected:
    // A chip whose converter and calibration settle at once and whose gain
    // search matches at its first step: a start-up then costs little more
    // than its leak-check second.
    void FastChip()
    {
        adapter->SetSlicFastSettling(true);
        adapter->SetSlicGainMismatchSteps(31, 31);
    }

    // SLIC direct writes; without the indirect traffic on 28 to 30 unless asked.
    Writes DirectWrites(bool withIndirectTraffic = false)
    {
        Writes writes;
        for (const auto& access : SlicWrites())
            if (withIndirectTraffic || access.reg < 28 || access.reg > 30)
                writes.emplace_back(access.reg, access.value);
        return writes;
    }

    Writes IndirectWrites()
    {
        Writes writes;
        for (const auto& write : adapter->SlicIndirectWrites())
            writes.emplace_back(write.reg, write.value);
        return writes;
    }

    int SlicReadsOf(uint8_t reg)
    {
        int reads = 0;
        for (const auto& access : adapter->BusAccesses())
            reads += access.chip == BusAccess::Chip::Slic && !access.write && access.reg == reg;
        return reads;
    }

    bool DirectlyWritten(uint8_t reg)
    {
        for (const auto& [written, value] : DirectWrites())
            if (written == reg)
                return true;
        return false;
    }

    // Feeds the line so the loop can close when the phone is lifted.
    void FeedLine() { ASSERT_EQ(fxo.WriteProSlicDirectRegister(64, 0x01), 1); }
};

Writes IndirectTableWrites()
{
    const uint16_t table[42] = {0x55C2, 0x51E6, 0x4B85, 0x4937, 0x3333, 0x0202, 0x0202, 0x0198, 0x0198,
                                0x0611, 0x0202, 0x00E5, 0x0A1C, 0x7B30, 0x0063, 0x0000, 0x7870, 0x007D,
                                0x0000, 0x0000, 0x7EF0, 0x01F8, 0x0000, 0x2000, 0x2000, 0x0000, 0x4000,
                                0x4000, 0x1000, 0x3600, 0x1000, 0x0200, 0x07C0, 0x2600, 0x1B80, 0x8000,
                                0x0320, 0x008C, 0x0100, 0x0010, 0x0C00, 0x0C00};
    Writes writes;
    for (int reg = 0; reg < 42; ++reg)
        writes.emplace_back(reg, table[reg]);
    return writes;
}

// ---- Start-up -----------------------------------------------------------

TEST_F(SlicTest, StartUpRunsItsWholeSequenceAndLeavesTheLineFed)
{
    Plug();
    FastChip();
    adapter->SetSlicGainMismatchSteps(30, 29);
    const auto before = Clock::now();
    EXPECT_EQ(fxo.FupInitSlic(), 1);
    // The leak check's second and five 40 ms gain steps are waited out.
    EXPECT_GE(Clock::now() - before, milliseconds(1200));

    const Writes direct = {
        {8, 0x00},   {74, 0x32},  {92, 0x4F},  {93, 0x03},  {108, 0xEB},                        // checks
        {92, 0xFF},  {93, 0x19},  {14, 0x00},  {93, 0x80},                                      // converter
        {64, 0x00},  {14, 0x10},                                                                // leak check
        {92, 0xFF},  {93, 0x19},  {14, 0x00},  {93, 0x80},                                      // converter
        {21, 0x00},  {22, 0x00},  {23, 0x00},  {64, 0x00},  {97, 0x18}, {96, 0x47},             // calibration
        {98, 0x10},  {99, 0x10},  {98, 31},    {98, 30},    {99, 31},   {99, 30},   {99, 29},   // gain search
        {64, 0x00},  {23, 0x04},  {97, 0x01},  {96, 0x40},                                      // calibration 2
        {67, 0x17},  {66, 0x01},  {73, 0x04},                                                   // part 0, rev 2
        {23, 0x01},  {20, 0xFF},  {22, 0x02},  {19, 0xFF},  {21, 0x00}, {18, 0xFF}, {71, 0x00}, {1, 0x28},
        {64, 0x01}};
    EXPECT_EQ(DirectWrites(), direct);

    Writes indirect = IndirectTableWrites();
    indirect.insert(indirect.end(), {{43, 0x1000}, {99, 0x00DA}, {100, 0x6B60}, {101, 0x0074}, {102, 0x79C0},
                                     {103, 0x1120}, {104, 0x3BE0}, {99, 0x0000}});
    for (int reg = 35; reg <= 39; ++reg)
        indirect.emplace_back(reg, 0x8000);
    for (int reg = 88; reg <= 95; ++reg)
        indirect.emplace_back(reg, 0);
    indirect.emplace_back(97, 0);
    for (int reg = 193; reg <= 211; ++reg)
        indirect.emplace_back(reg, 0);
    for (const auto& [reg, value] : Writes{{35, 0x8000}, {36, 0x0320}, {37, 0x008C}, {38, 0x0100}, {39, 0x0010}})
        indirect.emplace_back(reg, value);
    EXPECT_EQ(IndirectWrites(), indirect);

    // The controller registers 12 to 14 close the sequence.
    const auto sent = Sent();
    ASSERT_GE(sent.size(), 4u);
    const std::vector<std::pair<int, int>> tail = {{12, 0x0F}, {13, 0x0F}, {14, 0xFF}, {14, 0x00}};
    for (size_t i = 0; i < tail.size(); ++i) {
        const auto& report = sent[sent.size() - tail.size() + i].bytes;
        EXPECT_EQ(report[2], 0x01);
        EXPECT_EQ(std::make_pair(int{report[4]}, int{report[5]}), tail[i]);
    }
    EXPECT_EQ(adapter->SlicRegister(64), 0x01);
    EXPECT_EQ(adapter->SlicIndirectRegister(36), 0x0320);

    // A running chip is not in its reset state: a second start-up stops at
    // its first check.
    adapter->ClearLogs();
    EXPECT_EQ(fxo.FupInitSlic(), 0);
    EXPECT_TRUE(SlicWrites().empty());
}

TEST_F(SlicTest, StartUpRefusesAChipThatIsNotInItsResetStateWithoutWritingIt)
{
    const std::pair<uint8_t, uint8_t> changes[] = {{8, 0x00}, {64, 0x01}, {11, 0x32}};
    for (const auto& [reg, value] : changes) {
        UseScenario(PresetScenario("us"));
        Plug();
        adapter->SetSlicRegister(reg, value);
        EXPECT_EQ(fxo.FupInitSlic(), 0) << int{reg};
        EXPECT_TRUE(SlicWrites().empty()) << int{reg};
    }
    // A failed read of 11 is no 0x33.
    UseScenario(PresetScenario("us"));
    Plug();
    adapter->FailSlicRegisterReads(11, 1);
    EXPECT_EQ(fxo.FupInitSlic(), 0);
    EXPECT_TRUE(SlicWrites().empty());
}

TEST_F(SlicTest, AnIndirectReadBackMismatchEndsStartUpBeforeTheNextRegister)
{
    Plug();
    adapter->SetSlicIndirectReadBackError(17, 0x0100);
    EXPECT_EQ(fxo.FupInitSlic(), 0);
    const Writes table = IndirectTableWrites();
    EXPECT_EQ(IndirectWrites(), Writes(table.begin(), table.begin() + 18)); // 0 to 17, not 18
    EXPECT_TRUE(DirectWrites().empty());
}

TEST_F(SlicTest, ACalibrationThatNeverCompletesFailsAfter800Waits)
{
    Plug();
    FastChip();
    adapter->SetSlicCalibrationStuck(true);
    const auto before = Clock::now();
    EXPECT_EQ(fxo.FupInitSlic(), 0);
    EXPECT_GE(Clock::now() - before, milliseconds(1000 + 800));
    // The read-back after starting it, then a first poll and one after each wait.
    EXPECT_EQ(SlicReadsOf(96), 1 + 1 + 800);
    ASSERT_FALSE(DirectWrites().empty());
    EXPECT_EQ(DirectWrites().back(), std::make_pair(96, 0x47));
}

TEST_F(SlicTest, ACalibrationErrorOrAnUnreadableStatusFailsStartUp)
{
    for (bool unreadable : {false, true}) {
        UseScenario(PresetScenario("us"));
        Plug();
        FastChip();
        if (unreadable)
            adapter->FailSlicRegisterReads(20, 1); // the status read after calibration
        else
            adapter->SetSlicCalibrationError(true);
        EXPECT_EQ(fxo.FupInitSlic(), 0) << unreadable;
        EXPECT_EQ(DirectWrites().back(), std::make_pair(96, 0x40)) << unreadable;
        EXPECT_EQ(adapter->SlicRegister(64), 0x00);
    }
}

// Part number (bits 5-4 of register 0) and revision (bits 3-0) select the
// writes of 67, 66 and 73.
struct Identity {
    uint8_t value;
    bool batteryFeed; // 67 and 66
    bool commonMode;  // 73
};

class SlicIdentityTest : public SlicTest, public ::testing::WithParamInterface<Identity> {};

TEST_P(SlicIdentityTest, PartNumberAndRevisionGateTheirWrites)
{
    Plug();
    FastChip();
    adapter->SetSlicIdentity(GetParam().value);
    EXPECT_EQ(fxo.FupInitSlic(), 1);
    EXPECT_EQ(DirectlyWritten(67), GetParam().batteryFeed);
    EXPECT_EQ(DirectlyWritten(66), GetParam().batteryFeed);
    EXPECT_EQ(DirectlyWritten(73), GetParam().commonMode);
}

INSTANTIATE_TEST_SUITE_P(Parts, SlicIdentityTest,
                         ::testing::Values(Identity{0x13, false, false}, Identity{0x03, true, false},
                                           Identity{0x22, false, true}));

TEST_F(SlicTest, AChipThatCannotBeIdentifiedIsNotSetUp)
{
    Plug();
    FastChip();
    adapter->FailSlicRegisterReads(0, 1);
    EXPECT_EQ(fxo.FupInitSlic(), 0);
    EXPECT_FALSE(DirectlyWritten(67));
    EXPECT_FALSE(DirectlyWritten(73));
    EXPECT_EQ(adapter->SlicRegister(64), 0x00);
}

// ---- Indirect registers -------------------------------------------------

TEST_F(SlicTest, AnIndirectWriteSendsLowHighAddressAndKeepsItsShadow)
{
    Plug();
    EXPECT_EQ(fxo.WriteProSlicInDirectRegister(14, 0x1234), 1);
    EXPECT_EQ(DirectWrites(true), (Writes{{28, 0x34}, {29, 0x12}, {30, 14}}));
    EXPECT_EQ(adapter->SlicIndirectRegister(14), 0x1234);
    EXPECT_EQ(fxo.ReadProSlicInDirectRegister(14), 0x1234);

    // The shadow holds what was written: DTMF 5 needs 0x0237 in 14 ...
    ASSERT_EQ(fxo.WriteProSlicInDirectRegister(14, 0x0237), 1);
    adapter->ClearLogs();
    ASSERT_EQ(fxo.FupDialDtmf(5), 1);
    EXPECT_EQ(IndirectWrites(), (Writes{{13, 0x6950}, {16, 0x3FC0}, {17, 0x052E}}));
    // ... and after another value through the export it is written again.
    ASSERT_EQ(fxo.WriteProSlicInDirectRegister(14, 0x1234), 1);
    adapter->ClearLogs();
    ASSERT_EQ(fxo.FupDialDtmf(5), 1);
    EXPECT_EQ(IndirectWrites(), (Writes{{14, 0x0237}}));
}

TEST_F(SlicTest, IndirectAccessWaitsForTheChipButNotForever)
{
    Plug();
    adapter->SetSlicIndirectBusyPolls(3);
    ASSERT_EQ(fxo.WriteProSlicInDirectRegister(40, 1), 1); // leaves the chip busy
    adapter->ClearLogs();
    ASSERT_EQ(fxo.WriteProSlicInDirectRegister(41, 2), 1);
    EXPECT_EQ(SlicReadsOf(31), 4); // three busy, then ready

    adapter->SetSlicIndirectBusyPolls(1000);
    ASSERT_EQ(fxo.WriteProSlicInDirectRegister(40, 3), 1);
    adapter->ClearLogs();
    EXPECT_EQ(fxo.WriteProSlicInDirectRegister(41, 4), 1);
    EXPECT_EQ(SlicReadsOf(31), 101); // then it goes on anyway
    EXPECT_EQ(DirectWrites(true), (Writes{{28, 4}, {29, 0}, {30, 41}}));
}

TEST_F(SlicTest, AnIndirectWriteWithALostDataByteIsNotCommitted)
{
    Plug();
    // Passing: the select write and the readiness poll (transfer and fetch's send).
    adapter->FailNextSends(1, 3);
    EXPECT_EQ(fxo.WriteProSlicInDirectRegister(20, 0x7EF0), 0);
    EXPECT_TRUE(SlicWrites().empty());
    EXPECT_TRUE(IndirectWrites().empty());
}

// ---- Tones and ringing --------------------------------------------------

TEST_F(SlicTest, ToneLoadsWriteOnlyWhatTheShadowsSayDiffers)
{
    Plug();
    EXPECT_EQ(fxo.FupDialDtmf(5), 1);
    // Fresh shadows are 0: every non-zero value, in the record's order.
    EXPECT_EQ(IndirectWrites(), (Writes{{13, 0x6950}, {14, 0x0237}, {16, 0x3FC0}, {17, 0x052E}}));
    EXPECT_EQ(DirectWrites(), (Writes{{37, 0x03}, {36, 0x20}, {41, 0x03}, {40, 0x20}, {32, 0x95}, {33, 0x95}}));

    adapter->ClearLogs();
    EXPECT_EQ(fxo.FupDialDtmf(5), 1);
    EXPECT_EQ(DirectWrites(true), (Writes{{32, 0x95}, {33, 0x95}}));

    ASSERT_EQ(fxo.FupDialDtmf(2), 1);
    adapter->ClearLogs();
    EXPECT_EQ(fxo.FupDialDtmf(1), 1);
    EXPECT_EQ(IndirectWrites(), (Writes{{16, 0x4A80}, {17, 0x0499}}));
    EXPECT_EQ(DirectWrites(), (Writes{{32, 0x95}, {33, 0x95}}));
    EXPECT_EQ(adapter->SlicIndirectRegister(13), 0x6D50);
    EXPECT_EQ(adapter->SlicIndirectRegister(14), 0x01FE);

    adapter->ClearLogs();
    EXPECT_EQ(fxo.FupDialDtmf(16), 0);
    EXPECT_EQ(fxo.FupDialDtmf(-1), 0);
    EXPECT_TRUE(adapter->Reports().empty());
}

TEST_F(SlicTest, AToneRegisterThatWasNotSentIsWrittenByTheNextTone)
{
    Plug();
    FeedLine(); // the bus goes to the SLIC: no select writes below
    adapter->SetSlicIndirectBusyPolls(0);
    // Each indirect write is a readiness poll (transfer, data read) and its
    // low, high and address bytes: 13 and 14 take ten sends, then 37 comes.
    adapter->FailNextSends(1, 10);
    EXPECT_EQ(fxo.FupDialDtmf(5), 0);
    ASSERT_EQ(fxo.FupDialDtmf(5), 1);
    EXPECT_EQ(adapter->SlicRegister(37), 0x03);
    // DTMF 1 changes 13 and 14: 14's low byte is lost.
    adapter->FailNextSends(1, 7);
    EXPECT_EQ(fxo.FupDialDtmf(1), 0);
    ASSERT_EQ(fxo.FupDialDtmf(1), 1);
    EXPECT_EQ(adapter->SlicIndirectRegister(14), 0x01FE);
}

TEST_F(SlicTest, DialBusyAndInterceptTonesComeFromTheirRecords)
{
    Plug();
    EXPECT_EQ(fxo.SlicPlayDialTone(), 1);
    EXPECT_EQ(adapter->SlicIndirectRegister(13), 0x7B31);
    EXPECT_EQ(adapter->SlicIndirectRegister(16), 0x726E);
    EXPECT_EQ(adapter->SlicRegister(37), 0xFA);
    EXPECT_EQ(adapter->SlicRegister(32), 0x9F);

    EXPECT_EQ(fxo.SlicPlayBusyTone(), 1);
    const std::pair<uint8_t, uint16_t> busyIndirect[] = {{13, 0x7700}, {14, 0x0089}, {15, 0}, {16, 0x7120},
                                                         {17, 0x00B2}, {18, 0}};
    for (const auto& [reg, value] : busyIndirect)
        EXPECT_EQ(adapter->SlicIndirectRegister(reg), value) << int{reg};
    const std::pair<uint8_t, uint8_t> busyTimers[] = {{36, 0xA0}, {37, 0x0F}, {38, 0xA0}, {39, 0x0F},
                                                      {40, 0xA0}, {41, 0x0F}, {42, 0xA0}, {43, 0x0F}};
    for (const auto& [reg, value] : busyTimers)
        EXPECT_EQ(adapter->SlicRegister(reg), value) << int{reg};

    // The intercept tone differs from busy in the amplitudes and the high
    // bytes of the off times; the variant only in the control value.
    adapter->ClearLogs();
    EXPECT_EQ(fxo.SlicPlayIntpTone(1), 1);
    EXPECT_EQ(IndirectWrites(), (Writes{{14, 0x0030}, {17, 0x0030}}));
    EXPECT_EQ(DirectWrites(), (Writes{{39, 0x3F}, {43, 0x3F}, {32, 0x9D}, {33, 0x9D}}));
    adapter->ClearLogs();
    EXPECT_EQ(fxo.SlicPlayIntpTone(0), 1);
    EXPECT_EQ(DirectWrites(true), (Writes{{32, 0x9F}, {33, 0x9F}}));

    // The three stop names are one function.
    for (auto stop : {fxo.SlicStopDialTone, fxo.SlicStopBusyTone, fxo.SlicStopIntpTone}) {
        ASSERT_EQ(fxo.SlicPlayBusyTone(), 1);
        adapter->ClearLogs();
        EXPECT_EQ(stop(), 1);
        EXPECT_EQ(DirectWrites(true), (Writes{{32, 0x00}, {33, 0x00}}));
    }
}

TEST_F(SlicTest, RingingStopsWhenThePhoneIsLiftedOrWhenAsked)
{
    Plug();
    EXPECT_EQ(fxo.SlicRingPhone(), 1);
    EXPECT_EQ(DirectWrites(), (Writes{{48, 0x80}, {49, 0x2E}, {50, 0x00}, {51, 0x5D}, {34, 0x18}, {64, 0x04}}));
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 0);
    adapter->SetPhoneOffHook(true);
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 1);
    EXPECT_EQ(adapter->SlicRegister(64), 0x01); // the ring was tripped

    adapter->SetPhoneOffHook(false);
    ASSERT_EQ(fxo.SlicRingPhone(), 1);
    adapter->ClearLogs();
    EXPECT_EQ(fxo.SlicStopRing(), 1);
    EXPECT_EQ(DirectWrites(), (Writes{{64, 0x01}}));
}

TEST_F(SlicTest, OperationsReportTransfersThatWereNotSent)
{
    Plug();
    FeedLine(); // the serial bus now goes to the SLIC
    adapter->FailNextSends(1);
    EXPECT_EQ(fxo.SlicRingPhone(), 0);
    adapter->FailNextSends(1);
    EXPECT_EQ(fxo.SlicStopBusyTone(), 0);
    // Passing: the readiness poll's transfer and fetch; then the first data byte.
    adapter->FailNextSends(1, 2);
    EXPECT_EQ(fxo.FupDialDtmf(3), 0);
    adapter->FailNextSends(1);
    EXPECT_EQ(fxo.FupPcmPathSelect(1), 0);
    // The format's other two settings are still made.
    adapter->FailNextSends(1);
    EXPECT_EQ(fxo.FupSetPcmFormat(1), 0);
    EXPECT_EQ(adapter->DaaRegister(33), 0x20);
    EXPECT_EQ(adapter->SlicRegister(1), 0x20);
    EXPECT_EQ(fxo.FupSetPcmFormat(1), 1);
}

// ---- Loop closure and DTMF ----------------------------------------------

TEST_F(SlicTest, LoopClosureNeedsAFedLineAndAGoodReading)
{
    Plug();
    adapter->SetPhoneOffHook(true);
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 0); // the line is open after reset
    FeedLine();
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 1);
    adapter->FailSlicRegisterReads(68, 1);
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 0);
    adapter->SetSlicRegister(68, 0xF2); // reads 243 with the loop closed
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 0);
    adapter->SetSlicRegister(68, 0x00);
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 1);
    adapter->SetPhoneOffHook(false);
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 0);
}

TEST_F(SlicTest, DialledDigitsAreDetectedOneByOneInTheChipsCodes)
{
    Plug();
    FeedLine();
    adapter->SetPhoneOffHook(true);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0);
    ASSERT_TRUE(adapter->DialFromPhone("5#0D"));
    adapter->ClearLogs();
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0x85);
    std::vector<std::tuple<bool, int, int>> accesses;
    for (const auto& access : adapter->BusAccesses())
        if (access.chip == BusAccess::Chip::Slic && access.reg != 31)
            accesses.emplace_back(access.write, access.reg, access.write ? access.value : -1);
    const std::vector<std::tuple<bool, int, int>> expected = {{false, 20, -1}, {true, 20, 0xFF}, {false, 24, -1}};
    EXPECT_EQ(accesses, expected);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0x8C);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0x8A);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0x80);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0);
    EXPECT_FALSE(adapter->DialFromPhone("5x"));

    // Dialled on-hook, nothing is decoded until the phone is lifted.
    adapter->SetPhoneOffHook(false);
    ASSERT_TRUE(adapter->DialFromPhone("7"));
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0);
    adapter->SetPhoneOffHook(true);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0x87);
}

TEST_F(SlicTest, AFailedStatusReadIsNoDigitAndLeavesTheDigitWaiting)
{
    Plug();
    adapter->SetSlicRegister(20, 0x01);
    adapter->SetSlicRegister(24, 0x1B);
    adapter->FailSlicRegisterReads(20, 1);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0);
    EXPECT_TRUE(SlicWrites().empty());
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0x8B);
    EXPECT_EQ(adapter->SlicRegister(20) & 0x01, 0);

    // A digit whose code cannot be read is not made up.
    adapter->SetSlicRegister(20, 0x01);
    adapter->FailSlicRegisterReads(24, 1);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0);

    // With the adapter gone every read fails: no digits, no phone.
    adapter->SetSlicRegister(20, 0x01);
    adapter->Unplug();
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0);
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 0);
    EXPECT_EQ(fxo.FupInitSlic(), 0);
}

TEST_F(SlicTest, AScenarioLiftsThePhoneAndDialsOnTheAdaptersClock)
{
    Scenario scenario = PresetScenario("us");
    scenario.phoneOffHookMs = 3000;
    scenario.phoneDigits = "19";
    scenario.phoneDigitGapMs = 200;
    UseScenario(scenario);
    Plug(); // opening the adapter starts the phone's schedule
    FeedLine();
    adapter->AdvanceClock(2999);
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 0);
    adapter->AdvanceClock(1);
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 1);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0);
    adapter->AdvanceClock(200);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0x81);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0);
    adapter->AdvanceClock(200);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0x89);
}

// ---- PCM ----------------------------------------------------------------

TEST_F(SlicTest, PcmPathAndFormatFollowTheirTables)
{
    Plug();
    const uint8_t paths[] = {0x10, 0x04, 0x08, 0x00, 0x0C};
    for (uint8_t path = 0; path < 5; ++path) {
        EXPECT_EQ(fxo.FupPcmPathSelect(path), 1);
        EXPECT_EQ(adapter->ControllerRegister(0), paths[path]);
        EXPECT_EQ(adapter->Pcm().path, path);
    }

    struct Format {
        uint8_t controller, daa, slic;
        VirtualAdapterDevice::PcmLaw law;
    };
    const Format formats[] = {{0x00, 0x28, 0x28, VirtualAdapterDevice::PcmLaw::MuLaw},
                              {0x02, 0x20, 0x20, VirtualAdapterDevice::PcmLaw::ALaw},
                              {0x06, 0x38, 0x3C, VirtualAdapterDevice::PcmLaw::Linear16}};
    for (uint8_t format = 0; format < 3; ++format) {
        adapter->ClearLogs();
        EXPECT_EQ(fxo.FupSetPcmFormat(format), 1);
        EXPECT_EQ(WritesTo(16), std::vector<uint8_t>{formats[format].controller});
        const auto bus = adapter->BusAccesses();
        ASSERT_EQ(bus.size(), 2u);
        EXPECT_EQ(bus[0].chip, BusAccess::Chip::Daa);
        EXPECT_EQ(std::make_pair(int{bus[0].reg}, int{bus[0].value}), std::make_pair(33, int{formats[format].daa}));
        EXPECT_EQ(bus[1].chip, BusAccess::Chip::Slic);
        EXPECT_EQ(std::make_pair(int{bus[1].reg}, int{bus[1].value}), std::make_pair(1, int{formats[format].slic}));
        EXPECT_EQ(adapter->Pcm().law, formats[format].law);
        // The controller's format goes first.
        EXPECT_EQ(Sent().front().bytes[4], 16);
    }

    adapter->ClearLogs();
    EXPECT_EQ(fxo.FupPcmPathSelect(5), 0);
    EXPECT_EQ(fxo.FupSetPcmFormat(3), 0);
    EXPECT_TRUE(adapter->Reports().empty());
}

} // namespace
} // namespace parvane::test
