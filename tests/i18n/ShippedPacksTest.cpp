// The packs and help documents that ship in the program directory: complete,
// consistent with each other, and safe to format.
#include "PackFiles.h"

#include "i18n/IniReader.h"
#include "i18n/MessageFormat.h"
#include "i18n/MultiLanguage.h"
#include "platform/ModuleDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

constexpr int kDialog = 102;
// The main dialog's controls that carry a text of their own.
constexpr int kTextControls[] = {1000, 1001, 1002, 1018, 1025, 1027, 1028, 1031,
                                 1032, 1034, 1036, 1038, 1041, 1042, 1043, 1044};
// Controls the help pages refer to by name.
constexpr int kControlsNamedInHelp[] = {1000, 1001, 1027, 1028, 1031, 1032, 1034, 1036, 1038, 1041, 1042, 1043, 1044};
// How many integer arguments each message is formatted with (0: shown as is).
constexpr int kMessageArguments[] = {0, 0, 0, 0, 2, 1, 1};

std::set<std::string> RequiredWindowTextKeys()
{
    std::set<std::string> keys{"IDS_102_0000", "TOOLTIP_0", "TOOLTIP_1", "MENU_0", "MENU_1"};
    for (const int id : kTextControls)
        keys.insert("IDS_102_" + std::to_string(id));
    for (int n = 0; n < 7; ++n)
        keys.insert("MESSAGE_" + std::to_string(n));
    // The spectrum window: its caption and eight texts.
    for (int n = 0; n < 9; ++n)
        keys.insert("SPECTRUM_" + std::to_string(n));
    // The survey window: its caption and seventeen texts.
    for (int n = 0; n < 18; ++n)
        keys.insert("SURVEY_" + std::to_string(n));
    return keys;
}

class ShippedPacksTest : public ::testing::Test {
protected:
    CMultiLanguage m_language{GetModuleDir() + "Lang"};
};

TEST_F(ShippedPacksTest, EnglishIsTheSecondOfTwoPacks)
{
    ASSERT_EQ(m_language.GetLanguageNames(), (std::vector<std::string>{"简体中文", "English"}));
    EXPECT_EQ(m_language.GetCurrentName(), "English");
}

TEST_F(ShippedPacksTest, EveryPackHasExactlyTheKeysOfTheMainDialog)
{
    const std::set<std::string> required = RequiredWindowTextKeys();
    for (const std::string& path : m_language.GetLanguagePaths()) {
        CIniReader reader;
        reader.SetFileName(path);
        std::set<std::string> present;
        for (const std::string& entry : reader.GetSection("WindowText")) {
            const std::string key = entry.substr(0, entry.find('='));
            EXPECT_TRUE(present.insert(key).second) << path << ": " << key << " twice";
            EXPECT_NE(entry.find('='), entry.size() - 1) << path << ": " << key << " is empty";
        }
        EXPECT_EQ(present, required) << path;
        EXPECT_EQ(reader.GetSectionNames(), (std::vector<std::string>{"Language", "WindowText", "Help"})) << path;
    }
}

TEST_F(ShippedPacksTest, MessagesMatchTheArgumentsTheyAreFormattedWith)
{
    for (const std::string& name : m_language.GetLanguageNames()) {
        ASSERT_TRUE(m_language.SetLanguage(name));
        for (int n = 0; n < 7; ++n) {
            const std::string text = m_language.GetMessageText(n);
            ASSERT_FALSE(text.empty()) << name << " MESSAGE_" << n;
            if (kMessageArguments[n] == 0) {
                EXPECT_EQ(text.find('%'), std::string::npos) << name << " MESSAGE_" << n << " is shown unformatted";
                continue;
            }
            const auto conversions = parvane::ListConversions(text);
            ASSERT_EQ(conversions.size(), static_cast<size_t>(kMessageArguments[n])) << name << " MESSAGE_" << n;
            for (const auto& conversion : conversions)
                EXPECT_TRUE(conversion.takesInteger && (conversion.type == 'd' || conversion.type == 'i'))
                    << name << " MESSAGE_" << n << ": %" << conversion.type << " for a signed 32-bit argument";
            const std::string formatted = parvane::FormatMessageText(text, {12, 700});
            EXPECT_NE(formatted.find("12"), std::string::npos) << formatted;
            if (n == 4) {
                EXPECT_NE(formatted.find("700"), std::string::npos) << formatted;
            }
        }
        EXPECT_FALSE(m_language.GetTooltipText(0).empty());
        EXPECT_FALSE(m_language.GetTooltipText(1).empty());
    }
}

TEST_F(ShippedPacksTest, EveryPackNamesItsOwnHelpDocument)
{
    std::set<std::string> documents;
    for (const std::string& name : m_language.GetLanguageNames()) {
        ASSERT_TRUE(m_language.SetLanguage(name));
        const std::string file = m_language.GetHelpFileName();
        ASSERT_FALSE(file.empty()) << name;
        documents.insert(file);
        const std::string page = parvane::test::ReadFileBytes(GetModuleDir() + "Help/" + file);
        ASSERT_GT(page.size(), 4000u) << name << ": Help/" << file << " is missing or a stub";
        EXPECT_NE(page.find("<html"), std::string::npos);
        // The page calls the controls by the names the pack gives them.
        for (const int id : kControlsNamedInHelp) {
            const std::string label = m_language.GetControlText(kDialog, id);
            EXPECT_NE(page.find(label), std::string::npos) << name << ": the help page never mentions \"" << label << "\"";
        }
        for (const char* failure : {"Hardware is not found", "Port 1 init failed", "No support audio"})
            EXPECT_NE(page.find(failure), std::string::npos) << name << ": " << failure;
    }
    EXPECT_EQ(documents.size(), m_language.GetLanguageNames().size()) << "each language has its own page";
}

} // namespace
