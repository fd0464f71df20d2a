// The ring rules, driven pass by pass with a hand-moved clock and a
// stand-in FXO library whose ring-detect input the test sets.
#include "device/DeviceOper.h"
#include "tests/device/DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {


constexpr uint32_t kStep = 50; // clock advance per pass

// A port whose DAA is ready, watched pass by pass.
class Line : public parvane::test::FakePort {
public:
    explicit Line(uint32_t startTick = 100000, bool initialise = true)
    {
        EXPECT_EQ(Load(0), 1);
        if (initialise) {
            EXPECT_EQ(device->InitializeDaa(), 1);
        }
        fxo->Reset();
        trace.Clear();
        clock.Set(startTick);
    }

    // One pass with the ring input as given, then the clock moves on.
    void Pass(bool ring)
    {
        fxo->SetRing(ring);
        device->WatchLine();
        clock.Advance(kStep);
    }
    // Passes covering the given time with the input as given.
    void Hold(bool ring, uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += kStep)
            Pass(ring);
    }
    bool Ringing() const { return device->m_bPstnRing == 1; }
    bool Reported() const { return device->m_bPstnRingReported == 1; }
    int Requests() const { return requester.m_requests; }
    int LedMode() const { return device->m_nLedMode; }
};

TEST(RingDetection, OneBurstLongerThan300msConfirmsAndOneOf300DoesNot)
{
    Line line;
    line.Hold(true, 350);
    EXPECT_FALSE(line.Ringing()) << "300 ms into the burst is not yet more than 300";
    line.Pass(false);
    EXPECT_TRUE(line.Ringing());
    EXPECT_TRUE(line.Reported());
    EXPECT_EQ(line.Requests(), 1);
    EXPECT_EQ(line.requester.m_lastDelayMs, 2000u);
    EXPECT_EQ(line.LedMode(), LED_MODE_BLINK);
    EXPECT_EQ(line.trace.Lines(),
              (std::vector<std::string>{
                  "PSTN ring signal is coming, need to confirm if it is true.(index=0)",
                  "Set m_dwPstnStartRingTickCountFor1s=CurrentTime.(index=0)",
                  "PSTN ring signal is gone after 350 ms. (m_dwTotalPstnRingPeriodIn1s=350)(index=0)",
                  "Pstn ring is coming(index=0)",
              }));

    Line shortBurst;
    shortBurst.Hold(true, 300);
    shortBurst.Pass(false);
    shortBurst.Hold(false, 2000);
    EXPECT_FALSE(shortBurst.Ringing());
    EXPECT_EQ(shortBurst.Requests(), 0);
    EXPECT_EQ(shortBurst.trace.Count("Reset m_dwPstnStartRingTickCountFor1s 002.(index=0)"), 1);

    // A burst still on is confirmed as soon as it has lasted more than 300 ms.
    Line longBurst;
    longBurst.Hold(true, 400);
    longBurst.Pass(true);
    EXPECT_TRUE(longBurst.Ringing());
    EXPECT_EQ(longBurst.Requests(), 1);
}

