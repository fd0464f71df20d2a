#include "PackFiles.h"

#include "i18n/AudioDeviceName.h"
#include "i18n/IniReader.h"
#include "platform/DebugPrint.h"

#include <gtest/gtest.h>

#include <cstring>

using parvane::test::ReadFileBytes;
using parvane::test::ScratchDir;

namespace {

class IniReaderTest : public ::testing::Test {
protected:
    void SetUp() override { SetAudioDeviceName("Tarnbox"); }
    void TearDown() override { SetAudioDeviceName("Tarnbox"); }

    // A reader pointed at a file with these bytes.
    CIniReader& ReaderFor(const std::string& bytes)
    {
        m_reader.SetFileName(m_dir.Write("pack.ini", bytes));
        return m_reader;
    }

    std::string Text(const std::string& key, const std::string& section = "WindowText")
    {
        std::string out = "(unchanged)";
        m_reader.ReadText(key, section, out);
        return out;
    }

    ScratchDir m_dir;
    CIniReader m_reader;
};

TEST_F(IniReaderTest, ExpandsPlaceholdersAsWritten)
{
    ReaderFor("[WindowText]\n"
              "Two=first[NewLine]second\n"
              "Model=[ProductName] ready\n"
              "Company=[CompanyName]\n"
              "Mixed=[NewLine][CompanyName][ProductName][NewLine]\n"
              "Small=[newline] [productname] [COMPANYNAME] [NewLine\n");
    EXPECT_EQ(Text("Two"), "first\r\nsecond");
    EXPECT_EQ(Text("Model"), "Tarnbox ready");
    EXPECT_EQ(Text("Mixed"), "\r\nTarnbox\r\n");
    EXPECT_EQ(Text("Small"), "[newline] [productname] [COMPANYNAME] [NewLine");

    std::string out;
    EXPECT_TRUE(m_reader.ReadText("Company", "WindowText", out)) << "a value that expands to nothing was still found";
    EXPECT_EQ(out, "");

    SetAudioDeviceName("DuoTarnbox");
    EXPECT_EQ(Text("Model"), "DuoTarnbox ready") << "the model name is read at each expansion";
}

TEST_F(IniReaderTest, InsertedTextIsNeverScannedAgain)
{
    ReaderFor("[s]\nkey=<[ProductName]>\n");
    SetAudioDeviceName("[NewLine]");
    EXPECT_EQ(Text("key", "s"), "<[NewLine]>");
    SetAudioDeviceName("[CompanyName]");
    EXPECT_EQ(Text("key", "s"), "<[CompanyName]>");
}

TEST_F(IniReaderTest, EmptyAndMissingValuesAreTheSame)
{
    ReaderFor("[s]\nempty=\nblank=   \nnoequals\n");
    for (const char* key : {"empty", "blank", "noequals", "absent"}) {
        std::string out = "old";
        EXPECT_FALSE(m_reader.ReadText(key, "s", out)) << key;
        EXPECT_EQ(out, "") << key;
        EXPECT_EQ(m_reader.GetLastResult(), 0) << key;
    }
    std::string out = "old";
    EXPECT_FALSE(m_reader.ReadText("empty", "nosection", out));
    EXPECT_EQ(out, "");
}

TEST_F(IniReaderTest, CutsValuesTo1022CharactersBeforeExpansion)
{
    const std::string longValue(1020, 'a');
    ReaderFor("[s]\nascii=" + std::string(3000, 'x') + "\nedge=" + longValue + "[NewLine]\nwide=" +
              [] { std::string s; for (int i = 0; i < 1500; ++i) s += "中"; return s; }() + "\n");
    EXPECT_EQ(Text("ascii", "s"), std::string(1022, 'x'));
    EXPECT_EQ(m_reader.GetLastResult(), 1022);
    EXPECT_EQ(Text("edge", "s"), longValue + "[N") << "the cut comes first, so the placeholder is broken";

    std::string expected;
    for (int i = 0; i < 1022; ++i)
        expected += "中";
    EXPECT_EQ(Text("wide", "s"), expected) << "characters are counted, not bytes";
}

TEST_F(IniReaderTest, FollowsPrivateProfileLookupRules)
{
    ReaderFor("orphan=before any section\n"
              "; [s] in a comment\n"
              "  [ Window Text ]  trailing\n"
              "  Caption  =   spaced out   \n"
              "KEY=first\n"
              "key=second\n"
              ";commented=yes\n"
              "  ;indented=yes\n"
              "#hash=kept\n"
              "eq=a=b\n"
              "quoted=\"  kept blanks \"\n"
              "single='x'\n"
              "unbalanced=\"x'\n"
              "[Other]\n"
              "caption=other section\n"
              "[window text]\n"
              "late=only in the second copy\n"
              "[open\n"
              "k=v\n");
    EXPECT_EQ(Text("caption", "window text"), "spaced out");
    EXPECT_EQ(Text("  CAPTION ", " WINDOW TEXT "), "spaced out");
    EXPECT_EQ(Text("key", "Window Text"), "first");
    EXPECT_EQ(Text("commented", "Window Text"), "");
    EXPECT_EQ(Text("indented", "Window Text"), "");
    EXPECT_EQ(Text("#hash", "Window Text"), "kept");
    EXPECT_EQ(Text("eq", "Window Text"), "a=b");
    EXPECT_EQ(Text("quoted", "Window Text"), "  kept blanks ");
    EXPECT_EQ(Text("single", "Window Text"), "x");
    EXPECT_EQ(Text("unbalanced", "Window Text"), "\"x'");
    EXPECT_EQ(Text("caption", "Other"), "other section");
    EXPECT_EQ(Text("late", "window text"), "") << "only the first section of a name is seen";
    EXPECT_EQ(Text("orphan", ""), "");
    EXPECT_EQ(Text("k", "open"), "v") << "a header without ']' takes the rest of the line";
}

TEST_F(IniReaderTest, ReadsEveryEncodingAndLineEnd)
{
    const std::string body = "[Language]\r\nLanguage=简体中文\r\n[WindowText]\r\nIDS_102_1000=开始\r\n";
    const std::pair<const char*, std::string> files[] = {
        {"utf-8", body},
        {"utf-8 with mark", "\xEF\xBB\xBF" + body},
        {"utf-16le", parvane::test::Utf16LittleEndianWithBom(body)},
        {"utf-16be", parvane::test::Utf16BigEndianWithBom(body)},
        {"bare CR", "[Language]\rLanguage=简体中文\r[WindowText]\rIDS_102_1000=开始"},
        {"LF, no last end", "[Language]\nLanguage=简体中文\n[WindowText]\nIDS_102_1000=开始"},
    };
    for (const auto& [label, bytes] : files) {
        ReaderFor(bytes);
        EXPECT_EQ(Text("Language", "Language"), "简体中文") << label;
        EXPECT_EQ(Text("IDS_102_1000"), "开始") << label;
    }
}

TEST_F(IniReaderTest, ReadsMalformedFilesAsFarAsTheyMakeSense)
{
    ReaderFor(std::string("[s]\nbad=a\xFF\xC0\x80z\nnul=x") + '\0' + "y\nsurrogate=\xED\xA0\x80\ngood=fine\n");
    EXPECT_EQ(Text("bad", "s"), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz");
    EXPECT_EQ(Text("nul", "s"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(Text("good", "s"), "fine");

    // An unpaired surrogate and an odd trailing byte in UTF-16.
    std::string wide = parvane::test::Utf16LittleEndianWithBom("[s]\nk=a");
    wide += std::string("\x00\xD8", 2) + parvane::test::Utf16LittleEndianWithBom("b\n").substr(2) + "\x41";
    ReaderFor(wide);
    EXPECT_EQ(Text("k", "s"), "a\xEF\xBF\xBD" "b");

    m_reader.SetFileName(m_dir.Path()); // a directory
    EXPECT_EQ(Text("k", "s"), "");
    m_reader.SetFileName(m_dir.File("absent.ini"));
    EXPECT_EQ(Text("k", "s"), "");
    EXPECT_TRUE(m_reader.GetSectionNames().empty());
}

TEST_F(IniReaderTest, ListsSectionsAndEntriesInFileOrder)
{
    ReaderFor("[b]\n"
              "one = 1\n"
              "; comment\n"
              "\n"
              "flag\n"
              "two=\n"
              "[]\n"
              "[a]\n"
              "[C]\n"
              "x=y\n");
    EXPECT_EQ(m_reader.GetSectionNames(), (std::vector<std::string>{"b", "a", "C"}));
    EXPECT_EQ(m_reader.GetLastResult(), 6) << "each name and its terminator";
    EXPECT_EQ(m_reader.GetSection("B"), (std::vector<std::string>{"one=1", "flag", "two="}));
    EXPECT_TRUE(m_reader.GetSection("a").empty());
    EXPECT_TRUE(m_reader.GetSection("missing").empty());
    EXPECT_TRUE(m_reader.SectionExists("c"));
    EXPECT_FALSE(m_reader.SectionExists("a")) << "a section without keys lists nothing";
    EXPECT_FALSE(m_reader.SectionExists("missing"));
    // The lists are emptied by each call, never appended to.
    EXPECT_EQ(m_reader.GetSectionNames().size(), 3u);
    EXPECT_EQ(m_reader.GetSection("c"), (std::vector<std::string>{"x=y"}));
}

TEST_F(IniReaderTest, ReadsIntegersLikeStrtol)
{
    ReaderFor("[n]\nplain=42\nlead=  -17abc\nword=abc\nbig=99999999999\nsmall=-99999999999\nplus=+8\n");
    const std::pair<const char*, int> cases[] = {
        {"plain", 42}, {"lead", -17}, {"word", 0}, {"big", 2147483647}, {"small", -2147483647 - 1}, {"plus", 8}};
    for (const auto& [key, expected] : cases) {
        int value = -1;
        EXPECT_TRUE(m_reader.ReadInt(key, "n", value)) << key;
        EXPECT_EQ(value, expected) << key;
    }
    int value = -1;
    EXPECT_FALSE(m_reader.ReadInt("absent", "n", value));
    EXPECT_EQ(value, 0);
}

TEST_F(IniReaderTest, ReadTextBufferNeverWritesPastTheBuffer)
{
    ReaderFor("[s]\nk=ab[NewLine]中文[CompanyName]\nm=[ProductName]\n");
    char buffer[64];
    std::memset(buffer, '#', sizeof(buffer));
    ASSERT_TRUE(m_reader.ReadTextBuffer("k", "s", buffer, sizeof(buffer)));
    EXPECT_STREQ(buffer, "ab\r\n中文[CompanyName]") << "only two placeholders are expanded";

    // "ab\r\n" is 4 bytes and each Chinese character 3: a 9-byte buffer holds
    // 8 bytes of text, which would split the second character.
    std::memset(buffer, '#', sizeof(buffer));
    ASSERT_TRUE(m_reader.ReadTextBuffer("k", "s", buffer, 9));
    EXPECT_STREQ(buffer, "ab\r\n中");
    for (size_t i = 9; i < sizeof(buffer); ++i)
        ASSERT_EQ(buffer[i], '#') << "byte " << i << " was written";

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_TRUE(m_reader.ReadTextBuffer("k", "s", buffer, 1));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_FALSE(m_reader.ReadTextBuffer("absent", "s", buffer, sizeof(buffer)));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_FALSE(m_reader.ReadTextBuffer("k", "s", nullptr, 10));
    buffer[0] = '#';
    EXPECT_FALSE(m_reader.ReadTextBuffer("k", "s", buffer, 0));
    EXPECT_EQ(buffer[0], '#');

    ASSERT_TRUE(m_reader.ReadTextBuffer("m", "s", buffer, sizeof(buffer)));
    EXPECT_STREQ(buffer, "Tarnbox");
}

TEST_F(IniReaderTest, WritesKeepOtherLinesAndTheEncoding)
{
    const std::string before = "; pack\r\n[Language]\r\nLanguage=中文\r\n\r\n[WindowText]\r\n"
                               "IDS_102_1000 = 开始 \r\n; note\r\n\r\n[Help]\r\nFileName=zh.html";
    const std::string path = m_dir.Write("pack.ini", parvane::test::Utf16LittleEndianWithBom(before));
    m_reader.SetFileName(path);

    EXPECT_TRUE(m_reader.WriteString("停止", "IDS_102_1001", "windowtext"));
    EXPECT_EQ(m_reader.GetLastResult(), 1);
    EXPECT_TRUE(m_reader.WriteString("Go", "ids_102_1000", "WindowText"));
    EXPECT_TRUE(m_reader.WriteInt(-5, "Count", "New"));
    EXPECT_TRUE(m_reader.WriteString("en.html", "FileName", "Help"));

    const std::string after = "; pack\r\n[Language]\r\nLanguage=中文\r\n\r\n[WindowText]\r\n"
                              "IDS_102_1000=Go\r\n; note\r\nIDS_102_1001=停止\r\n\r\n[Help]\r\nFileName=en.html\r\n"
                              "[New]\r\nCount=-5\r\n";
    EXPECT_EQ(ReadFileBytes(path), parvane::test::Utf16LittleEndianWithBom(after));
    int count = 0;
    EXPECT_TRUE(m_reader.ReadInt("count", "new", count));
    EXPECT_EQ(count, -5);
}

TEST_F(IniReaderTest, WritesKeepBytesThatAreNotText)
{
    const std::string before = "[a]\nbad=\xFF\xFE\x01\n[b]\nk=old\n";
    const std::string path = m_dir.Write("pack.ini", before);
    m_reader.SetFileName(path);
    EXPECT_TRUE(m_reader.WriteString("new", "k", "b"));
    EXPECT_EQ(ReadFileBytes(path), "[a]\nbad=\xFF\xFE\x01\n[b]\nk=new\n");
}

TEST_F(IniReaderTest, WrittenValuesReadBackUnchanged)
{
    m_reader.SetFileName(m_dir.File("new.ini"));
    const char* values[] = {"  leading and trailing  ", "\"quoted\"", "'single'", "a=b;c", "[NewLine]"};
    for (const char* value : values) {
        ASSERT_TRUE(m_reader.WriteString(value, "k", "s")) << value;
        std::string out;
        m_reader.ReadText("k", "s", out);
        EXPECT_EQ(out, std::string(value) == "[NewLine]" ? "\r\n" : value);
    }
}

TEST_F(IniReaderTest, RefusesWritesThatWouldNotReadBack)
{
    const std::string path = m_dir.Write("pack.ini", "[s]\nk=v\n");
    m_reader.SetFileName(path);
    EXPECT_FALSE(m_reader.WriteString("two\nlines", "k", "s"));
    EXPECT_EQ(m_reader.GetLastResult(), 0);
    EXPECT_FALSE(m_reader.WriteString("v", "k\r", "s"));
    EXPECT_FALSE(m_reader.WriteString("v", "a=b", "s"));
    EXPECT_FALSE(m_reader.WriteString("v", ";k", "s"));
    EXPECT_FALSE(m_reader.WriteString("v", "[k", "s"));
    EXPECT_FALSE(m_reader.WriteString("v", "", "s"));
    EXPECT_FALSE(m_reader.WriteString("v", "k", "a]b"));
    EXPECT_FALSE(m_reader.WriteString("v", "k", " "));
    EXPECT_EQ(ReadFileBytes(path), "[s]\nk=v\n");

    m_reader.SetFileName(m_dir.Path() + "/no/such/dir/pack.ini");
    EXPECT_FALSE(m_reader.WriteString("v", "k", "s"));
}

} // namespace
