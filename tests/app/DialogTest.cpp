// The main dialog under Qt's offscreen platform against the virtual adapter:
// start-up and its failures, the controls and their texts in both shipped
// languages, the mode buttons, the input checks and the timers of a run.
#include "DialogTestSupport.h"

#include "app/DialogLayout.h"
#include "audio/AudioGlobals.h"
#include "audio/SpectrumWnd.h"
#include "device/DeviceOper.h"
#include "i18n/AudioDeviceName.h"
#include "platform/ModuleDir.h"
#include "platform/Tick.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace parvane::test {
namespace {

QStringList Items(QWidget* widget)
{
    auto* combo = qobject_cast<QComboBox*>(widget);
    QStringList items;
    for (int i = 0; combo != nullptr && i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QString Text(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    return {};
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
};

TEST_F(DialogTest, StartsWithAnAdapterAnsweringOnlyTheThirdProductId)
{
    UseVirtualAdapter(WriteScenario("[adapter]\npid = 0x2111\nmodel = DuoTarnbox\n"));
    TraceLines trace;
    auto dialog = StartDialog();
    EXPECT_EQ(MainDeviceOper->m_wProductId, 0x2111);
    EXPECT_EQ(trace.Count("Start reset dll handle"), 2);
    EXPECT_EQ(MainDeviceOper->m_bDaaReady.load(), 1);
    // The model name that contains another is taken whole.
    EXPECT_EQ(GetAudioDeviceName(), "DuoTarnbox");
    EXPECT_EQ(trace.Count("hardware_audio_name = [DuoTarnbox]"), 1);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Parvane V1.0.0.2 - Busy Tone Finder (DuoTarnbox)"));
}

TEST_F(DialogTest, IsIdleAfterStartUpWithTheControlsOfTheTemplate)
{
    UseVirtualAdapter("cn");
    auto dialog = StartDialog();
    CTestDlg& d = *dialog;
    EXPECT_EQ(Items(d.Control(IDC_ANALYZE_BUF)),
              (QStringList{"64K", "32K", "16K", "8K", "4K", "2K", "1K", "512B"}));
    EXPECT_EQ(static_cast<QComboBox*>(d.Control(IDC_ANALYZE_BUF))->currentIndex(), 1);
    EXPECT_EQ(CaptureBlockBytes, 32768);
    // Packs in file-name order, the second one selected.
    EXPECT_EQ(Items(d.Control(IDC_LANGUAGE)), (QStringList{QStringLiteral("简体中文"), QStringLiteral("English")}));
    EXPECT_EQ(static_cast<QComboBox*>(d.Control(IDC_LANGUAGE))->currentIndex(), 1);

    EXPECT_TRUE(static_cast<QRadioButton*>(d.Control(IDC_ANALYZE_MODE))->isChecked());
    EXPECT_TRUE(d.Control(IDC_START)->isEnabled());
    EXPECT_FALSE(d.Control(IDC_STOP)->isEnabled());
    EXPECT_FALSE(static_cast<QCheckBox*>(d.Control(IDC_AUTO_STOP))->isChecked());
    for (int id : {IDC_FREQ1, IDC_FREQ2, IDC_ON_PERIOD, IDC_OFF_PERIOD})
        EXPECT_FALSE(d.Control(id)->isEnabled()) << id;
    for (int id : {IDC_AUDIO_FRAME, IDC_TAB, IDC_CUR_FREQ, IDC_EVENT_LIST, IDC_AUTO_STOP, IDC_PBX_NUMBER})
        EXPECT_TRUE(d.Control(id)->isHidden()) << id;
    EXPECT_TRUE(static_cast<QLineEdit*>(d.Control(IDC_STATUS))->isReadOnly());
    EXPECT_EQ(static_cast<QListWidget*>(d.Control(IDC_FREQ_LIST))->count(), 0);
    EXPECT_EQ(d.m_strFreqLabel, QStringLiteral("Current Freq"));
    EXPECT_EQ(d.HelpPath().toStdString(), GetModuleDir() + "Help/Parvane-English.html");

    // Dialog units from the font: 500 x 285 units.
    const DialogBaseUnits units = d.BaseUnits();
    EXPECT_EQ(d.width(), 500 * units.width / 4);
    EXPECT_EQ(d.height(), 285 * units.height / 8);
    EXPECT_EQ(d.Control(IDC_START)->geometry(), DialogUnitsToPixels(QRect(128, 145, 50, 14), units));

    // The figures take digits only.
    auto* freq = static_cast<QLineEdit*>(d.Control(IDC_FREQ1));
    int position = 0;
    QString typed = QStringLiteral("45a");
    EXPECT_EQ(freq->validator()->validate(typed, position), QValidator::Invalid);
}

TEST_F(DialogTest, LanguageSwitchRelocalisesTextsAndTooltipAndKeepsTheLayoutClean)
{
    UseVirtualAdapter("cn");
    auto dialog = StartDialog();
    CTestDlg& d = *dialog;
    EXPECT_EQ(Text(d.Control(IDC_START)), QStringLiteral("Start"));
    EXPECT_EQ(d.StartToolTip().toStdString(),
              "Press Start, then call the adapter's line from another phone.\nThe call is answered two seconds "
              "after the ring is confirmed. Let the caller hang up so the line plays its busy tone, then press Stop.");
    EXPECT_TRUE(FindLayoutProblems(&d).isEmpty()) << FindLayoutProblems(&d).join('\n').toStdString();

    // The spectrum window speaks the pack's language too, its caption with
    // the adapter's model name.
    d.OnShowSpectrum();
    CSpectrumWnd* spectrum = d.SpectrumWindow();
    ASSERT_NE(spectrum, nullptr);
    CWaveAllView* unitStrip = spectrum->SpectrumView().CaptionStrip();
    ASSERT_NE(unitStrip, nullptr);
    EXPECT_EQ(spectrum->windowTitle(), QStringLiteral("Line spectrum - Tarnbox"));
    EXPECT_EQ(unitStrip->RightText(), QStringLiteral("Unit: 10 Hz"));
    EXPECT_EQ(unitStrip->LeftText(), QStringLiteral("Waiting for an Analyze Mode run"));
    const QImage englishPicture = spectrum->Spectrogram().Surface();

    auto* language = static_cast<QComboBox*>(d.Control(IDC_LANGUAGE));
    static_cast<QComboBox*>(d.Control(IDC_ANALYZE_BUF))->setCurrentIndex(3);
    language->setCurrentIndex(0);
    emit language->activated(0);
    EXPECT_EQ(spectrum->windowTitle(), QStringLiteral("线路频谱 - Tarnbox"));
    EXPECT_EQ(unitStrip->RightText(), QStringLiteral("单位：10Hz"));
    EXPECT_EQ(unitStrip->LeftText(), QStringLiteral("等待分析模式运行"));
    EXPECT_NE(spectrum->Spectrogram().Surface(), englishPicture) << "the drawn texts change";
    EXPECT_EQ(Text(d.Control(IDC_START)), QStringLiteral("开始"));
    EXPECT_EQ(Text(d.Control(IDC_FREQ_LIST_LABEL)), QStringLiteral("可能的忙音频率"));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Parvane V1.0.0.2 - 忙音检测工具（Tarnbox）"));
    EXPECT_TRUE(d.StartToolTip().startsWith(QStringLiteral("按“开始”后")));
    EXPECT_TRUE(d.Control(IDC_START)->toolTip().contains(QStringLiteral("确认振铃两秒后自动摘机")));
    EXPECT_EQ(d.m_strFreqLabel, QStringLiteral("当前频率"));
    EXPECT_EQ(d.Run().FrequencyLabel(), "当前频率");
    EXPECT_EQ(Items(d.Control(IDC_ANALYZE_BUF)).size(), 8);
    EXPECT_EQ(static_cast<QComboBox*>(d.Control(IDC_ANALYZE_BUF))->currentIndex(), 3);
    EXPECT_TRUE(FindLayoutProblems(&d).isEmpty()) << FindLayoutProblems(&d).join('\n').toStdString();

    language->setCurrentIndex(1);
    emit language->activated(1);
    EXPECT_EQ(Text(d.Control(IDC_START)), QStringLiteral("Start"));
    EXPECT_EQ(d.m_strFreqLabel, QStringLiteral("Current Freq"));
    EXPECT_EQ(spectrum->windowTitle(), QStringLiteral("Line spectrum - Tarnbox"));
    EXPECT_EQ(spectrum->Spectrogram().Surface(), englishPicture);
}

TEST_F(DialogTest, ModeButtonsEnableTheirFiguresAndGetPeriodClearsOnAndOff)
{
    UseVirtualAdapter("cn");
    auto dialog = StartDialog();
    CTestDlg& d = *dialog;
    Click(d.Control(IDC_VERIFY_MODE));
    for (int id : {IDC_FREQ1, IDC_FREQ2, IDC_ON_PERIOD, IDC_OFF_PERIOD})
        EXPECT_TRUE(d.Control(id)->isEnabled()) << id;
    EXPECT_FALSE(d.Control(IDC_ANALYZE_BUF)->isEnabled());
    EXPECT_FALSE(d.Control(IDC_ANALYZE_BUF_LABEL)->isEnabled());
    Type(d, IDC_ON_PERIOD, "350");
    Type(d, IDC_OFF_PERIOD, "350");

    Click(d.Control(IDC_GET_PERIOD));
    EXPECT_EQ(d.Run().Mode(), RunMode::GetPeriod);
    EXPECT_TRUE(d.Control(IDC_FREQ1)->isEnabled());
    EXPECT_FALSE(d.Control(IDC_ON_PERIOD)->isEnabled());
    EXPECT_EQ(Text(d.Control(IDC_ON_PERIOD)), QString());
    EXPECT_EQ(Text(d.Control(IDC_OFF_PERIOD)), QString());
    EXPECT_FALSE(static_cast<QRadioButton*>(d.Control(IDC_VERIFY_MODE))->isChecked());

    Click(d.Control(IDC_VERIFY_MODE));
    EXPECT_EQ(Text(d.Control(IDC_ON_PERIOD)), QString());

    Click(d.Control(IDC_ANALYZE_MODE));
    EXPECT_EQ(d.Run().Mode(), RunMode::Analyze);
    EXPECT_FALSE(d.Control(IDC_FREQ1)->isEnabled());
    EXPECT_TRUE(d.Control(IDC_ANALYZE_BUF)->isEnabled());
}

TEST_F(DialogTest, StartChecksTheFiguresOfGetPeriodAndVerifyMode)
{
    UseVirtualAdapter("cn");
    auto dialog = StartDialog();
    CTestDlg& d = *dialog;
    TraceLines trace;
    Click(d.Control(IDC_GET_PERIOD));
    Type(d, IDC_FREQ1, "450");
    Click(d.Control(IDC_START));
    EXPECT_EQ(trace.Count("MessageBox: Enter Freq 1 and Freq 2 (in Hz) before pressing Start."), 1);

    Click(d.Control(IDC_VERIFY_MODE));
    Type(d, IDC_FREQ2, "0");
    Type(d, IDC_ON_PERIOD, "350");
    Click(d.Control(IDC_START));
    EXPECT_EQ(trace.Count("MessageBox: Enter Freq 1 and Freq 2 (in Hz), On Period and Off Period (in ms) before "
                          "pressing Start."),
              1);
    EXPECT_EQ(d.Run().m_bIsWorking.load(), 0);
    EXPECT_TRUE(d.Control(IDC_START)->isEnabled());
    EXPECT_FALSE(d.Control(IDC_STOP)->isEnabled());
    EXPECT_EQ(trace.Count("PlayWaveWithWaveBox"), 0);
}

TEST_F(DialogTest, FrequencyMessageShowsOnlyFrequenciesFrom100To900)
{
    UseVirtualAdapter("cn");
    auto dialog = StartDialog();
    auto* label = static_cast<QLabel*>(dialog->Control(IDC_CUR_FREQ));
    dialog->OnShowFrequency(100);
    EXPECT_EQ(label->text(), QStringLiteral("Possible BusyTone Freq\uFF1A100Hz"));
    dialog->OnShowFrequency(99);
    EXPECT_EQ(label->text(), QString());
    dialog->OnShowFrequency(900);
    EXPECT_EQ(label->text(), QStringLiteral("Possible BusyTone Freq\uFF1A900Hz"));
    dialog->OnShowFrequency(901);
    EXPECT_EQ(label->text(), QString());
}

// Mended: Stop left a pending auto-stop armed; it later stopped the next run
// (or an idle dialog) and showed a second message.
TEST_F(DialogTest, StopEndsThePendingAutoStop)
{
    UseVirtualAdapter("cn");
    auto dialog = StartDialog();
    CTestDlg& d = *dialog;
    TraceLines trace;
    static_cast<QCheckBox*>(d.Control(IDC_AUTO_STOP))->setChecked(true);
    Click(d.Control(IDC_START));
    EXPECT_TRUE(d.IsTimerPending(1));
    EXPECT_FALSE(d.Control(IDC_START)->isEnabled());
    EXPECT_TRUE(d.Control(IDC_STOP)->isEnabled());
    Click(d.Control(IDC_STOP));
    EXPECT_FALSE(d.IsTimerPending(1));
    EXPECT_EQ(trace.Count("MessageBox: Analysis stopped."), 1);
    EXPECT_TRUE(d.Control(IDC_START)->isEnabled());
}

TEST_F(DialogTest, AnalyzeRunStopsItself15SecondsAfterStart)
{
    UseVirtualAdapter("cn");
    auto dialog = StartDialog();
    CTestDlg& d = *dialog;
    TraceLines trace;
    static_cast<QCheckBox*>(d.Control(IDC_AUTO_STOP))->setChecked(true);
    const uint32_t start = GetTickCount32();
    Click(d.Control(IDC_START));
    ASSERT_TRUE(WaitFor([&] { return trace.Count("MessageBox: Analysis stopped.") > 0; }, 25000));
    EXPECT_GE(GetTickCount32() - start, 15000u);
    EXPECT_EQ(d.Run().m_bIsWorking.load(), 0);
    EXPECT_TRUE(d.Control(IDC_START)->isEnabled());
    EXPECT_EQ(MainDeviceOper->m_bLineAnswered.load(), 0);
}

TEST_F(DialogTest, RingBeforeStartIsAnsweredWithin200MsOfStart)
{
    VirtualAdapterDevice* adapter = UseVirtualAdapter("cn");
    auto dialog = StartDialog();
    CTestDlg& d = *dialog;
    // The ring is confirmed about a second after the adapter opened; the
    // answer timer expires two seconds later and, with no run armed, keeps
    // looking every 200 ms.
    ASSERT_TRUE(WaitFor([&] { return MainDeviceOper->m_bPstnRing.load() != 0; }, 5000));
    ProcessEventsFor(2500);
    ASSERT_TRUE(d.IsTimerPending(2));
    ASSERT_FALSE(adapter->IsOffHook());

    Click(d.Control(IDC_START));
    const uint64_t started = adapter->NowMs();
    ASSERT_TRUE(WaitFor([&] { return adapter->IsOffHook(); }, 2000));
    // 200 ms at most, plus scheduling slack on a busy machine.
    EXPECT_LE(adapter->OffHookSinceMs() - started, 300u);
    EXPECT_EQ(MainDeviceOper->m_bLineAnswered.load(), 1);
    ASSERT_TRUE(WaitFor([&] { return d.Run().IsAnalysing(); }, 3000));
    Click(d.Control(IDC_STOP));
    EXPECT_FALSE(adapter->IsOffHook());
}

// ---- start-up failures end the program with exit code 0 --------------------------------

TEST(StartUpFailure, NoAdapterWithTheVendorId)
{
    const ProgramResult result = RunParvane("--virtual-adapter=" + WriteScenario("[adapter]\nvid = 0x4321\n"));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.output.find("MessageBox: Hardware is not found"), std::string::npos) << result.output;
    // The three product ids were tried.
    EXPECT_NE(result.output.find("Start reset dll handle"), std::string::npos);
}

TEST(StartUpFailure, NoSupportedModelNameAfterFourReads)
{
    const ProgramResult result = RunParvane("--virtual-adapter=" + WriteScenario("[adapter]\nmodel = Foobox\n"));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.output.find("MessageBox: No support audio"), std::string::npos) << result.output;
    size_t reads = 0;
    for (size_t at = result.output.find("hardware_audio_name = [Foobox]"); at != std::string::npos;
         at = result.output.find("hardware_audio_name = [Foobox]", at + 1))
        ++reads;
    EXPECT_EQ(reads, 4u);
    EXPECT_GE(result.elapsedMs, 4000u);
}

TEST(StartUpFailure, RefusedScenarioIsAUsageError)
{
    const ProgramResult result = RunParvane("--virtual-adapter=/nonexistent/scenario.ini");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.output.find("parvane: the virtual adapter '/nonexistent/scenario.ini' was refused"),
              std::string::npos)
        << result.output;
    const ProgramResult bad = RunParvane("--vendor-id=zz");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.output.find("--vendor-id"), std::string::npos);
}

// The DAA that never answers: two attempts with five seconds between them,
// run here on a clock that does not really wait.
TEST(StartUpFailure, DaaThatFailsTwice)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            EnsureApplication();
            UseVirtualAdapter("cn")->SetDaaAnswering(false);
            DeviceClock clock = DeviceClock::System();
            clock.sleep = [](uint32_t ms) { SleepMs(std::min<uint32_t>(ms, 5)); };
            StartDialog(clock);
        },
        ::testing::ExitedWithCode(0), "MessageBox: Port 1 init failed");
}

} // namespace
} // namespace parvane::test
