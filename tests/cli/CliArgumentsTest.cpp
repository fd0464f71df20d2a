#include "cli/CliArguments.h"

#include <gtest/gtest.h>

#include <vector>

using namespace parvane::cli;

namespace {

bool Parse(const std::vector<const char*>& words, CliArguments& arguments, std::string& error)
{
    std::vector<const char*> argv = {"parvane-cli"};
    argv.insert(argv.end(), words.begin(), words.end());
    return ParseCliArguments(static_cast<int>(argv.size()), argv.data(), arguments, error);
}

} // namespace

TEST(CliArguments, SubcommandsTakeTheirOptionsInAnyOrderWithTheCommonOnesAnywhere)
{
    CliArguments arguments;
    std::string error;
    ASSERT_TRUE(Parse({"--json", "verify", "--on", "350", "--freq1=450", "--virtual-adapter=cn", "--off", "350"},
                      arguments, error))
        << error;
    EXPECT_EQ(arguments.command, Command::Verify);
    EXPECT_TRUE(arguments.json);
    EXPECT_EQ(arguments.virtualAdapter.value_or(""), "cn");
    EXPECT_EQ(arguments.frequency1.value_or(0), 450);
    EXPECT_FALSE(arguments.frequency2.has_value());
    EXPECT_EQ(arguments.onMs.value_or(0), 350);
    EXPECT_EQ(arguments.offMs.value_or(0), 350);

    ASSERT_TRUE(Parse({"file", "rec.wav", "--buffer", "8k", "--vendor-id", "0x4321"}, arguments, error)) << error;
    EXPECT_EQ(arguments.command, Command::File);
    EXPECT_EQ(arguments.recording, "rec.wav");
    EXPECT_EQ(arguments.blockBytes, 8192);
    EXPECT_EQ(arguments.vendorId, 0x4321);

    ASSERT_TRUE(Parse({"analyze", "--seconds", "5", "--wait=30", "--virtual-adapter"}, arguments, error)) << error;
    EXPECT_EQ(arguments.seconds.value_or(0), 5);
    EXPECT_EQ(arguments.waitSeconds, 30);
    EXPECT_EQ(arguments.blockBytes, 32768);
    EXPECT_EQ(arguments.virtualAdapter.value_or(""), "cn");

    ASSERT_TRUE(Parse({"period", "--freq1", "480", "--freq2", "620"}, arguments, error)) << error;
    EXPECT_EQ(arguments.frequency2.value_or(0), 620);
    ASSERT_TRUE(Parse({"info", "--help"}, arguments, error));
    EXPECT_EQ(arguments.command, Command::Help);

    ASSERT_TRUE(Parse({"survey", "--own", "200", "--invalid=*55#", "--dial-prefix", "9", "--dtmf-level-dbm", "-20",
                       "--dtmf-on-ms", "60"},
                      arguments, error))
        << error;
    EXPECT_EQ(arguments.command, Command::Survey);
    EXPECT_EQ(arguments.ownNumber, "200");
    EXPECT_EQ(arguments.ringNumber, "");
    EXPECT_EQ(arguments.invalidNumber, "*55#");
    EXPECT_EQ(arguments.dialPrefix, "9");
    EXPECT_EQ(arguments.dtmfLevelDbm, -20);
    EXPECT_EQ(arguments.dtmfOnMs, 60);
    EXPECT_EQ(arguments.dtmfOffMs, 100);
}

TEST(CliArguments, BlockSizesAreTheAnalysisChoices)
{
    EXPECT_EQ(ParseBlockSize("64K").value_or(0), 65536);
    EXPECT_EQ(ParseBlockSize("32k").value_or(0), 32768);
    EXPECT_EQ(ParseBlockSize("16384").value_or(0), 16384);
    EXPECT_EQ(ParseBlockSize("512B").value_or(0), 512);
    EXPECT_EQ(ParseBlockSize("512").value_or(0), 512);
    EXPECT_FALSE(ParseBlockSize("128K"));
    EXPECT_FALSE(ParseBlockSize("3000"));
    EXPECT_FALSE(ParseBlockSize(""));
}

