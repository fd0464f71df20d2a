// Listening to an audio input: device choice by name, the left channel of
// the captured stream reaching the detector, stop and restart.

#include "tests/audio/FakeAudioBackend.h"
#include "tests/vexlin/ToneCorpus.h"
#include "vexlin/LineListener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace parvane::vexlin;
namespace corpus = parvane::vexlin::corpus;
using parvane::test::FakeAudioBackend;
using parvane::test::ScopedAudioBackends;

const BusyToneRequest kChina{450, 0, 350, 0, 0};

// China's busy tone on the left channel, something else on the right.
std::vector<int16_t> StereoLine(int durationMs)
{
    std::mt19937 random(3);
    corpus::ToneVariant variant;
    variant.durationMs = durationMs;
    variant.snrDb = 20;
    const auto left = corpus::ToCapture(corpus::Cadenced(*corpus::FindBusyTone("cn"), variant, random));
    const auto right = corpus::ToCapture(corpus::WhiteNoise(durationMs, -10, random));
    std::vector<int16_t> stereo(left.size() * 2);
    for (size_t i = 0; i < left.size(); ++i) {
        stereo[2 * i] = left[i];
        stereo[2 * i + 1] = right[i];
    }
    return stereo;
}

// Delivers the frames as the device would, in 20 ms pieces, without running
// ahead of the listener by more than its capture ring holds.
void Deliver(FakeAudioBackend& backend, const LineListener& listener, const std::vector<int16_t>& stereo)
{
    constexpr size_t kPiece = 960 * 2;
    const int64_t before = listener.HeardMs();
    for (size_t at = 0; at < stereo.size(); at += kPiece) {
        backend.Capture(std::vector<int16_t>(stereo.begin() + at, stereo.begin() + std::min(stereo.size(), at + kPiece)));
        const int64_t sent = static_cast<int64_t>((at + kPiece) / 96);
        for (int wait = 0; wait < 2000 && listener.HeardMs() - before < sent - 500; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const int64_t total = static_cast<int64_t>(stereo.size() / 96);
    for (int wait = 0; wait < 5000 && listener.HeardMs() - before < total - 10; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(LineListener, DetectsOnTheLeftChannelOfTheNamedInput)
{
    FakeAudioBackend backend;
    backend.inputs = {"Built-in Microphone", "Tarnbox USB Audio (virtual)"};
    ScopedAudioBackends installed({&backend});
    LineListener listener;
    std::string why;
    ASSERT_TRUE(listener.Start("Tarnbox", kChina, &why)) << why;
    EXPECT_TRUE(listener.Listening());
    EXPECT_EQ(listener.DeviceName(), "Tarnbox USB Audio (virtual)");
    Deliver(backend, listener, StereoLine(5000));
    EXPECT_GE(listener.HeardMs(), 4900);
    EXPECT_TRUE(listener.Found());
    EXPECT_GE(listener.Count(), 4);
    EXPECT_NEAR(listener.PerhapsPeriod(), 350, 3);

    // Stop closes the device and keeps what was found; a new start forgets it.
    listener.Stop();
    listener.Stop();
    EXPECT_FALSE(listener.Listening());
    EXPECT_TRUE(listener.Found());
    ASSERT_TRUE(listener.Start("Tarnbox", {450, 0, 500, 0, 0}, &why)) << why;
    EXPECT_EQ(listener.Count(), 0);
    Deliver(backend, listener, StereoLine(3000));
    EXPECT_FALSE(listener.Found());
    EXPECT_EQ(backend.captureOpens, 2);
}

TEST(LineListener, RefusesWithoutAMatchingInputOrADetectableTone)
{
    FakeAudioBackend backend;
    ScopedAudioBackends installed({&backend});
    LineListener listener;
    std::string why;
    EXPECT_FALSE(listener.Start("Tarnbox", kChina, &why));
    EXPECT_EQ(why, "there is no audio input device");

    backend.inputs = {"Built-in Microphone"};
    EXPECT_FALSE(listener.Start("Tarnbox", kChina, &why));
    EXPECT_EQ(why, "no audio input device name contains \"Tarnbox\"");
    EXPECT_FALSE(listener.Start("", kChina, &why));

    backend.inputs = {"Tarnbox USB Audio"};
    EXPECT_FALSE(listener.Start("Tarnbox", {0, 0, 350, 0, 0}, &why));
    EXPECT_FALSE(listener.Start("Tarnbox", {450, 24000, 350, 0, 0}, &why));
    EXPECT_EQ(backend.captureOpens, 0);

    backend.failStart = true;
    EXPECT_FALSE(listener.Start("Tarnbox", kChina, &why));
    EXPECT_NE(why.find("start refused"), std::string::npos) << why;
    EXPECT_FALSE(listener.Listening());
    EXPECT_EQ(listener.Count(), 0);
    EXPECT_FALSE(listener.Found());
}

} // namespace
