#include "app/TestDlg.h"

#include "app/AboutDlg.h"
#include "app/DeviceStartUp.h"
#include "app/MessageBox.h"
#include "app/SurveyWnd.h"
#include "audio/AudioGlobals.h"
#include "audio/AudioManagerWnd.h"
#include "audio/SpectrumWnd.h"
#include "audio/AudioQtBindings.h"
#include "device/DeviceOper.h"
#include "platform/AdapterIds.h"
#include "platform/DebugPrint.h"
#include "platform/HandOver.h"
#include "platform/ModuleDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

// The icon lives in the resources of this static library; they must be
// registered by hand.
static void InitParvaneResources()
{
    Q_INIT_RESOURCE(parvane);
}

CTestDlg* MainDialog = nullptr;
CDeviceOper* MainDeviceOper = nullptr;

namespace {

using parvane::RunInput;
using parvane::RunMode;

// The dialog font. The original is a CJK bitmap font of 9 points; this CJK
// font has both scripts and keeps the same proportions.
constexpr const char* kDialogFontFamily = "WenQuanYi Micro Hei";
constexpr int kDialogFontPoints = 9;
// Template 102: 500 x 285 dialog units.
constexpr int kDialogWidthDu = 500;
constexpr int kDialogHeightDu = 285;
constexpr const char* kTemplateCaption = "Parvane V1.0.0.2";
// The audio manager window inside frame 1007: its child id and the
// direction Initialise is given.
constexpr int kAudioManagerId = 101;
constexpr int kAudioManagerDirection = 6;

// The tooltip: shown 10 ms after the mouse rests, for 30 s, at most 400
// pixels wide, black on white.
constexpr int kToolTipShowMs = 30000;
constexpr int kToolTipMaxWidth = 400;

enum class Kind {
    BlackFrame,
    Tab,
    Static,
    StaticCentred,
    PushButton,
    ListBox,
    AutoCheckBox,
    NumberEdit,
    ReadOnlyEdit,
    RadioButton,
    DropList,
    GroupBox,
};

struct TemplateControl {
    int id;
    Kind kind;
    const char* text;
    int x, y, width, height;
    bool visible;
};

// Template 102 in template order.
constexpr TemplateControl kTemplate102[] = {
    {IDC_AUDIO_FRAME, Kind::BlackFrame, "", 388, 237, 38, 14, false},
    {IDC_TAB, Kind::Tab, "", 418, 253, 74, 9, false},
    {IDC_CUR_FREQ, Kind::Static, "Cur Freq:", 11, 259, 78, 13, false},
    {IDC_START, Kind::PushButton, "Start", 128, 145, 50, 14, true},
    {IDC_STOP, Kind::PushButton, "Stop", 184, 145, 50, 14, true},
    {IDC_FREQ_LIST, Kind::ListBox, "", 12, 25, 39, 222, true},
    {IDC_FREQ_LIST_LABEL, Kind::Static, "Possible BusyTone Freq List", 12, 12, 42, 8, true},
    {IDC_EVENT_LIST, Kind::ListBox, "", 396, 197, 96, 34, false},
    {IDC_COUNT_LIST, Kind::ListBox, "", 57, 25, 63, 222, true},
    {IDC_AUTO_STOP, Kind::AutoCheckBox, "Auto Stop after 15 seconds", 424, 238, 68, 10, false},
    {IDC_STATIC, Kind::Static, "Port1 PBX Number", 334, 223, 65, 8, false},
    {IDC_PBX_NUMBER, Kind::NumberEdit, "", 387, 254, 40, 14, false},
    {IDC_ANALYZE_MODE, Kind::RadioButton, "Analyze Mode", 133, 41, 64, 10, true},
    {IDC_VERIFY_MODE, Kind::RadioButton, "Verify Mode", 133, 92, 60, 10, true},
    {IDC_FREQ1, Kind::NumberEdit, "", 202, 85, 35, 14, true},
    {IDC_FREQ2, Kind::NumberEdit, "", 250, 85, 35, 14, true},
    {IDC_FREQ1_LABEL, Kind::Static, "Freq 1", 208, 75, 25, 8, true},
    {IDC_FREQ2_LABEL, Kind::Static, "Freq 2", 255, 75, 25, 8, true},
    {IDC_STATUS, Kind::ReadOnlyEdit, "", 200, 112, 289, 14, true},
    {IDC_STATUS_LABEL, Kind::Static, "Verify Status", 133, 114, 53, 8, true},
    {IDC_ANALYZE_BUF, Kind::DropList, "", 201, 41, 48, 30, true},
    {IDC_ANALYZE_BUF_LABEL, Kind::Static, "Analyze Buf", 203, 31, 69, 8, true},
    {IDC_LANGUAGE, Kind::DropList, "", 141, 7, 76, 30, true},
    {IDC_ON_PERIOD, Kind::NumberEdit, "", 298, 85, 25, 13, true},
    {IDC_OFF_PERIOD, Kind::NumberEdit, "", 338, 85, 25, 13, true},
    {IDC_ON_PERIOD_LABEL, Kind::Static, "On Period", 295, 75, 37, 8, true},
    {IDC_OFF_PERIOD_LABEL, Kind::Static, "Off Period", 337, 75, 41, 8, true},
    {IDC_STATIC, Kind::Static, "ms", 326, 87, 9, 8, true},
    {IDC_STATIC, Kind::Static, "ms", 367, 87, 9, 8, true},
    {IDC_STATIC, Kind::Static, "Hz", 288, 87, 9, 8, true},
    {IDC_STATIC, Kind::Static, "Hz", 239, 87, 9, 8, true},
    {IDC_GET_PERIOD, Kind::RadioButton, "Get Period", 133, 71, 56, 10, true},
    {IDC_COUNTS_LABEL, Kind::StaticCentred, "Counts", 61, 12, 57, 8, true},
    {IDC_STATIC, Kind::GroupBox, "", 128, 59, 364, 73, true},
    {IDC_HELP, Kind::PushButton, "Help", 241, 145, 50, 14, true},
};

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Packs write line breaks as CR LF; Qt's texts break at LF.
QString DisplayText(const std::string& text)
{
    return FromUtf8(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

// ---- timers ------------------------------------------------------------------------

// The run's timers on the dialog's thread; SetTimer and KillTimer may be called
// from any thread (the device thread arms the answer timer), as SetTimer on a
// window may.
class CTestDlg::Timers final : public parvane::RunTimers {
public:
    explicit Timers(CTestDlg* dialog) : m_dialog(dialog)
    {
        for (int id : {kAutoStopTimer, kAnswerTimer, kAdapterTimer}) {
            auto* timer = new QTimer(dialog);
            timer->setSingleShot(true);
            timer->setTimerType(Qt::PreciseTimer);
            QObject::connect(timer, &QTimer::timeout, dialog, [dialog, id] { dialog->OnTimer(id); });
            m_timers[id] = timer;
        }
    }

    void SetTimer(int id, uint32_t milliseconds) override
    {
        OnDialogThread([this, id, milliseconds] {
            if (QTimer* timer = Find(id))
                timer->start(static_cast<int>(milliseconds));
        });
    }

    void KillTimer(int id) override
    {
        OnDialogThread([this, id] {
            if (QTimer* timer = Find(id))
                timer->stop();
        });
    }

    bool IsPending(int id) const
    {
        const QTimer* timer = Find(id);
        return timer != nullptr && timer->isActive();
    }

private:
    QTimer* Find(int id) const
    {
        const auto it = m_timers.find(id);
        return it == m_timers.end() ? nullptr : it->second;
    }

    template <typename F>
    void OnDialogThread(F&& work)
    {
        if (QThread::currentThread() == m_dialog->thread())
            work();
        else
            QMetaObject::invokeMethod(m_dialog, parvane::HandOver(std::forward<F>(work)), Qt::QueuedConnection);
    }

    CTestDlg* m_dialog;
    std::map<int, QTimer*> m_timers;
};

// ---- construction ------------------------------------------------------------------

CTestDlg::CTestDlg(QWidget* parent, DeviceClock clock)
    : QDialog(parent), m_clock(clock), m_vendorId(parvane::kAdapterVendorId)
{
    InitParvaneResources();
    m_hIcon = QIcon(QStringLiteral(":/parvane/parvane.png"));
    m_pAudioManager = nullptr;
    MainDeviceOper = new CDeviceOper(std::move(clock));

    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(kTemplateCaption));
    setWindowIcon(m_hIcon);
    QFont font(QString::fromUtf8(kDialogFontFamily));
    font.setPointSize(kDialogFontPoints);
    setFont(font);
    m_units = parvane::DialogBaseUnitsOf(font);
    CreateControls();

    m_timers = std::make_unique<Timers>(this);
    m_freqListBinding = std::make_unique<parvane::ListWidgetAnalysisList>(m_freqList);
    m_countListBinding = std::make_unique<parvane::ListWidgetAnalysisList>(m_countList);
    m_eventListBinding = std::make_unique<parvane::ListWidgetAnalysisList>(m_eventList);
    parvane::RunPanel& panel = *this;
    parvane::AnalysisCapture& capture = *this;
    m_run = std::make_unique<parvane::RunControl>(*MainDeviceOper, m_language, panel, *m_timers, capture);
}

CTestDlg::~CTestDlg()
{
    OnDestroy();
    if (MainDialog == this)
        MainDialog = nullptr;
}

void CTestDlg::CreateControls()
{
    const QRect dialogRect = parvane::DialogUnitsToPixels(QRect(0, 0, kDialogWidthDu, kDialogHeightDu), m_units);
    setFixedSize(dialogRect.size());

    auto* digitsOnly = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    QGroupBox* groupBox = nullptr;
    for (const TemplateControl& entry : kTemplate102) {
        const QRect rect = parvane::DialogUnitsToPixels(QRect(entry.x, entry.y, entry.width, entry.height), m_units);
        const QString text = QString::fromUtf8(entry.text);
        QWidget* widget = nullptr;
        switch (entry.kind) {
        case Kind::BlackFrame: {
            auto* frame = new QFrame(this);
            frame->setFrameStyle(QFrame::Box | QFrame::Plain);
            widget = frame;
            break;
        }
        case Kind::Tab:
            widget = m_tab = new QTabWidget(this);
            break;
        case Kind::Static:
        case Kind::StaticCentred: {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(entry.kind == Kind::StaticCentred ? Qt::AlignHCenter | Qt::AlignTop
                                                                  : Qt::AlignLeft | Qt::AlignTop);
            label->setProperty("templateRect", rect);
            widget = label;
            break;
        }
        case Kind::PushButton:
            widget = new QPushButton(text, this);
            static_cast<QPushButton*>(widget)->setAutoDefault(false);
            break;
        case Kind::ListBox: {
            auto* list = new QListWidget(this);
            list->setSortingEnabled(false);
            list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
            list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            list->setFrameShape(QFrame::Box);
            widget = list;
            break;
        }
        case Kind::AutoCheckBox:
            widget = new QCheckBox(text, this);
            break;
        case Kind::NumberEdit:
        case Kind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(this);
            if (entry.kind == Kind::NumberEdit)
                edit->setValidator(digitsOnly);
            else
                edit->setReadOnly(true);
            widget = edit;
            break;
        }
        case Kind::RadioButton:
            widget = new QRadioButton(text, this);
            break;
        case Kind::DropList: {
            auto* combo = new QComboBox(this);
            combo->setEditable(false);
            // The program fills both drop-down lists itself; their items are
            // never taken from a language pack (the Analyze Buf choices must
            // always be the eight block sizes).
            combo->setProperty(parvane::kProgramFilledItemsProperty, true);
            widget = combo;
            break;
        }
        case Kind::GroupBox:
            widget = groupBox = new QGroupBox(text, this);
            break;
        }
        widget->setProperty(parvane::kControlIdProperty, entry.id);
        QRect placed = rect;
        if (entry.kind == Kind::DropList) // the template's height includes the drop-down part
            placed.setHeight(std::max(widget->sizeHint().height(), m_units.height + 6));
        widget->setGeometry(placed);
        widget->setVisible(entry.visible);
        if (entry.id != IDC_STATIC)
            m_controls[entry.id] = widget;
    }
    if (groupBox != nullptr)
        groupBox->lower();

    m_freqList = static_cast<QListWidget*>(Control(IDC_FREQ_LIST));
    m_eventList = static_cast<QListWidget*>(Control(IDC_EVENT_LIST));
    m_countList = static_cast<QListWidget*>(Control(IDC_COUNT_LIST));
    m_autoStop = static_cast<QCheckBox*>(Control(IDC_AUTO_STOP));
    m_analyzeMode = static_cast<QRadioButton*>(Control(IDC_ANALYZE_MODE));
    m_verifyMode = static_cast<QRadioButton*>(Control(IDC_VERIFY_MODE));
    m_getPeriod = static_cast<QRadioButton*>(Control(IDC_GET_PERIOD));
    m_bufferCombo = static_cast<QComboBox*>(Control(IDC_ANALYZE_BUF));
    m_languageCombo = static_cast<QComboBox*>(Control(IDC_LANGUAGE));

    connect(static_cast<QPushButton*>(Control(IDC_START)), &QPushButton::clicked, this, [this] { OnBnClickedStart(); });
    connect(static_cast<QPushButton*>(Control(IDC_STOP)), &QPushButton::clicked, this, [this] { OnBnClickedStop(); });
    connect(static_cast<QPushButton*>(Control(IDC_HELP)), &QPushButton::clicked, this, [this] { OnBnClickedHelp(); });
    connect(m_analyzeMode, &QRadioButton::clicked, this, [this] { OnBnClickedAnalyzeMode(); });
    connect(m_verifyMode, &QRadioButton::clicked, this, [this] { OnBnClickedVerifyMode(); });
    connect(m_getPeriod, &QRadioButton::clicked, this, [this] { OnBnClickedGetPeriod(); });
    connect(m_languageCombo, &QComboBox::activated, this, [this] { OnCbnSelchangeLanguage(); });

    // The verification worker reads the figures from its own thread: keep a
    // copy it may read at any time.
    const std::pair<int, RunInput> inputs[] = {{IDC_FREQ1, RunInput::Frequency1},
                                               {IDC_FREQ2, RunInput::Frequency2},
                                               {IDC_ON_PERIOD, RunInput::OnPeriod},
                                               {IDC_OFF_PERIOD, RunInput::OffPeriod}};
    for (const auto& [id, input] : inputs) {
        auto* edit = static_cast<QLineEdit*>(Control(id));
        connect(edit, &QLineEdit::textChanged, this, [this, input = input](const QString& text) {
            std::lock_guard<std::mutex> lock(m_inputMutex);
            m_inputs[input] = text.toStdString();
        });
    }
    Control(IDC_START)->installEventFilter(this);
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

QWidget* CTestDlg::Control(int id) const
{
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

// ---- start-up ------------------------------------------------------------------------

bool CTestDlg::OnInitDialog()
{
    MainDialog = this;
    OnBnClickedAnalyzeMode();
    setWindowIcon(m_hIcon);
    m_autoStop->setChecked(false);

    std::string model;
    const parvane::DeviceStartUpResult result =
        parvane::StartUpDevice(*MainDeviceOper, m_run.get(), m_vendorId, m_clock.sleep, model);
    if (result != parvane::DeviceStartUpResult::Ready) {
        parvane::ShowMessageBox(this, QString::fromUtf8(parvane::DeviceStartUpFailureText(result)));
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(kStartUpFailureExitCode);
    }

    m_language.FillLanguageCombo(m_languageCombo);
    // English, whatever other packs sort before it.
    const int languageIndex = m_language.StartUpPackIndex();
    if (languageIndex >= 0 && languageIndex < m_languageCombo->count()) {
        m_languageCombo->setCurrentIndex(languageIndex);
        m_language.SetLanguage(m_languageCombo->currentText().toStdString());
    }
    m_language.LocaliseDialog(this, IDD_TESTDLG);
    Relayout();

    Control(IDC_STOP)->setEnabled(false);
    FillAnalyzeBufferCombo();
    LoadToolTip();
    SaveFrequencyLabel();
    return true;
}

void CTestDlg::FillAnalyzeBufferCombo()
{
    m_bufferCombo->clear();
    for (int size : parvane::kAnalyzeBufferSizes)
        m_bufferCombo->addItem(QString::fromStdString(parvane::AnalyzeBufferText(size)));
    m_bufferCombo->setCurrentIndex(parvane::kDefaultAnalyzeBufferIndex);
    CaptureBlockBytes = parvane::kAnalyzeBufferSizes[parvane::kDefaultAnalyzeBufferIndex];
}

void CTestDlg::LoadToolTip()
{
    const QString tip = DisplayText(m_language.GetTooltipText(0) + m_language.GetTooltipText(1));
    DebugPrint("len=%ld", static_cast<long>(tip.size()));
    m_strToolTip = tip;
    // Long tips wrap at the maximum width; short ones keep their own.
    QString rich = tip.toHtmlEscaped().replace('\n', QStringLiteral("<br>"));
    int widest = 0;
    for (const QString& line : tip.split('\n'))
        widest = std::max(widest, QFontMetrics(QToolTip::font()).horizontalAdvance(line));
    if (widest > kToolTipMaxWidth)
        rich = QStringLiteral("<table width=\"%1\"><tr><td>%2</td></tr></table>").arg(kToolTipMaxWidth).arg(rich);
    else
        rich = QStringLiteral("<p>%1</p>").arg(rich);
    Control(IDC_START)->setToolTip(tip.isEmpty() ? QString() : rich);
}

void CTestDlg::SaveFrequencyLabel()
{
    m_strFreqLabel = static_cast<QLabel*>(Control(IDC_CUR_FREQ))->text();
    m_run->SetFrequencyLabel(m_strFreqLabel.toStdString());
}

void CTestDlg::Relayout()
{
    parvane::FitStaticTexts(this, m_units);
}

void CTestDlg::OnCbnSelchangeLanguage()
{
    m_language.SetLanguage(m_languageCombo->currentText().toStdString());
    m_language.LocaliseDialog(this, IDD_TESTDLG);
    Relayout();
    LoadToolTip();
    SaveFrequencyLabel();
    LocaliseSpectrumWindow();
    if (m_pSurveyWnd != nullptr)
        m_pSurveyWnd->Localise();
}

// ---- events ----------------------------------------------------------------------------

bool CTestDlg::eventFilter(QObject* watched, QEvent* event)
{
    // The Start button's tip stays up for 30 seconds.
    if (watched == Control(IDC_START) && event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        QWidget* start = Control(IDC_START);
        if (!start->toolTip().isEmpty())
            QToolTip::showText(help->globalPos(), start->toolTip(), start, start->rect(), kToolTipShowMs);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CTestDlg::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(CreateContextMenu(this));
    menu->exec(event->globalPos());
}

QMenu* CTestDlg::CreateContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->addAction(QStringLiteral("About (&A)..."), this, [this] { OnAbout(); });
    menu->addAction(SpectrumMenuText(), this, [this] { OnShowSpectrum(); });
    menu->addAction(SurveyMenuText(), this, [this] { OnSurveyLine(); });
    return menu;
}

QString CTestDlg::SurveyMenuText()
{
    const std::string text = m_language.GetMenuText(1);
    return text.empty() ? QStringLiteral("Survey the line...") : FromUtf8(text);
}

void CTestDlg::OnSurveyLine()
{
    if (m_pSurveyWnd == nullptr) {
        m_pSurveyWnd = new CSurveyWnd(*MainDeviceOper, m_language, *m_run, this);
        m_pSurveyWnd->onRunningChanged = [this](bool running) { OnSurveyRunning(running); };
    }
    m_pSurveyWnd->Localise();
    m_pSurveyWnd->setWindowIcon(m_hIcon);
    m_pSurveyWnd->show();
    m_pSurveyWnd->raise();
}

void CTestDlg::OnSurveyRunning(bool running)
{
    if (m_bDestroyed)
        return;
    Control(IDC_START)->setEnabled(!running && m_run->m_bIsWorking.load() == 0);
}

QString CTestDlg::SpectrumMenuText()
{
    const std::string text = m_language.GetMenuText(0);
    return text.empty() ? QStringLiteral("Show spectrum") : FromUtf8(text);
}

void CTestDlg::OnShowSpectrum()
{
    if (m_pSpectrumWnd == nullptr) {
        m_pSpectrumWnd = new CSpectrumWnd(this);
        if (m_pAudioManager != nullptr)
            m_pSpectrumWnd->Attach(&m_pAudioManager->SpectrumView().Analysis());
    }
    LocaliseSpectrumWindow();
    m_pSpectrumWnd->setWindowIcon(m_hIcon);
    m_pSpectrumWnd->show();
    m_pSpectrumWnd->raise();
}

// The window's texts from the current pack; a text the pack lacks stays
// English, and a pack without a caption gives the program's name and the
// menu item's text.
void CTestDlg::LocaliseSpectrumWindow()
{
    if (m_pSpectrumWnd == nullptr)
        return;
    SpectrumTexts texts;
    QString* const fields[] = {&texts.waiting, &texts.strongest, &texts.band,       &texts.heard,
                               &texts.noTone,  &texts.unit,      &texts.candidates, &texts.shown};
    for (int n = 1; n <= 8; ++n) {
        const std::string text = m_language.GetSpectrumText(n);
        if (!text.empty())
            *fields[n - 1] = FromUtf8(text);
    }
    m_pSpectrumWnd->SetTexts(texts);
    const std::string caption = m_language.GetSpectrumText(0);
    m_pSpectrumWnd->setWindowTitle(caption.empty() ? QStringLiteral("Parvane - ") + SpectrumMenuText()
                                                   : FromUtf8(caption));
}

void CTestDlg::OnAbout()
{
    CAboutDlg about(m_hIcon, this);
    about.exec();
}

void CTestDlg::OnShowFrequency(uint32_t frequency)
{
    auto* label = static_cast<QLabel*>(Control(IDC_CUR_FREQ));
    if (frequency >= 100 && frequency <= 900)
        label->setText(QString::asprintf("Possible BusyTone Freq\uFF1A%.0fHz", static_cast<double>(frequency)));
    else
        label->setText(QString());
}

// ---- mode buttons --------------------------------------------------------------------------

void CTestDlg::OnBnClickedAnalyzeMode()
{
    m_analyzeMode->setChecked(true);
    m_verifyMode->setChecked(false);
    m_getPeriod->setChecked(false);
    for (int id : {IDC_FREQ1, IDC_FREQ2, IDC_ON_PERIOD, IDC_OFF_PERIOD})
        Control(id)->setEnabled(false);
    Control(IDC_ANALYZE_BUF)->setEnabled(true);
    Control(IDC_ANALYZE_BUF_LABEL)->setEnabled(true);
    m_run->SelectMode(RunMode::Analyze);
}

void CTestDlg::OnBnClickedVerifyMode()
{
    m_analyzeMode->setChecked(false);
    m_verifyMode->setChecked(true);
    m_getPeriod->setChecked(false);
    for (int id : {IDC_FREQ1, IDC_FREQ2, IDC_ON_PERIOD, IDC_OFF_PERIOD})
        Control(id)->setEnabled(true);
    Control(IDC_ANALYZE_BUF)->setEnabled(false);
    Control(IDC_ANALYZE_BUF_LABEL)->setEnabled(false);
    Control(IDC_FREQ1)->setFocus();
    m_run->SelectMode(RunMode::Verify);
}

void CTestDlg::OnBnClickedGetPeriod()
{
    m_analyzeMode->setChecked(false);
    m_verifyMode->setChecked(false);
    m_getPeriod->setChecked(true);
    Control(IDC_FREQ1)->setEnabled(true);
    Control(IDC_FREQ2)->setEnabled(true);
    for (int id : {IDC_ON_PERIOD, IDC_OFF_PERIOD}) {
        static_cast<QLineEdit*>(Control(id))->clear();
        Control(id)->setEnabled(false);
    }
    Control(IDC_ANALYZE_BUF)->setEnabled(false);
    Control(IDC_ANALYZE_BUF_LABEL)->setEnabled(false);
    Control(IDC_FREQ1)->setFocus();
    m_run->SelectMode(RunMode::GetPeriod);
}

// ---- run -----------------------------------------------------------------------------------

void CTestDlg::OnBnClickedStart()
{
    // The survey holds the device; its run and this one never overlap.
    if (m_pSurveyWnd != nullptr && m_pSurveyWnd->Running())
        return;
    m_run->Start();
}

void CTestDlg::OnBnClickedStop()
{
    m_run->Stop();
}

void CTestDlg::OnTimer(int id)
{
    m_run->OnTimer(id);
}

bool CTestDlg::IsTimerPending(int id) const
{
    return m_timers->IsPending(id);
}

QString CTestDlg::HelpPath() const
{
    return FromUtf8(GetModuleDir() + "Help/" + const_cast<CMultiLanguage&>(m_language).GetHelpFileName());
}

void CTestDlg::OnBnClickedHelp()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(HelpPath()));
}

// ---- RunPanel --------------------------------------------------------------------------

void CTestDlg::SetRunButtons(bool startEnabled, bool stopEnabled)
{
    Control(IDC_START)->setEnabled(startEnabled);
    Control(IDC_STOP)->setEnabled(stopEnabled);
}

void CTestDlg::ShowMessage(const std::string& text)
{
    parvane::ShowMessageBox(this, DisplayText(text));
}

bool CTestDlg::AutoStopChecked() const
{
    return m_autoStop->isChecked();
}

int CTestDlg::AnalyzeBufferIndex() const
{
    return m_bufferCombo->currentIndex();
}

parvane::AnalysisList& CTestDlg::FrequencyList()
{
    return *m_freqListBinding;
}

parvane::AnalysisList& CTestDlg::CountList()
{
    return *m_countListBinding;
}

parvane::AnalysisList& CTestDlg::ChangeLog()
{
    return *m_eventListBinding;
}

void CTestDlg::SetFrequencyText(const std::string& text)
{
    static_cast<QLabel*>(Control(IDC_CUR_FREQ))->setText(FromUtf8(text));
}

std::string CTestDlg::InputText(RunInput input) const
{
    std::lock_guard<std::mutex> lock(m_inputMutex);
    const auto it = m_inputs.find(input);
    return it == m_inputs.end() ? std::string() : it->second;
}

void CTestDlg::SetStatusText(const std::string& text)
{
    auto* status = static_cast<QLineEdit*>(Control(IDC_STATUS));
    if (QThread::currentThread() == thread()) {
        ++m_statusGeneration;
        status->setText(DisplayText(text));
        return;
    }
    const uint64_t generation = m_statusGeneration.load();
    QMetaObject::invokeMethod(
        this,
        parvane::HandOver([this, status, generation, value = DisplayText(text)] {
            if (m_statusGeneration.load() == generation)
                status->setText(value);
        }),
        Qt::QueuedConnection);
}

// ---- AnalysisCapture -------------------------------------------------------------------

void CTestDlg::StartCapture()
{
    QWidget* frame = Control(IDC_AUDIO_FRAME);
    const QRect rect = frame->contentsRect();
    if (m_pAudioManager == nullptr) {
        m_pAudioManager = new CAudioManagerWnd;
        m_pAudioManager->Create(rect, frame, kAudioManagerId);
        m_pAudioManager->SetAnalysisOutput(m_run.get());
        if (m_pSpectrumWnd != nullptr)
            m_pSpectrumWnd->Attach(&m_pAudioManager->SpectrumView().Analysis());
    }
    // The engine's views are never on screen: the results are the lists.
    frame->hide();
    m_pAudioManager->Initialise(kAudioManagerDirection, rect);
}

void CTestDlg::StopCapture()
{
    if (m_pAudioManager == nullptr)
        return;
    if (CAudioEngine* engine = CurrentAudioEngine())
        engine->SetState(CAudioEngine::kStopInput);
}

// ---- teardown ------------------------------------------------------------------------------

void CTestDlg::OnDestroy()
{
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    // A survey still going ends first, through its own teardown (the line
    // on-hook), and gives the device back.
    delete m_pSurveyWnd;
    m_pSurveyWnd = nullptr;
    // A run still going ends here: its worker stops detection and releases
    // the line before the device object stops.
    m_run->CloseDevice();
    // The spectrum window watches the manager's analysis: it goes first.
    delete m_pSpectrumWnd;
    m_pSpectrumWnd = nullptr;
    delete m_pAudioManager;
    m_pAudioManager = nullptr;
}
