#include "PackFiles.h"

#include "i18n/MultiLanguage.h"
#include "platform/ModuleDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

using parvane::test::ScratchDir;

namespace {

std::string Pack(const std::string& name, const std::string& windowText = "", const std::string& help = "")
{
    std::string pack = "[Language]\nLanguage=" + name + "\n[WindowText]\n" + windowText;
    if (!help.empty())
        pack += "[Help]\nFileName=" + help + "\n";
    return pack;
}

std::vector<std::string> FileNames(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const std::string& path : paths)
        names.push_back(std::filesystem::path(path).filename().string());
    return names;
}

TEST(MultiLanguageTest, ListsPacksInFileNameOrderAndSkipsFilesWithoutAName)
{
    ScratchDir dir;
    dir.Write("b.ini", Pack("Beta"));
    dir.Write("a.INI", Pack("Alpha"));
    dir.Write("c.ini", "[Language]\nLanguage=\n[WindowText]\nMESSAGE_0=x\n");
    dir.Write("d.ini", "[WindowText]\nMESSAGE_0=no language section\n");
    dir.Write("e.ini", std::string("\x7F" "ELF\0\0\0\x01\x02\xFF\xFE", 12));
    dir.Write("f.txt", Pack("Text file"));
    dir.Write("g.ini/inner.ini", Pack("In a directory"));
    dir.Write("h.ini", "; only a comment");
    // A link to a pack is a pack (where the file system has links: wine has none).
    std::error_code noLink;
    std::filesystem::create_symlink(dir.File("b.ini"), dir.File("z-link.ini"), noLink);
#ifndef _WIN32
    ASSERT_FALSE(noLink) << noLink.message();
#endif
    std::vector<std::string> names{"Alpha", "Beta"};
    std::vector<std::string> files{"a.INI", "b.ini"};
    if (!noLink) {
        names.push_back("Beta");
        files.push_back("z-link.ini");
    }

    CMultiLanguage language(dir.Path());
    EXPECT_EQ(language.GetLanguageNames(), names);
    EXPECT_EQ(FileNames(language.GetLanguagePaths()), files);
    EXPECT_EQ(language.GetCurrentName(), "English") << "no English pack: the name stays, the first file is used";
    EXPECT_EQ(language.GetCurrentFile(), dir.File("a.INI"));
}

TEST(MultiLanguageTest, StartsWithTheEnglishPack)
{
    ScratchDir dir;
    dir.Write("1.ini", Pack("Deutsch", "MESSAGE_0=Hallo\n"));
    dir.Write("2.ini", Pack("english", "MESSAGE_0=Hello\n"));
    CMultiLanguage language(dir.Path());
    EXPECT_EQ(language.GetCurrentFile(), dir.File("2.ini"));
    EXPECT_EQ(language.GetMessageText(0), "Hello");
}

TEST(MultiLanguageTest, TheDialogStartsInEnglishWhateverPacksSortBeforeIt)
{
    ScratchDir dir;
    dir.Write("Chinese.ini", Pack("Chinese"));
    dir.Write("Deutsch.ini", Pack("Deutsch"));
    dir.Write("English.ini", Pack("ENGLISH"));
    EXPECT_EQ(CMultiLanguage(dir.Path()).StartUpPackIndex(), 2);
    std::filesystem::remove(dir.File("English.ini"));
    EXPECT_EQ(CMultiLanguage(dir.Path()).StartUpPackIndex(), 1); // else the second
    std::filesystem::remove(dir.File("Deutsch.ini"));
    EXPECT_EQ(CMultiLanguage(dir.Path()).StartUpPackIndex(), 0);
    std::filesystem::remove(dir.File("Chinese.ini"));
    EXPECT_EQ(CMultiLanguage(dir.Path()).StartUpPackIndex(), -1);
}

TEST(MultiLanguageTest, WithoutPacksEveryLookupIsEmpty)
{
    ScratchDir dir;
    CMultiLanguage language(dir.Path() + "/Lang");
    EXPECT_TRUE(language.GetLanguageNames().empty());
    EXPECT_EQ(language.GetCurrentFile(), "");
    EXPECT_FALSE(language.SetLanguage("English"));
    EXPECT_EQ(language.GetMessageText(0), "");
    EXPECT_EQ(language.GetTooltipText(0), "");
    EXPECT_EQ(language.GetHelpFileName(), "");
    EXPECT_EQ(language.GetCaptionText(102), "");
}

TEST(MultiLanguageTest, DefaultDirectoryIsLangBesideTheProgram)
{
    ScratchDir dir;
    dir.Write("Lang/en.ini", Pack("English", "MESSAGE_1=from the program directory\n"));
    parvane::SetModuleDirForTest(dir.Path());
    CMultiLanguage language;
    parvane::SetModuleDirForTest("");
#ifdef _WIN32
    EXPECT_EQ(language.GetDirectory(), dir.Path() + "\\Lang"); // the program directory ends in a backslash
#else
    EXPECT_EQ(language.GetDirectory(), dir.Path() + "/Lang");
#endif
    EXPECT_EQ(language.GetMessageText(1), "from the program directory");
}

