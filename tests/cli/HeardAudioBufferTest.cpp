// What parvane-cli keeps of the audio it heard: the most recent stretch,
// with positions counted from the first sample heard, as learn follows them.
#include "cli/HeardAudioBuffer.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

using parvane::cli::HeardAudioBuffer;

TEST(HeardAudioBuffer, KeepsTheMostRecentStretchAtAbsolutePositions)
{
    // Left channel 0, 1, 2, ...; the right channel is never kept.
    std::vector<int16_t> stereo(2 * 1500, -1);
    for (int i = 0; i < 1500; ++i)
        stereo[2 * i] = static_cast<int16_t>(i);
    HeardAudioBuffer heard(1000);
    heard.AppendLeft(stereo.data(), 600);
    uint64_t from = 0;
    EXPECT_EQ(heard.From(597, &from), (std::vector<int16_t>{597, 598, 599}));
    EXPECT_EQ(from, 597u);

    heard.AppendLeft(stereo.data() + 2 * 600, 900);
    EXPECT_EQ(heard.Total(), 1500u);
    EXPECT_EQ(heard.Milliseconds(), 1500u * 1000 / 48000);
    std::vector<int16_t> expected(1000);
    std::iota(expected.begin(), expected.end(), int16_t{500});
    EXPECT_EQ(heard.Kept(), expected) << "the oldest 500 dropped";

    // A reader keeping up goes on where it was; one left behind goes on
    // from the oldest sample kept, and is told where that is.
    EXPECT_EQ(heard.From(1497, &from), (std::vector<int16_t>{1497, 1498, 1499}));
    EXPECT_EQ(from, 1497u);
    EXPECT_EQ(heard.From(100, &from), expected);
    EXPECT_EQ(from, 500u);
    EXPECT_TRUE(heard.From(1500).empty());

    heard.Clear();
    EXPECT_EQ(heard.Total(), 0u);
    EXPECT_TRUE(heard.Kept().empty());
}

} // namespace
