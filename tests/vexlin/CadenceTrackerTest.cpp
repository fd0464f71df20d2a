// Cadence timing on made-up tone decisions, one per millisecond.

#include "vexlin/CadenceTracker.h"

#include <gtest/gtest.h>

namespace {

using namespace parvane::vexlin;

void Feed(CadenceTracker& tracker, bool tone, int ms)
{
    for (int i = 0; i < ms; ++i)
        tracker.AddFrame(tone);
}

void FeedCycles(CadenceTracker& tracker, int onMs, int offMs, int cycles)
{
    for (int i = 0; i < cycles; ++i) {
        Feed(tracker, true, onMs);
        Feed(tracker, false, offMs);
    }
}

TEST(CadenceTracker, TimesCyclesToTheMillisecondAndIgnoresTheCutFirstOne)
{
    CadenceTracker tracker({350, 350, 350});
    Feed(tracker, true, 120); // the stream began inside a tone
    Feed(tracker, false, 350);
    FeedCycles(tracker, 351, 349, 3);
    Feed(tracker, true, 50); // completes the third cycle
    ASSERT_EQ(tracker.RecentCycles().size(), 3u);
    for (const Cycle& cycle : tracker.RecentCycles()) {
        EXPECT_EQ(cycle.onMs, 351);
        EXPECT_EQ(cycle.offMs, 349);
        EXPECT_TRUE(cycle.matched);
    }
    EXPECT_EQ(tracker.Count(), 3);
    EXPECT_TRUE(tracker.Found());
    EXPECT_EQ(tracker.PerhapsPeriod(), 350);
}

TEST(CadenceTracker, ShortDropoutsAndClicksNeitherSplitNorShiftSegments)
{
    CadenceTracker tracker({500, 500, 500});
    Feed(tracker, false, 100);
    for (int cycle = 0; cycle < 3; ++cycle) {
        Feed(tracker, true, 200);
        Feed(tracker, false, CadenceTracker::kSilenceSettleMs - 1); // drop-out inside the tone
        Feed(tracker, true, 301 - CadenceTracker::kSilenceSettleMs);
        Feed(tracker, false, 250);
        Feed(tracker, true, CadenceTracker::kToneSettleMs - 1); // click inside the pause
        Feed(tracker, false, 251 - CadenceTracker::kToneSettleMs);
    }
    Feed(tracker, true, 30);
    ASSERT_EQ(tracker.RecentCycles().size(), 3u);
    EXPECT_EQ(tracker.RecentCycles().back().onMs, 500);
    EXPECT_EQ(tracker.RecentCycles().back().offMs, 500);
    EXPECT_EQ(tracker.Count(), 3);
}

TEST(CadenceTracker, FoundOnlyAfterTwoMatchingCyclesInARow)
{
    CadenceTracker tracker({500, 0, 0});
    Feed(tracker, false, 100);
    FeedCycles(tracker, 500, 500, 1);
    FeedCycles(tracker, 200, 500, 1); // no match between the two
    FeedCycles(tracker, 500, 500, 1);
    Feed(tracker, true, 20);
    EXPECT_EQ(tracker.Count(), 2);
    EXPECT_FALSE(tracker.Found());
    Feed(tracker, true, 480);
    Feed(tracker, false, 500);
    Feed(tracker, true, 20);
    EXPECT_EQ(tracker.Count(), 3);
    EXPECT_TRUE(tracker.Found());
    // Known once the next tone has held for the settling time.
    EXPECT_EQ(tracker.FoundAtMs(), 100 + 1000 + 700 + 1000 + 1000 + CadenceTracker::kToneSettleMs);
}

TEST(CadenceTracker, LearningCountsEveryCycleThatRepeatsTheOneBefore)
{
    CadenceTracker tracker;
    Feed(tracker, false, 100);
    FeedCycles(tracker, 400, 200, 2);
    FeedCycles(tracker, 400, 2000, 1); // a ring-like long pause breaks the run
    FeedCycles(tracker, 300, 200, 4);
    Feed(tracker, true, 20);
    // 400/200 repeats once, then 300/200 three times.
    EXPECT_EQ(tracker.Count(), 4);
    EXPECT_TRUE(tracker.Found());
    EXPECT_EQ(tracker.PerhapsPeriod(), 500);
}

TEST(CadenceTracker, PeriodIsTheMedianOfTheLastCycles)
{
    CadenceTracker tracker({350, 0, 0});
    Feed(tracker, false, 100);
    FeedCycles(tracker, 340, 360, 3);
    FeedCycles(tracker, 120, 580, 1); // a tone broken by noise
    FeedCycles(tracker, 355, 345, 3);
    Feed(tracker, true, 20);
    EXPECT_EQ(tracker.PerhapsPeriod(), 350);
    EXPECT_EQ(tracker.Count(), 6);
}

TEST(CadenceTracker, PeriodConventionOfTheCallers)
{
    EXPECT_EQ(CadenceTracker::PeriodOf(350, 350), 350);
    EXPECT_EQ(CadenceTracker::PeriodOf(345, 356), 351);
    EXPECT_EQ(CadenceTracker::PeriodOf(350, 250), 600);
    EXPECT_EQ(CadenceTracker::Tolerance(200), 40);
    EXPECT_EQ(CadenceTracker::Tolerance(750), 75);
    EXPECT_TRUE(CadenceTracker::Near(540, 500));
    EXPECT_FALSE(CadenceTracker::Near(551, 500));
}

TEST(CadenceTracker, ASteadyToneOrSilenceIsNoCadence)
{
    CadenceTracker tone, silence;
    Feed(tone, true, 20000);
    Feed(silence, false, 20000);
    for (const CadenceTracker* tracker : {&tone, &silence}) {
        EXPECT_EQ(tracker->Count(), 0);
        EXPECT_FALSE(tracker->Found());
        EXPECT_EQ(tracker->PerhapsPeriod(), 0);
    }
}

} // namespace
