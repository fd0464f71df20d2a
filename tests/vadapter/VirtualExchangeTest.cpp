// The exchange behind the virtual line: the program's own calls, dialled
// with DTMF played into the adapter's output, and the DTMF receiver's
// limits of level and twist.
#include "platform/AdapterIds.h"
#include "vadapter/DtmfDecoder.h"
#include "vadapter/VirtualAdapterDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace parvane {
namespace {

using Report = std::array<uint8_t, 9>;
constexpr double kLowGroup[4] = {697, 770, 852, 941};
constexpr double kHighGroup[4] = {1209, 1336, 1477, 1633};

// Digits as a telephone sends them: each tone pair `onMs`, then `offMs` of
// silence; the high tone `twistDb` stronger than the low one.
std::vector<int16_t> Dtmf(const std::string& digits, double dbm0, double twistDb = 0.0, int onMs = 100,
                          int offMs = 100, uint32_t rate = 48000)
{
    const std::string keys = "123A456B789C*0#D";
    std::vector<int16_t> samples;
    for (char digit : digits) {
        const auto key = keys.find(digit);
        const double low = kLowGroup[key / 4];
        const double high = kHighGroup[key % 4];
        const size_t on = rate * onMs / 1000;
        for (size_t i = 0; i < on; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double value = DtmfAmplitude(dbm0) * std::sin(2 * std::numbers::pi * low * t) +
                                 DtmfAmplitude(dbm0 + twistDb) * std::sin(2 * std::numbers::pi * high * t);
            samples.push_back(static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L)));
        }
        samples.insert(samples.end(), rate * offMs / 1000, 0);
    }
    return samples;
}

std::string Decode(const std::vector<int16_t>& samples, uint32_t rate = 48000)
{
    DtmfDecoder decoder(rate);
    std::string digits;
    decoder.Process(samples.data(), samples.size(), [&](char digit, uint64_t) { digits += digit; });
    return digits;
}

class VirtualExchangeTest : public ::testing::Test {
protected:
    void Start(const char* preset)
    {
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(LoadScenario(preset, scenario, error));
        adapter.Reset(scenario);
        adapter.UseManualClock();
        handle = adapter.Open(kAdapterVendorId, 0x0110);
        ASSERT_GT(handle, 0);
    }

    // The DAA's hook register, written as the FXO library writes it.
    void Hook(bool offHook)
    {
        int error = 0;
        const Report report = {0, 243, 4, 237, 25, 0x20, 5, static_cast<uint8_t>(offHook ? 0x01 : 0x00), 0x61};
        ASSERT_TRUE(adapter.SendFeatureReport(handle, report.data(), report.size(), error));
        ASSERT_EQ(adapter.IsOffHook(), offHook);
    }

    void Play(const std::vector<int16_t>& mono)
    {
        std::vector<int16_t> stereo;
        for (int16_t sample : mono)
            stereo.insert(stereo.end(), {sample, sample});
        const int playback = adapter.BeginPlayback(48000, 2);
        adapter.PlayAudio(playback, stereo.data(), mono.size());
        adapter.EndPlayback(playback);
    }

    // RMS of the line between these ms after the off-hook.
    double LineRms(int64_t fromMs, int64_t toMs)
    {
        std::vector<int16_t> stereo(static_cast<size_t>(toMs - fromMs) * 48 * 2);
        adapter.RenderLineAudio(stereo.data(), stereo.size() / 2, fromMs * 48);
        double sum = 0;
        for (size_t i = 0; i < stereo.size(); i += 2)
            sum += static_cast<double>(stereo[i]) * stereo[i];
        return std::sqrt(sum / (stereo.size() / 2));
    }

    // The first ms (in 5 ms steps) from `fromMs` on where the line sounds.
    int64_t ToneStart(int64_t fromMs, int64_t untilMs)
    {
        for (int64_t at = fromMs; at < untilMs; at += 5)
            if (LineRms(at, at + 5) > 100)
                return at;
        return -1;
    }

    VirtualAdapterDevice adapter{Scenario()};
    int handle = 0;
};

