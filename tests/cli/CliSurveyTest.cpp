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

// A tone in tone-list notation, "413+438/400,0/200,425*25/400,0/2000" or
// "400*25": each burst's frequencies and modulation with its on and off
// times (none for a continuous tone).
struct Burst {
    std::vector<int> frequencies;
    int modulation = 0;
    int onMs = 0;
    int offMs = 0;
};
std::vector<Burst> ParseToneList(const std::string& text)
{
    std::vector<Burst> bursts;
    std::stringstream items(text);
    for (std::string item; std::getline(items, item, ',');) {
        const size_t slash = item.find('/');
        const std::string tone = item.substr(0, slash);
        const int ms = slash == std::string::npos ? 0 : std::stoi(item.substr(slash + 1));
        if (tone == "0") {
            if (!bursts.empty())
                bursts.back().offMs = ms;
            continue;
        }
        Burst burst;
        burst.onMs = ms;
        const size_t times = tone.find('*');
        if (times != std::string::npos)
            burst.modulation = std::stoi(tone.substr(times + 1));
        std::stringstream frequencies(tone.substr(0, times));
        for (std::string frequency; std::getline(frequencies, frequency, '+');)
            burst.frequencies.push_back(std::stoi(frequency));
        bursts.push_back(burst);
    }
    return bursts;
}

// The learnt tone list against the one sent, within learn's tolerances (2 Hz,
// 20 ms); a cadence may start at any of its bursts.
bool SameTone(const std::vector<Burst>& learnt, const std::vector<Burst>& sent)
{
    if (learnt.size() != sent.size())
        return false;
    for (size_t start = 0; start < sent.size(); ++start) {
        bool same = true;
        for (size_t i = 0; i < sent.size() && same; ++i) {
            const Burst& a = learnt[i];
            const Burst& b = sent[(start + i) % sent.size()];
            same = a.frequencies.size() == b.frequencies.size() && std::abs(a.modulation - b.modulation) <= 1 &&
                   std::abs(a.onMs - b.onMs) <= 20 && std::abs(a.offMs - b.offMs) <= 20;
            for (size_t f = 0; f < a.frequencies.size() && same; ++f)
                same = std::abs(a.frequencies[f] - b.frequencies[f]) <= 2;
        }
        if (same)
            return true;
    }
    return false;
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

    result = FinishCli(quiet);
    EXPECT_EQ(result.exitCode, 4) << result.err << result.out;
    EXPECT_NE(result.err.find("no dial tone was heard on the line"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("the line was released"), std::string::npos) << result.err;
    EXPECT_GT(result.err.rfind("\nDaaSetOnhook"), result.err.rfind("\nDaaSetOffhook")) << result.err;
    EXPECT_EQ(result.err.find("Dialling"), std::string::npos) << "nothing is dialled without a dial tone";
    result = FinishCli(unheard);
    EXPECT_EQ(result.exitCode, 4) << result.err << result.out;
    EXPECT_NE(result.err.find("the dial tone went on after 200 was dialled: the exchange did not take the digits "
                              "(try other --dtmf-level-dbm"),
              std::string::npos)
        << result.err;
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

// Every preset's four tones as its country publishes them, and a line whose
// exchange has drifted from such figures (frequencies by 1.5 %, cadences by
// 10 %) under noise 25 dB below its tones. Among them tones of two
// components that beat, tones modulated in amplitude, cadences of two pairs
// and bursts that take turns between two frequencies.
TEST(CliSurvey, EveryPresetsFourTonesAreLearntAsTheExchangeSendsThem)
{
    struct Line {
        std::string adapter;
        const char* dial;
        const char* busy;
        const char* ringback;
        const char* congestion;
        bool busyIsCongestion = false;
    };
    const std::string directory = TemporaryDirectory();
    const std::string drifted = directory + "/drifted.ini";
    std::ofstream(drifted) << "[call]\ntone = 431/385,0/385\nlevel = -20\nnoise = -45\n"
                              "[exchange]\ndial_tone = 419+445\n"
                              "ringback_tone = 394*23/440,0/180,394*23/360,0/2200\n"
                              "congestion_tone = 406/225,0/275\n";
    const std::vector<Line> lines = {
        {"us", "350+440", "480+620/500,0/500", "440+480/2000,0/4000", "480+620/250,0/250"},
        {"uk", "350+440", "400/375,0/375", "400+450/400,0/200,400+450/400,0/2000", "400/400,0/350,400/225,0/525"},
        {"cn", "450", "450/350,0/350", "450/1000,0/4000", "450/700,0/700"},
        {"de", "425", "425/480,0/480", "425/1000,0/4000", "425/240,0/240"},
        {"fr", "440", "440/500,0/500", "440/1500,0/3500", "440/250,0/250"},
        {"jp", "400", "400/500,0/500", "400*15/1000,0/2000", "400/500,0/500", true},
        {"au", "413+438", "425/375,0/375", "413+438/400,0/200,413+438/400,0/2000", "425/375,0/375,420/375,0/375"},
        {"in", "400*25", "400/750,0/750", "400*25/400,0/200,400*25/400,0/2000", "400/250,0/250"},
        {"ru", "425", "425/350,0/350", "425/800,0/3200", "425/175,0/175"},
        {"br", "425", "425/250,0/250", "425/1000,0/4000", "425/250,0/250,425/750,0/250"},
        {drifted, "419+445", "431/385,0/385", "394*23/440,0/180,394*23/360,0/2200", "406/225,0/275"},
    };
    std::vector<CliProcess> surveys;
    for (const Line& line : lines)
        surveys.push_back(StartCli({"survey", "--virtual-adapter=" + line.adapter, "--own", "200", "--ring", "201",
                                    "--invalid", "555", "--json"}));
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        SCOPED_TRACE(line.adapter);
        const CliResult result = FinishCli(surveys[i]);
        EXPECT_EQ(result.exitCode, 0) << result.err << result.out;
        const nlohmann::json json = result.Json();
        ASSERT_EQ(json["tones"].size(), 4u) << result.err << result.out;
        const std::pair<const char*, const char*> sent[] = {
            {"dial", line.dial}, {"busy", line.busy}, {"ringback", line.ringback}, {"congestion", line.congestion}};
        std::string block;
        for (size_t t = 0; t < 4; ++t) {
            const nlohmann::json& tone = json["tones"][t];
            EXPECT_EQ(tone["name"], sent[t].first);
            ASSERT_TRUE(tone["learnt"].get<bool>()) << tone.dump();
            EXPECT_TRUE(tone["verified"].get<bool>()) << tone.dump();
            const std::string list = tone["tone_list"].get<std::string>();
            EXPECT_TRUE(SameTone(ParseToneList(list), ParseToneList(sent[t].second)))
                << sent[t].first << ": learnt " << list << ", sent " << sent[t].second;
            block += std::string(sent[t].first) + " = " + list + "\n";
        }
        EXPECT_EQ(json["tone_set"], block);
        const nlohmann::json alike = line.busyIsCongestion ? nlohmann::json::parse(R"([["busy", "congestion"]])")
                                                           : nlohmann::json::array();
        EXPECT_EQ(json["alike"], alike);
    }
    std::remove(drifted.c_str());
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
