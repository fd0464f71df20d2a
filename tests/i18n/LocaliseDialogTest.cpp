#include "PackFiles.h"

#include "i18n/AudioDeviceName.h"
#include "i18n/MultiLanguage.h"
#include "platform/ModuleDir.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include <gtest/gtest.h>

using parvane::test::ScratchDir;

namespace {

template <typename Widget>
Widget* Control(QWidget* parent, int id, const QString& text = {})
{
    auto* widget = new Widget(parent);
    widget->setProperty(parvane::kControlIdProperty, id);
    if constexpr (std::is_base_of_v<QGroupBox, Widget>)
        widget->setTitle(text);
    else if constexpr (requires { widget->setText(text); })
        widget->setText(text);
    return widget;
}

QStringList Items(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// A dialog shaped like the main dialog: controls with ids, static texts and
// a group box without one, and a plain container holding some controls.
class LocaliseDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "i18n_tests";
        static char* argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr)
            new QApplication(argc, argv);
    }

    void SetUp() override
    {
        m_dialog.setWindowTitle("Template caption");
        m_start = Control<QPushButton>(&m_dialog, 1000, "Start");
        m_ms = Control<QLabel>(&m_dialog, -1, "ms");
        m_hz = Control<QLabel>(&m_dialog, -1, "Hz");
        m_frequencies = Control<QListWidget>(&m_dialog, 1022);
        m_frequencies->addItems({"450 Hz", "900 Hz"});
        m_group = Control<QGroupBox>(&m_dialog, -1);
        m_freq1Label = Control<QLabel>(m_group, 1031, "Freq 1");
        m_freq1 = Control<QLineEdit>(m_group, 1029);
        auto* container = new QWidget(&m_dialog); // no id: not a control, but its children are
        m_status = Control<QLineEdit>(container, 1033);
        m_plain = new QLabel("untouched", &m_dialog);
        m_combo = Control<QComboBox>(&m_dialog, 1050);
        m_combo->addItems({"zero", "one", "two", "three"});
        m_sizes = Control<QComboBox>(&m_dialog, 1035);
        m_sizes->addItems({"64K", "32K"});
        m_sizes->setProperty(parvane::kProgramFilledItemsProperty, true);
        m_tabs = Control<QTabWidget>(&m_dialog, 1010);
        m_tabs->addTab(new QWidget, "T0");
        m_tabs->addTab(new QWidget, "T1");
    }

    void Localise(const std::string& windowText)
    {
        m_dir.Write("Lang/en.ini", "[Language]\nLanguage=English\n[WindowText]\n" + windowText);
        CMultiLanguage language(m_dir.Path() + "/Lang");
        language.LocaliseDialog(&m_dialog, 102);
    }

    ScratchDir m_dir;
    QDialog m_dialog;
    QPushButton* m_start = nullptr;
    QLabel* m_ms = nullptr;
    QLabel* m_hz = nullptr;
    QListWidget* m_frequencies = nullptr;
    QGroupBox* m_group = nullptr;
    QLabel* m_freq1Label = nullptr;
    QLineEdit* m_freq1 = nullptr;
    QLineEdit* m_status = nullptr;
    QLabel* m_plain = nullptr;
    QComboBox* m_combo = nullptr;
    QComboBox* m_sizes = nullptr;
    QTabWidget* m_tabs = nullptr;
};

TEST_F(LocaliseDialogTest, SetsCaptionAndControlTexts)
{
    SetAudioDeviceName("DuoTarnbox");
    Localise("IDS_102_0000=Parvane [ProductName]\n"
             "IDS_102_1000=开始\n"
             "IDS_102_1031=频率1\n"
             "IDS_102_1033=status\n"
             "IDS_100_1000=another dialog\n");
    SetAudioDeviceName("Tarnbox");
    EXPECT_EQ(m_dialog.windowTitle(), "Parvane DuoTarnbox");
    EXPECT_EQ(m_start->text(), "开始");
    EXPECT_EQ(m_freq1Label->text(), "频率1") << "controls inside a group box are reached";
    EXPECT_EQ(m_status->text(), "status") << "controls inside a plain container are reached";
    EXPECT_EQ(m_ms->text(), "ms");
    EXPECT_EQ(m_freq1->text(), "");
    EXPECT_EQ(m_plain->text(), "untouched");
}

TEST_F(LocaliseDialogTest, MissingKeysKeepTheTemplateTexts)
{
    Localise("MESSAGE_0=nothing for the controls\n");
    EXPECT_EQ(m_dialog.windowTitle(), "Template caption");
    EXPECT_EQ(m_start->text(), "Start");
    EXPECT_EQ(Items(m_combo), (QStringList{"zero", "one", "two", "three"}));
    EXPECT_EQ(m_tabs->tabText(1), "T1");
}

TEST_F(LocaliseDialogTest, SharedIdReachesEveryControlWithoutAnId)
{
    Localise("IDS_102_-1=same\n");
    EXPECT_EQ(m_ms->text(), "same");
    EXPECT_EQ(m_hz->text(), "same");
    EXPECT_EQ(m_group->title(), "same");
    EXPECT_EQ(m_plain->text(), "untouched") << "a widget without the property is no control";
    EXPECT_EQ(m_start->text(), "Start");
}