TEST_F(VirtualExchangeTest, EachNumberGetsItsAnswerAndTheDialToneStopsAtTheFirstDigit)
{
    Start("cn");
    struct Call {
        std::string number;
        VirtualExchange::Answer answer;
        int onMs; // of the answer's first burst
        int offMs;
    };
    const Call calls[] = {{"200", VirtualExchange::Answer::Busy, 350, 350},
                          {"201", VirtualExchange::Answer::Ringback, 1000, 4000},
                          {"5", VirtualExchange::Answer::Congestion, 700, 700}};
    for (const Call& call : calls) {
        SCOPED_TRACE(call.number);
        Hook(true);
        EXPECT_FALSE(adapter.CallAnswered()) << "the caller's call is not due yet: this is the program's own";
        EXPECT_GT(LineRms(-20, 1000), 1000) << "dial tone, from the off-hook on";
        adapter.AdvanceClock(1000);
        Play(Dtmf(call.number, -10));
        EXPECT_EQ(adapter.ExchangeDigits(), call.number);
        EXPECT_LT(LineRms(1100, 3000), 100) << "the dial tone goes on after the first digit";
        adapter.AdvanceClock(10000);
        EXPECT_EQ(adapter.ExchangeAnswer(), call.answer);
        // The answer begins a digit timeout after the last digit began.
        const int64_t lastDigitMs = 1000 + 200 * static_cast<int64_t>(call.number.size() - 1);
        const int64_t start = ToneStart(lastDigitMs + 2000, lastDigitMs + 5000);
        EXPECT_NEAR(start, lastDigitMs + 3000, 40);
        EXPECT_GT(LineRms(start + 20, start + call.onMs - 20), 1000);
        EXPECT_LT(LineRms(start + call.onMs + 20, start + call.onMs + call.offMs - 20), 100);
        Hook(false);
        adapter.AdvanceClock(1000);
    }
    // Nothing dialled: the dial tone until the dial timeout, then congestion.
    // Digits too quiet for the receiver are nothing dialled.
    Hook(true);
    Play(Dtmf("200", DtmfDecoder::kQuietestDbm0 - 3));
    EXPECT_EQ(adapter.ExchangeDigits(), "");
    adapter.AdvanceClock(31000);
    EXPECT_EQ(adapter.ExchangeAnswer(), VirtualExchange::Answer::Congestion);
    EXPECT_GT(LineRms(29000, 29900), 1000);
    EXPECT_EQ(ToneStart(30000, 31000), 30000);
    EXPECT_LT(LineRms(30720, 31380), 100) << "congestion's first pause";
    Hook(false);
    // The caller, who found the line busy, rings later and is answered as
    // before, with the line's busy tone.
    adapter.AdvanceClock(5000);
    EXPECT_TRUE(adapter.RingSignal());
    Hook(true);
    EXPECT_TRUE(adapter.CallAnswered());
    EXPECT_EQ(adapter.ExchangeDigits(), "");
}

TEST_F(VirtualExchangeTest, AModulatedDialToneIsPlayedAsOne)
{
    Start("in"); // 400*25: 400 Hz whose level swings 25 times a second
    Hook(true);
    // Envelope: 20 ms (half a swing) apart the level differs widely.
    double quietest = 1e9;
    double loudest = 0;
    for (int at = 0; at < 40; at += 4) {
        const double rms = LineRms(1000 + at, 1004 + at);
        quietest = std::min(quietest, rms);
        loudest = std::max(loudest, rms);
    }
    EXPECT_GT(loudest, 5 * quietest);
}

// The receiver takes the survey's digits (-10 dBm0 a tone, no twist) with
// margin on every side: 20 dB above the quietest, 10 dB below the loudest,
// 4 dB and 8 dB from the twist limits.
TEST(DtmfReceiver, TakesDigitsWithinItsLevelAndTwistLimitsOnly)
{
    const std::string all = "1234567890*#ABCD";
    EXPECT_EQ(Decode(Dtmf(all, -10)), all);
    EXPECT_EQ(Decode(Dtmf(all, -10, 0, 100, 100, 8000), 8000), all);
    EXPECT_EQ(Decode(Dtmf("00", -10)), "00") << "a digit twice, with a pause";
    EXPECT_EQ(Decode(Dtmf("5", -10, 0, 40, 40)), "5") << "the shortest digit";
    EXPECT_EQ(Decode(Dtmf("5", -10, 0, 20, 40)), "") << "too short";
    struct Case {
        double dbm0;
        double twistDb;
        bool taken;
    };
    const Case cases[] = {
        {-28, 0, true},  {-32, 0, false}, // quietest
        {-4, 0, true},   {3, 0, false},   // loudest: the pair clips
        {-10, 3, true},  {-10, 5, false}, // the high tone stronger
        {-10, -7, true}, {-10, -9, false}, // the high tone weaker
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decode(Dtmf("159", c.dbm0, c.twistDb)), c.taken ? "159" : "")
            << c.dbm0 << " dBm0, twist " << c.twistDb << " dB";
    // One tone, or a tone under loud noise, is no digit.
    std::vector<int16_t> single(4800);
    for (size_t i = 0; i < single.size(); ++i)
        single[i] = static_cast<int16_t>(DtmfAmplitude(-10) * std::sin(2 * std::numbers::pi * 697 * i / 48000.0));
    EXPECT_EQ(Decode(single), "");
    std::vector<int16_t> noisy = Dtmf("7", -10);
    uint32_t seed = 1;
    for (int16_t& sample : noisy) {
        seed = seed * 1664525u + 1013904223u;
        sample = static_cast<int16_t>(sample + static_cast<int>(seed >> 17) - 16384);
    }
    EXPECT_EQ(Decode(noisy), "");
}

} // namespace
} // namespace parvane
