// parvane-cli survey on the virtual line: it calls the exchange behind the
// line, dials with DTMF through the adapter's output and learns each
// call-progress tone. Each survey takes from half a minute to two minutes of
// real time, so they run at once.

#include "tests/cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

using namespace parvane::cli::test;

namespace {

struct Published {
    const char* name;
    std::vector<int> frequencies;
    std::vector<int> cadence; // on, off in turn; empty: continuous
};

// Each tone of the survey as published, within learn's tolerances (2 Hz,
// 20 ms), its place in the tone set and verified.
void ExpectTones(const nlohmann::json& json, const std::vector<Published>& published)
{
    ASSERT_EQ(json["tones"].size(), published.size()) << json.dump(2);
    std::string block;
    for (size_t i = 0; i < published.size(); ++i) {
        const nlohmann::json& tone = json["tones"][i];
        SCOPED_TRACE(published[i].name);
        EXPECT_EQ(tone["name"], published[i].name);
        ASSERT_TRUE(tone["learnt"].get<bool>()) << tone.dump();
        EXPECT_TRUE(tone["verified"].get<bool>()) << tone.dump();
        ASSERT_EQ(tone["frequencies_hz"].size(), published[i].frequencies.size()) << tone.dump();
        for (size_t f = 0; f < published[i].frequencies.size(); ++f)
            EXPECT_NEAR(tone["frequencies_hz"][f].get<int>(), published[i].frequencies[f], 2) << tone.dump();
        ASSERT_EQ(tone["cadence_ms"].size(), published[i].cadence.size()) << tone.dump();
        for (size_t c = 0; c < published[i].cadence.size(); ++c)
            EXPECT_NEAR(tone["cadence_ms"][c].get<int>(), published[i].cadence[c], 20) << tone.dump();
        block += std::string(published[i].name) + " = " + tone["tone_list"].get<std::string>() + "\n";
    }
    EXPECT_EQ(json["tone_set"], block);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

TEST(CliSurvey, LearnsTheDialToneAndWhatEachNumberDialledAnswers)
{
    const CliProcess cn = StartCli({"survey", "--virtual-adapter=cn", "--own", "200", "--json"});
    const CliProcess uk = StartCli(
        {"survey", "--virtual-adapter=uk", "--own", "200", "--ring", "201", "--invalid", "555", "--json"});
    // A line whose exchange gives no dial tone.
    const std::string directory = TemporaryDirectory();
    const std::string silent = directory + "/silent.ini";
    std::ofstream(silent) << "[call]\nnoise = -70\n";
    const CliProcess quiet = StartCli({"survey", "--virtual-adapter=" + silent, "--own", "200", "--verbose"});
    // The own number answered by a voice: syllables of gliding pitch with
    // pauses of their own lengths.
    std::vector<int16_t> voice;
    uint32_t seed = 7;
    const auto next = [&seed](int range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>(seed >> 16) % range;
    };
    for (int syllable = 0; syllable < 60; ++syllable) {
        const int length = 4800 * (2 + next(4));
        const double from = 110 + next(150);
        const double to = 110 + next(150);
        double phase = 0;
        for (int i = 0; i < length; ++i) {
            const double pitch = from + (to - from) * i / length;
            phase += 2 * 3.14159265358979 * pitch / 48000;
            const double envelope = std::sin(3.14159265358979 * i / length);
            voice.push_back(static_cast<int16_t>(
                4000 * envelope * (std::sin(phase) + 0.6 * std::sin(2 * phase) + 0.4 * std::sin(3 * phase))));
        }
        voice.insert(voice.end(), 4800 * (1 + next(3)), 0);
    }
    WriteWav(directory + "/voice.wav", voice, 48000);
    const std::string voiced = directory + "/voiced.ini";
    std::ofstream(voiced) << "[call]\nwav = voice.wav\n[exchange]\ndial_tone = 425\n";
    const CliProcess answered = StartCli({"survey", "--virtual-adapter=" + voiced, "--own", "200"});
    // Digits too quiet for the exchange's receiver: the dial tone goes on.
    const CliProcess unheard = StartCli({"survey", "--virtual-adapter=de", "--own", "200", "--dtmf-level-dbm", "-40"});

    CliResult result = FinishCli(cn);
    ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
    nlohmann::json json = result.Json();
    std::printf("cn: dial and busy learnt %.1f s after the start\n", json["survey_ms"].get<int>() / 1000.0);
    ExpectTones(json, {{"dial", {450}, {}}, {"busy", {450}, {350, 350}}});
    EXPECT_EQ(json["tones"][1]["number"], "200");

    result = FinishCli(uk);
    ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
    json = result.Json();
    std::printf("uk: four tones learnt %.1f s after the start\n", json["survey_ms"].get<int>() / 1000.0);
    ExpectTones(json, {{"dial", {350, 440}, {}},
                       {"busy", {400}, {375, 375}},
                       {"ringback", {400, 450}, {400, 200, 400, 2000}},
                       {"congestion", {400}, {400, 350, 225, 525}}});

    result = FinishCli(quiet);
    EXPECT_EQ(result.exitCode, 4) << result.err << result.out;
    EXPECT_NE(result.err.find("no dial tone was heard on the line"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("the line was released"), std::string::npos) << result.err;
    EXPECT_GT(result.err.rfind("\nDaaSetOnhook"), result.err.rfind("\nDaaSetOffhook")) << result.err;
    EXPECT_EQ(result.err.find("Dialling"), std::string::npos) << "nothing is dialled without a dial tone";
    result = FinishCli(unheard);
    EXPECT_EQ(result.exitCode, 4) << result.err << result.out;
    EXPECT_NE(result.err.find("the dial tone went on after 200 was dialled"), std::string::npos) << result.err;
    EXPECT_NE(result.out.find("dial = 425\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("busy = "), std::string::npos) << result.out;
    result = FinishCli(answered);
    EXPECT_EQ(result.exitCode, 4) << result.err << result.out;
    EXPECT_NE(result.out.find("Busy tone (dialled 200): not learnt: answered by a voice"), std::string::npos)
        << result.err << result.out;
    EXPECT_NE(result.out.find("dial = 425\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("busy = "), std::string::npos) << result.out;
    for (const std::string& path : {voiced, directory + "/voice.wav"})
        std::remove(path.c_str());
    std::remove(silent.c_str());
    ::rmdir(directory.c_str());
}

TEST(CliSurvey, AnInterruptedSurveyPutsTheLineOnHook)
{
    const CliProcess survey = StartCli({"survey", "--virtual-adapter=cn", "--own", "200", "--verbose"});
    // Interrupted while it dials.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadFile(survey.directory + "/err").find("Dialling 200") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(survey.pid, SIGINT);
    const CliResult result = FinishCli(survey);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("Dialling 200"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("interrupted: the line was released"), std::string::npos) << result.err;
    EXPECT_GT(result.err.rfind("\nDaaSetOnhook"), result.err.rfind("\nDaaSetOffhook")) << result.err;
}