TEST(RingDetection, ShortBurstsAddUpInsideTheWindow)
{
    Line line; // 250 + 200 = 450 within a second
    line.Hold(true, 250);
    line.Hold(false, 100);
    line.Hold(true, 200);
    EXPECT_FALSE(line.Ringing());
    line.Pass(false);
    EXPECT_TRUE(line.Ringing());
    EXPECT_EQ(line.trace.Count("Total PSTN ring signal(in 1 second) is 450 ms (>400ms), so we think PSTN ring "
                                 "happen! (index=0)"),
              1);
    EXPECT_EQ(line.trace.Count("Reset m_dwPstnStartRingTickCountFor1s 001.(index=0)"), 1);
    EXPECT_EQ(line.device->m_dwPstnStartRingTickCountFor1s, 0u);
    EXPECT_EQ(line.device->m_dwTotalPstnRingPeriodIn1s, 0u);

    Line exact; // 200 + 200: exactly 400 counts
    exact.Hold(true, 200);
    exact.Hold(false, 100);
    exact.Hold(true, 200);
    exact.Pass(false);
    EXPECT_TRUE(exact.Ringing());
    EXPECT_EQ(exact.trace.CountContaining("is 400 ms (>400ms)"), 1);

    Line tooLittle; // 150 + 150; the window closes 1000 ms after the first burst began
    const uint32_t start = tooLittle.clock.Now();
    tooLittle.Hold(true, 150);
    tooLittle.Hold(false, 100);
    tooLittle.Hold(true, 150);
    while (tooLittle.clock.Now() - start <= 1000)
        tooLittle.Pass(false);
    EXPECT_EQ(tooLittle.trace.CountContaining("002"), 0) << "not closed at exactly 1000 ms";
    EXPECT_EQ(tooLittle.device->m_dwTotalPstnRingPeriodIn1s, 300u);
    tooLittle.Pass(false);
    EXPECT_EQ(tooLittle.trace.Count("Reset m_dwPstnStartRingTickCountFor1s 002.(index=0)"), 1);
    EXPECT_EQ(tooLittle.device->m_dwTotalPstnRingPeriodIn1s, 0u);
    EXPECT_FALSE(tooLittle.Ringing());
    EXPECT_EQ(tooLittle.Requests(), 0);
}

TEST(RingDetection, ABurstRunningAcrossTheWindowCloseCountsInTheNextWindow)
{
    Line line;
    line.Hold(true, 150);     // opens the window at 0
    line.Hold(false, 750);
    line.Hold(true, 250);     // 900..1150: the window closes at 1050 while it runs
    EXPECT_EQ(line.trace.CountContaining("002"), 1);
    line.Pass(false);         // adds 250 to the emptied total; no window open
    EXPECT_EQ(line.device->m_dwTotalPstnRingPeriodIn1s, 250u);
    EXPECT_FALSE(line.Ringing());
    line.Hold(false, 100);
    line.Hold(true, 200);     // opens a new window; 250 + 200 = 450
    line.Pass(false);
    EXPECT_TRUE(line.Ringing());
    EXPECT_EQ(line.trace.CountContaining("is 450 ms (>400ms)"), 1);
}

TEST(RingDetection, ReleasedOnlyAfterMoreThan4200msOfUnbrokenSilence)
{
    Line line;
    line.Hold(true, 350);
    line.Pass(false);         // confirmed and reported
    ASSERT_TRUE(line.Reported());
    line.Pass(false);         // the silence timing starts here
    const uint32_t silenceStart = line.device->m_dwRingOffTickCount;
    ASSERT_NE(silenceStart, 0u);

    // A burst inside the 4200 ms restarts the timing.
    line.Hold(false, 4000);
    line.Hold(true, 100);
    EXPECT_EQ(line.device->m_dwRingOffTickCount, 0u);
    line.Pass(false);
    line.Pass(false);
    const uint32_t restarted = line.device->m_dwRingOffTickCount;
    EXPECT_GT(restarted - silenceStart, 4000u);
    while (line.clock.Now() - restarted <= 4200)
        line.Pass(false);
    EXPECT_TRUE(line.Ringing()) << "4200 ms of silence is not more than 4200";
    EXPECT_EQ(line.LedMode(), LED_MODE_BLINK);
    line.Pass(false);
    EXPECT_FALSE(line.Ringing());
    EXPECT_FALSE(line.Reported());
    EXPECT_EQ(line.LedMode(), LED_MODE_ON);
    EXPECT_EQ(line.Requests(), 1) << "one request for the whole call";
    EXPECT_EQ(line.trace.Count("Pstn ring is coming(index=0)"), 1);

    // The next call is a new report and a new request.
    line.Hold(true, 400);
    line.Pass(false);
    EXPECT_EQ(line.Requests(), 2);
}

