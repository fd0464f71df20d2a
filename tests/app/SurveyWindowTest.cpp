// The survey window, opened from the main dialog's context menu, on the
// virtual China line: its exchange gives a 450 Hz dial tone and, for the
// line's own number 200, the busy tone 450 Hz 350 ms on, 350 ms off. Each
// survey takes half a minute or more of real time.
#include "DialogTestSupport.h"

#include "app/SurveyWnd.h"
#include "app/RunControl.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

namespace parvane::test {
namespace {

class SurveyWindowTest : public CnDialogTest {
protected:
    // The window, opened through the context menu's entry.
    CSurveyWnd* OpenFromMenu()
    {
        std::unique_ptr<QMenu> menu(dialog->CreateContextMenu(dialog.get()));
        for (QAction* action : menu->actions())
            if (action->text() == QStringLiteral("Survey the line..."))
                action->trigger();
        return dialog->SurveyWindow();
    }

    // The errors the window shows, one a line.
    static std::string Errors(const CSurveyWnd& window)
    {
        const auto labels = window.findChildren<QLabel*>(QStringLiteral("errors"));
        return labels.size() == 1 && labels[0]->isVisible() ? labels[0]->text().toStdString() : std::string();
    }

    // Every row of the tone table, its cells joined by " | ".
    static std::vector<std::string> Rows(const CSurveyWnd& window)
    {
        std::vector<std::string> rows;
        const QTableWidget* table = window.ToneTable();
        for (int row = 0; row < table->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < table->columnCount(); ++column)
                cells << (table->item(row, column) ? table->item(row, column)->text() : QString());
            rows.push_back(cells.join(QStringLiteral(" | ")).toStdString());
        }
        return rows;
    }

    // The line was released after it was last seized.
    static void ExpectOnHookAfterTheLastSeizure(TraceLines& trace)
    {
        EXPECT_GE(trace.LastIndexOf("DaaSetOffhook"), 0);
        EXPECT_GT(trace.LastIndexOf("DaaSetOnhook"), trace.LastIndexOf("DaaSetOffhook"));
    }
};

TEST_F(SurveyWindowTest, ShowsEachToneAsItIsLearntAndTheToneSetToCopyThenGivesTheLineBack)
{
    TraceLines trace;
    CSurveyWnd* window = OpenFromMenu();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->StopButton()->isEnabled());
    window->OwnNumberEdit()->setText(QStringLiteral("200"));
    Click(window->StartButton());
    ASSERT_TRUE(window->Running());
    EXPECT_FALSE(dialog->Control(IDC_START)->isEnabled()) << "the dialog's run waits for the survey";
    EXPECT_TRUE(window->StopButton()->isEnabled());

    // The dial tone shows before the busy tone is learnt.
    ASSERT_TRUE(WaitFor([&] { return window->ToneTable()->rowCount() >= 1 || !window->Running(); }, 90000));
    ASSERT_TRUE(window->Running()) << window->ProgressLine()->text().toStdString();
    EXPECT_EQ(window->ToneTable()->rowCount(), 1);
    EXPECT_EQ(window->ToneSetBox()->toPlainText().toStdString(), "dial = 450\n");

    ASSERT_TRUE(WaitFor([&] { return !window->Running(); }, 180000));
    EXPECT_EQ(window->ProgressLine()->text().toStdString(), "Done");
    EXPECT_EQ(Rows(*window), (std::vector<std::string>{"Dial tone | 450 Hz | continuous | yes",
                                                       "Busy tone (200) | 450 Hz | 350 ms on, 350 ms off | yes"}));
    EXPECT_EQ(window->ToneSetBox()->toPlainText().toStdString(), "dial = 450\nbusy = 450/350,0/350\n");
    EXPECT_TRUE(window->ToneSetBox()->isReadOnly());
    Click(window->CopyButton());
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "dial = 450\nbusy = 450/350,0/350\n");
    EXPECT_FALSE(adapter->IsOffHook());
    ExpectOnHookAfterTheLastSeizure(trace);

    // The device was given back: the dialog's own run answers the next ring.
    ASSERT_TRUE(dialog->Control(IDC_START)->isEnabled());
    Click(dialog->Control(IDC_START));
    EXPECT_TRUE(WaitFor([&] { return dialog->Run().IsAnalysing(); }, 15000));
    Click(dialog->Control(IDC_STOP));
    EXPECT_FALSE(adapter->IsOffHook());
}

TEST_F(SurveyWindowTest, StopAndClosingTheDialogMidSurveyReleaseTheLine)
{
    TraceLines trace;
    CSurveyWnd* window = OpenFromMenu();
    ASSERT_NE(window, nullptr);
    window->OwnNumberEdit()->setText(QStringLiteral("200"));
    Click(window->StartButton());
    ASSERT_TRUE(WaitFor([&] { return window->ProgressLine()->text().startsWith(QStringLiteral("Dialling 200")); },
                        90000))
        << window->ProgressLine()->text().toStdString();
    ASSERT_TRUE(adapter->IsOffHook());
    Click(window->StopButton());
    ASSERT_TRUE(WaitFor([&] { return !window->Running(); }, 15000));
    EXPECT_EQ(window->ProgressLine()->text().toStdString(), "Stopped: the line was released");
    EXPECT_FALSE(adapter->IsOffHook());
    ExpectOnHookAfterTheLastSeizure(trace);
    EXPECT_TRUE(dialog->Control(IDC_START)->isEnabled());

    // Again, and the dialog closes while the line is held for the dial tone.
    Click(window->StartButton());
    ASSERT_TRUE(WaitFor([&] { return window->ProgressLine()->text().startsWith(QStringLiteral("Dial tone")); },
                        30000))
        << window->ProgressLine()->text().toStdString();
    ASSERT_TRUE(adapter->IsOffHook());
    dialog.reset();
    EXPECT_FALSE(adapter->IsOffHook());
    ExpectOnHookAfterTheLastSeizure(trace);
}

// A line whose exchange gives no dial tone: the window says why nothing was
// learnt, dials nothing and leaves the line on-hook, ready for another try.
TEST_F(SurveyWindowTest, SaysWhyNothingWasLearntOnALineWithoutDialTone)
{
    dialog.reset();
    adapter = UseVirtualAdapter(WriteScenario("[call]\nnoise = -70\n"));
    dialog = StartDialog();
    TraceLines trace;
    CSurveyWnd* window = OpenFromMenu();
    ASSERT_NE(window, nullptr);
    window->OwnNumberEdit()->setText(QStringLiteral("200"));
    Click(window->StartButton());
    ASSERT_TRUE(WaitFor([&] { return !window->Running(); }, 90000));
    EXPECT_NE(Errors(*window).find("no dial tone was heard on the line"), std::string::npos) << Errors(*window);
    EXPECT_NE(Errors(*window).find("the line was released"), std::string::npos) << Errors(*window);
    EXPECT_EQ(Rows(*window),
              (std::vector<std::string>{"Dial tone | Not learnt | no tone was heard on the line | no"}));
    EXPECT_EQ(window->ToneSetBox()->toPlainText().toStdString(), "");
    EXPECT_EQ(trace.Count("Dialling 200"), 0) << "nothing is dialled without a dial tone";
    EXPECT_FALSE(adapter->IsOffHook());
    ExpectOnHookAfterTheLastSeizure(trace);
    EXPECT_TRUE(window->StartButton()->isEnabled());
    EXPECT_TRUE(dialog->Control(IDC_START)->isEnabled());
}

} // namespace
} // namespace parvane::test