TEST_F(LocaliseDialogTest, AListBoxGetsItsTextAndKeepsItsRows)
{
    Localise("IDS_102_1022=Frequencies\n");
    EXPECT_EQ(m_frequencies->windowTitle(), "Frequencies");
    ASSERT_EQ(m_frequencies->count(), 2);
    EXPECT_EQ(m_frequencies->item(1)->text(), "900 Hz");
}

TEST_F(LocaliseDialogTest, ComboItemsReplaceTheItemsAndKeepTheSelectionIndex)
{
    m_combo->setCurrentIndex(1);
    int changed = 0;
    QObject::connect(m_combo, &QComboBox::currentIndexChanged, [&changed] { ++changed; });
    Localise("IDS_102_1050_0=null\nIDS_102_1050_1=eins\nIDS_102_1050_3=drei\n");
    EXPECT_EQ(Items(m_combo), (QStringList{"null", "eins"})) << "items stop at the first missing one";
    EXPECT_EQ(m_combo->currentIndex(), 1);
    EXPECT_EQ(changed, 0) << "programmatic changes are not reported as the user's choice";

    m_combo->setCurrentIndex(-1);
    Localise("IDS_102_1050_0=null\nIDS_102_1050_1=eins\n");
    EXPECT_EQ(m_combo->currentIndex(), 0) << "items but no selection count as selection 0";
}

TEST_F(LocaliseDialogTest, ASelectionPastTheNewItemsIsEmpty)
{
    m_combo->setCurrentIndex(3);
    Localise("IDS_102_1050_0=null\nIDS_102_1050_1=eins\n");
    EXPECT_EQ(m_combo->count(), 2);
    EXPECT_EQ(m_combo->currentIndex(), -1);
}

TEST_F(LocaliseDialogTest, AnEmptyComboGetsItemsButNoSelection)
{
    m_combo->clear();
    Localise("IDS_102_1050_0=null\n");
    EXPECT_EQ(Items(m_combo), QStringList{"null"});
    EXPECT_EQ(m_combo->currentIndex(), -1);
}

TEST_F(LocaliseDialogTest, ComboControlTextWinsOverItemsAndProgramItemsStay)
{
    Localise("IDS_102_1050=combo text\nIDS_102_1050_0=null\nIDS_102_1035_0=huge\nIDS_102_1035_1=big\n");
    EXPECT_EQ(m_combo->windowTitle(), "combo text");
    EXPECT_EQ(Items(m_combo), (QStringList{"zero", "one", "two", "three"}));
    EXPECT_EQ(Items(m_sizes), (QStringList{"64K", "32K"}));
}

TEST_F(LocaliseDialogTest, TabItemsRenameExistingTabsOnly)
{
    Localise("IDS_102_1010_0=first\nIDS_102_1010_1=second\nIDS_102_1010_2=third\n");
    ASSERT_EQ(m_tabs->count(), 2);
    EXPECT_EQ(m_tabs->tabText(0), "first");
    EXPECT_EQ(m_tabs->tabText(1), "second");

    Localise("IDS_102_1010_1=only the second\n");
    EXPECT_EQ(m_tabs->tabText(1), "second") << "renaming stops at the first missing item";
}

TEST_F(LocaliseDialogTest, FillsTheLanguageComboInListOrder)
{
    m_dir.Write("Lang/1.ini", "[Language]\nLanguage=简体中文\n");
    m_dir.Write("Lang/2.ini", "[Language]\nLanguage=English\n");
    CMultiLanguage language(m_dir.Path() + "/Lang");
    QComboBox combo;
    language.FillLanguageCombo(&combo);
    EXPECT_EQ(Items(&combo), (QStringList{"简体中文", "English"}));
    EXPECT_EQ(combo.currentIndex(), -1) << "the dialog chooses the entry itself";
    language.FillLanguageCombo(nullptr);
    language.LocaliseDialog(nullptr, 102);
}

TEST_F(LocaliseDialogTest, ChineseTextsHaveAFontThatDrawsThem)
{
    const QStringList families = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    ASSERT_FALSE(families.isEmpty()) << "no Chinese font: the Chinese pack would show empty boxes "
                                        "(install fonts-wqy-microhei or fonts-noto-cjk)";
    CMultiLanguage language(GetModuleDir() + "Lang");
    ASSERT_TRUE(language.SetLanguage("简体中文"));
    QString texts = QString::fromStdString(language.GetCaptionText(102));
    for (const int id : {1000, 1001, 1002, 1018, 1025, 1027, 1028, 1031, 1032, 1034, 1036, 1038, 1041, 1042, 1043, 1044})
        texts += QString::fromStdString(language.GetControlText(102, id));
    for (int n = 0; n < 7; ++n)
        texts += QString::fromStdString(language.GetMessageText(n));
    texts += QString::fromStdString(language.GetTooltipText(0) + language.GetTooltipText(1));

    bool someFamilyDrawsAll = false;
    for (const QString& family : families) {
        const QFontMetrics metrics{QFont(family)};
        bool all = true;
        for (const char32_t c : texts.toStdU32String())
            all = all && (c < 0x80 || metrics.inFontUcs4(c));
        someFamilyDrawsAll = someFamilyDrawsAll || all;
    }
    EXPECT_TRUE(someFamilyDrawsAll) << families.join(", ").toStdString();
}

} // namespace