TEST(RingDetection, LedBlinksWhileReportedAndStaysOnAfter)
{
    Line line;
    EXPECT_EQ(line.device->Binding().LedState(), 1) << "steady on once the DAA is ready";
    line.Hold(true, 350);
    line.Pass(false);
    ASSERT_EQ(line.LedMode(), LED_MODE_BLINK);
    line.fxo->Reset();
    line.Hold(false, 1000);   // 20 passes, a toggle every 250 ms
    EXPECT_EQ(line.fxo->CallsStartingWith("FupLedSwitch"),
              (std::vector<std::string>{"FupLedSwitch(0)", "FupLedSwitch(1)", "FupLedSwitch(0)", "FupLedSwitch(1)"}));

    line.Hold(false, 4000);   // released
    ASSERT_EQ(line.LedMode(), LED_MODE_ON);
    line.Hold(false, 200);
    line.fxo->Reset();
    line.Hold(false, 1000);
    EXPECT_TRUE(line.fxo->CallsStartingWith("FupLedSwitch").empty()) << "touched only when it must change";
    EXPECT_EQ(line.device->Binding().LedState(), 1);

    // Mode 1 switches it off once; mode 0 leaves it alone.
    line.device->SetLedMode(LED_MODE_OFF);
    line.Hold(false, 500);
    EXPECT_EQ(line.fxo->CallsStartingWith("FupLedSwitch"), std::vector<std::string>{"FupLedSwitch(0)"});
    line.device->Binding().FupLedSwitch(1);
    line.device->SetLedMode(LED_MODE_NONE);
    line.fxo->Reset();
    line.Hold(false, 500);
    EXPECT_TRUE(line.fxo->CallsStartingWith("FupLedSwitch").empty());
}

TEST(RingDetection, NoAnswerRequestedWhileTheLineIsAnswered)
{
    Line line;
    line.device->m_bLineAnswered = 1;
    line.Hold(true, 400);
    line.Pass(false);
    EXPECT_TRUE(line.Reported());
    EXPECT_EQ(line.LedMode(), LED_MODE_BLINK);
    EXPECT_EQ(line.Requests(), 0);

    // Without a requester a ring is still reported.
    Line alone;
    alone.device->SetAnswerRequester(nullptr);
    alone.Hold(true, 400);
    alone.Pass(false);
    EXPECT_TRUE(alone.Reported());
    EXPECT_EQ(alone.Requests(), 0);
}

TEST(RingDetection, NothingPolledBeforeTheDaaIsReady)
{
    Line line(100000, false);
    line.Hold(true, 1000);
    line.Hold(false, 200);
    EXPECT_TRUE(line.fxo->Calls().empty()) << "neither ring input nor LED";
    EXPECT_FALSE(line.Ringing());
    EXPECT_TRUE(line.trace.Lines().empty());

    // Nor after a start-up that failed twice.
    line.fxo->FailInitDaa(2);
    EXPECT_EQ(line.device->InitializeDaa(), 0);
    line.fxo->Reset();
    line.Hold(true, 1000);
    EXPECT_TRUE(line.fxo->Calls().empty());
}

TEST(RingDetection, TickWrapAround)
{
    Line line(0xFFFFFFFFu - 120);
    line.Hold(true, 350);     // runs across the wrap
    line.Pass(false);
    EXPECT_EQ(line.trace.CountContaining("is gone after 350 ms"), 1);
    EXPECT_TRUE(line.Ringing());
    line.Hold(false, 4200);
    EXPECT_TRUE(line.Ringing());
    line.Hold(false, 100);
    EXPECT_FALSE(line.Ringing());

    // A burst that starts on tick 0 is still a running burst.
    Line atZero(0xFFFFFFFFu - 99);
    atZero.Pass(false);
    atZero.Pass(false);
    ASSERT_EQ(atZero.clock.Now(), 0u);
    atZero.Hold(true, 200);
    EXPECT_EQ(atZero.trace.CountContaining("PSTN ring signal is coming"), 1);
    atZero.Hold(false, 100);
    atZero.Hold(true, 250);
    atZero.Pass(false);
    EXPECT_TRUE(atZero.Ringing());
}

} // namespace