TEST(MultiLanguageTest, NamesDifferingOnlyInCaseSelectTheFirstMatchingFile)
{
    ScratchDir dir;
    dir.Write("1.ini", Pack("Other", "MESSAGE_0=other\n"));
    dir.Write("2.ini", Pack("PACK", "MESSAGE_0=upper\n"));
    dir.Write("3.ini", Pack("pack", "MESSAGE_0=lower\n"));
    CMultiLanguage language(dir.Path());
    EXPECT_EQ(language.GetLanguageNames(), (std::vector<std::string>{"Other", "PACK", "pack"}));

    EXPECT_TRUE(language.SetLanguage("pack"));
    EXPECT_EQ(language.GetCurrentName(), "pack");
    EXPECT_EQ(language.GetMessageText(0), "upper");
    EXPECT_TRUE(language.SetLanguage("Other"));
    EXPECT_TRUE(language.SetLanguage("PACK"));
    EXPECT_EQ(language.GetMessageText(0), "upper");

    EXPECT_FALSE(language.SetLanguage("Pack")) << "the name itself must be listed exactly";
    EXPECT_FALSE(language.SetLanguage("Nowhere"));
    EXPECT_EQ(language.GetCurrentName(), "PACK");
    EXPECT_EQ(language.GetMessageText(0), "upper");
}

TEST(MultiLanguageTest, AVanishedPackKeepsThePreviousOneCurrent)
{
    ScratchDir dir;
    dir.Write("a.ini", Pack("A", "MESSAGE_0=a\n"));
    dir.Write("b.ini", Pack("B", "MESSAGE_0=b\n"));
    CMultiLanguage language(dir.Path());
    ASSERT_TRUE(language.SetLanguage("A"));
    std::filesystem::remove(dir.File("b.ini"));
    EXPECT_FALSE(language.SetLanguage("B"));
    EXPECT_EQ(language.GetCurrentName(), "A");
    EXPECT_EQ(language.GetMessageText(0), "a");
    EXPECT_EQ(language.GetLanguageNames().size(), 2u) << "the list is made once, at start-up";
}

TEST(MultiLanguageTest, HandsOutTextsOfTheCurrentPack)
{
    ScratchDir dir;
    const std::string path = dir.Write("en.ini", Pack("English",
                                                      "IDS_102_0000=Caption\n"
                                                      "IDS_102_1000=Start\n"
                                                      "IDS_102_-1=Shared\n"
                                                      "IDS_102_1037_2=Item two\n"
                                                      "MESSAGE_6=Count %d\n"
                                                      "TOOLTIP_0=Tip[NewLine]\n"
                                                      "TOOLTIP_1=[ProductName]\n",
                                                      "en.html"));
    CMultiLanguage language(dir.Path());
    EXPECT_EQ(language.GetCaptionText(102), "Caption");
    EXPECT_EQ(language.GetCaptionText(100), "");
    EXPECT_EQ(language.GetControlText(102, 1000), "Start");
    EXPECT_EQ(language.GetControlText(102, -1), "Shared");
    EXPECT_EQ(language.GetItemText(102, 1037, 2), "Item two");
    EXPECT_EQ(language.GetMessageText(6), "Count %d");
    EXPECT_EQ(language.GetMessageText(5), "");
    EXPECT_EQ(language.GetTooltipText(0) + language.GetTooltipText(1), "Tip\r\nTarnbox");
    EXPECT_EQ(language.GetHelpFileName(), "en.html");

    // Every lookup reads the file again: an edited pack takes effect at once.
    dir.Write("en.ini", Pack("English", "MESSAGE_6=Edited %d\n", ""));
    EXPECT_EQ(language.GetMessageText(6), "Edited %d");
    EXPECT_EQ(language.GetHelpFileName(), "") << "an empty help file name stays empty";
}

TEST(MultiLanguageTest, AMalformedPackDoesNotAffectAnother)
{
    ScratchDir dir;
    dir.Write("a.ini", "[Language]\nLanguage=Broken\n[WindowText\nMESSAGE_0=" + std::string(100000, 'v') +
                           "\n\xFF\xFE garbage\nno equals sign here\n");
    dir.Write("b.ini", Pack("Good", "MESSAGE_0=fine\n"));
    CMultiLanguage language(dir.Path());
    EXPECT_EQ(language.GetLanguageNames(), (std::vector<std::string>{"Broken", "Good"}));
    ASSERT_TRUE(language.SetLanguage("Broken"));
    EXPECT_EQ(language.GetMessageText(0).size(), 1022u);
    ASSERT_TRUE(language.SetLanguage("Good"));
    EXPECT_EQ(language.GetMessageText(0), "fine");
}

TEST(MultiLanguageTest, AWorkerMayReadMessagesWhileThePackChanges)
{
    ScratchDir dir;
    dir.Write("a.ini", Pack("A", "MESSAGE_6=first %d\n"));
    dir.Write("b.ini", Pack("B", "MESSAGE_6=second %d\n"));
    CMultiLanguage language(dir.Path());
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::thread worker([&] {
        while (!done) {
            const std::string text = language.GetMessageText(6);
            if (text != "first %d" && text != "second %d")
                ++wrong;
        }
    });
    for (int i = 0; i < 300; ++i)
        language.SetLanguage(i % 2 == 0 ? "B" : "A");
    done = true;
    worker.join();
    EXPECT_EQ(wrong, 0);
}

} // namespace