TEST(CliArguments, CadencesOfSeveralPairsAndNotations)
{
    CliArguments arguments;
    std::string error;
    ASSERT_TRUE(Parse({"verify", "--freq1", "425", "--cadence", "200,200,200,600"}, arguments, error)) << error;
    EXPECT_EQ(arguments.cadence, (std::vector<parvane::vexlin::CadencePair>{{200, 200}, {200, 600}}));
    EXPECT_FALSE(arguments.onMs.has_value());
    // One pair is the --on/--off form.
    ASSERT_TRUE(Parse({"file", "a.wav", "--freq1", "450", "--cadence=350,350", "--format", "teletone"}, arguments,
                      error)) << error;
    EXPECT_EQ(arguments.onMs, 350);
    EXPECT_EQ(arguments.offMs, 350);
    EXPECT_EQ(arguments.format, parvane::cli::ToneFormat::Teletone);
}

TEST(CliArguments, MalformedLinesAreRefusedWithAReason)
{
    struct Case {
        std::vector<const char*> words;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{}, "no command"},
        {{"listen"}, "unknown command 'listen'"},
        {{"verify", "--freq1", "450", "--on", "350"}, "verify needs"},
        {{"period"}, "period needs --freq1"},
        {{"period", "--freq1", "450", "--on", "350"}, "unknown option '--on'"},
        {{"file"}, "file needs the recording"},
        {{"file", "a.wav", "b.wav"}, "unexpected argument 'b.wav'"},
        {{"file", "a.wav", "--freq2", "620"}, "go with --freq1"},
        {{"file", "a.wav", "--freq1", "450", "--on", "350"}, "both --on and --off"},
        {{"analyze", "--buffer", "3K"}, "not a block size"},
        {{"analyze", "--seconds", "0"}, "not a number of seconds"},
        {{"analyze", "--seconds"}, "needs a value"},
        {{"verify", "--freq1", "-450", "--on", "1", "--off", "1"}, "not a frequency"},
        {{"verify", "--freq1", "4x0", "--on", "1", "--off", "1"}, "not a frequency"},
        {{"info", "--vendor-id", "0x10000"}, "not a USB vendor id"},
        {{"info", "--virtual-adapter="}, "needs a preset name"},
        {{"learn", "--format", "indications"}, "not a notation"},
        {{"verify", "--freq1", "425", "--cadence", "200,200,200"}, "not pairs of on and off times"},
        {{"verify", "--freq1", "425", "--cadence", "200,,200,600"}, "'' is not a time"},
        {{"verify", "--freq1", "425", "--cadence", "200,20"}, "outside 60..5000 ms"},
        {{"verify", "--freq1", "425", "--cadence", "1,1,1,1,1,1,1,1,1,1"}, "more than 4 on/off pairs"},
        {{"verify", "--freq1", "425", "--cadence", "200,200", "--on", "200"}, "either --on and --off or --cadence"},
        {{"file", "a.wav", "--cadence", "200,200"}, "go with --freq1"},
        {{"survey", "--own", "20 0"}, "not 1 to 20 DTMF digits"},
        {{"survey", "--ring", "2E1"}, "not 1 to 20 DTMF digits"},
        {{"survey", "--dtmf-level-dbm", "-41"}, "from -40 to 0"},
        {{"survey", "--dtmf-level-dbm", "5"}, "from -40 to 0"},
        {{"survey", "--dtmf-on-ms", "20"}, "40 to 1000"},
        {{"learn", "--own", "200"}, "unknown option '--own'"},
    };
    for (const Case& c : cases) {
        CliArguments arguments;
        std::string error;
        EXPECT_FALSE(Parse(c.words, arguments, error)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << "error: " << error;
    }
}
