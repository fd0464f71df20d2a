// Cadence timing on made-up tone decisions, one per millisecond.

#include "vexlin/CadenceTracker.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

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

TEST(CadenceTracker, FoundAfterOneWholeMatchingCycle)
{
    CadenceTracker tracker({500, 0, 0});
    Feed(tracker, false, 100);
    FeedCycles(tracker, 200, 500, 1); // no match
    Feed(tracker, true, 20);
    EXPECT_FALSE(tracker.Found());
    Feed(tracker, true, 480);
    Feed(tracker, false, 500);
    Feed(tracker, true, 20);
    EXPECT_EQ(tracker.Count(), 1);
    EXPECT_TRUE(tracker.Found());
    // Known once the next tone has held for the settling time.
    EXPECT_EQ(tracker.FoundAtMs(), 100 + 700 + 1000 + CadenceTracker::kToneSettleMs);
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

// 200 on, 200 off, 200 on, 600 off: the request may begin at any of its
// pairs, the line at any point of it; a whole pattern counts once.
TEST(CadenceTracker, PatternsOfSeveralPairsAreMatchedWhole)
{
    const std::vector<CadencePair> pattern = {{200, 200}, {200, 600}};
    for (const auto& request : {pattern, std::vector<CadencePair>{{200, 600}, {200, 200}}}) {
        CadenceTracker tracker({0, 0, 0, request});
        Feed(tracker, false, 100);
        FeedCycles(tracker, 200, 600, 1);
        FeedCycles(tracker, 200, 200, 1);
        Feed(tracker, true, 20);
        EXPECT_TRUE(tracker.Found());
        for (int i = 0; i < 4; ++i) {
            Feed(tracker, true, 180); // the 20 ms before make it 200
            Feed(tracker, false, 600);
            FeedCycles(tracker, 200, 200, 1);
            Feed(tracker, true, 20);
        }
        EXPECT_EQ(tracker.Count(), 5);
        EXPECT_EQ(tracker.Pattern(), pattern);
        EXPECT_EQ(tracker.PerhapsPeriod(), 1200);
    }
    // Its one-pair halves alone are not the pattern, nor is the pattern one
    // of its pairs: a count that stops short of ten.
    CadenceTracker halves({0, 0, 0, pattern}), half({200, 200, 200});
    Feed(halves, false, 100);
    FeedCycles(halves, 200, 200, 8);
    Feed(halves, true, 20);
    EXPECT_FALSE(halves.Found());
    Feed(half, false, 100);
    for (int i = 0; i < 10; ++i) {
        FeedCycles(half, 200, 200, 1);
        FeedCycles(half, 200, 600, 1);
    }
    Feed(half, true, 20);
    EXPECT_LE(half.Count(), 2);
    EXPECT_EQ(CadenceTracker::CheckPattern({{200, 200}, {200, 200}, {200, 200}, {200, 200}, {200, 200}}),
              "more than 4 on/off pairs");
    EXPECT_EQ(CadenceTracker::CheckPattern({{200, 20}}), "cadence time 20 ms is outside 60..5000 ms");
}

TEST(CadenceTracker, LearnsPatternsOfUpToFourPairsFromTwoOfTheirCycles)
{
    const std::vector<std::vector<CadencePair>> patterns = {
        {{1000, 4000}},
        {{200, 200}, {200, 600}},
        {{100, 100}, {100, 300}, {300, 900}},
        {{150, 150}, {300, 150}, {150, 150}, {600, 1000}},
    };
    for (const auto& pattern : patterns) {
        CadenceTracker tracker;
        Feed(tracker, false, 300);
        for (int cycle = 0; cycle < 2; ++cycle)
            for (const CadencePair& pair : pattern)
                FeedCycles(tracker, pair.onMs, pair.offMs, 1);
        Feed(tracker, true, 20);
        EXPECT_TRUE(tracker.Found()) << pattern.size() << " pairs";
        EXPECT_EQ(tracker.Pattern(), pattern) << pattern.size() << " pairs";
        EXPECT_EQ(tracker.Count(), 1);
    }
}

// On and off times that wander by up to 15 % from cycle to cycle around
// 350/350: learnt as their middle, and verified cycle after cycle.
TEST(CadenceTracker, AWanderingLineIsLearntAndVerified)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> wander(0.85, 1.15);
    std::vector<std::pair<int, int>> cycles;
    for (int i = 0; i < 17; ++i)
        cycles.emplace_back(static_cast<int>(350 * wander(random)), static_cast<int>(350 * wander(random)));
    CadenceTracker learning, verifying({350, 350, 350}), wrong({450, 450, 450});
    for (CadenceTracker* tracker : {&learning, &verifying, &wrong}) {
        Feed(*tracker, false, 100);
        for (auto [on, off] : cycles)
            FeedCycles(*tracker, on, off, 1);
        Feed(*tracker, true, 20);
    }
    EXPECT_TRUE(learning.Found());
    ASSERT_EQ(learning.Pattern().size(), 1u);
    EXPECT_NEAR(learning.Pattern()[0].onMs, 350, 35);
    EXPECT_NEAR(learning.Pattern()[0].offMs, 350, 35);
    EXPECT_GE(verifying.Count(), 12); // of 17: ten is the verdict
    EXPECT_TRUE(verifying.Found());
    EXPECT_EQ(wrong.Count(), 0);
}

TEST(CadenceTracker, ATonePastTheLongestBurstIsHeldWithoutCadence)
{
    CadenceTracker tracker;
    Feed(tracker, false, 200);
    Feed(tracker, true, 7000);
    EXPECT_EQ(tracker.ToneHeldMs(), 7000);
    EXPECT_FALSE(tracker.Found());
    Feed(tracker, false, 100);
    EXPECT_EQ(tracker.ToneHeldMs(), 0);
}


// Decisions missing for a moment break the stream: a cycle before the gap
// and one after it are not two cycles in a row.
TEST(CadenceTracker, CyclesDoNotRepeatAcrossAGapInTheDecisions)
{
    CadenceTracker tracker;
    Feed(tracker, false, 100);
    FeedCycles(tracker, 400, 200, 1);
    Feed(tracker, true, 400); // completes the cycle before the gap
    tracker.SkipFrame();
    Feed(tracker, false, 200);
    FeedCycles(tracker, 400, 200, 1);
    Feed(tracker, true, 20); // completes the first cycle after it
    EXPECT_FALSE(tracker.Found());
    Feed(tracker, true, 380);
    Feed(tracker, false, 200);
    Feed(tracker, true, 20);
    EXPECT_TRUE(tracker.Found());
}

} // namespace
