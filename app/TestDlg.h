#pragma once
// CTestDlg: the main dialog (template 102). It lays out its controls in
// dialog units, brings the adapter up at start-up (ending the program on the
// three fixed failures), localises itself from the language packs, and maps
// its buttons, timers and controls onto the toolkit-free RunControl.

#include "app/DialogLayout.h"
#include "app/RunControl.h"
#include "device/DeviceOper.h"
#include "i18n/MultiLanguage.h"

#include <QDialog>
#include <QIcon>
#include <QString>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

class CAudioManagerWnd;
class CSpectrumWnd;
class CSurveyWnd;
class QMenu;
class CDeviceOper;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;

// Control ids of template 102.
enum : int {
    IDD_TESTDLG = 102,
    IDC_START = 1000,
    IDC_STOP = 1001,
    IDC_HELP = 1002,
    IDC_AUDIO_FRAME = 1007,
    IDC_TAB = 1010,
    IDC_CUR_FREQ = 1018,
    IDC_FREQ_LIST = 1022,
    IDC_EVENT_LIST = 1023,
    IDC_COUNT_LIST = 1024,
    IDC_AUTO_STOP = 1025,
    IDC_PBX_NUMBER = 1026,
    IDC_ANALYZE_MODE = 1027,
    IDC_VERIFY_MODE = 1028,
    IDC_FREQ1 = 1029,
    IDC_FREQ2 = 1030,
    IDC_FREQ1_LABEL = 1031,
    IDC_FREQ2_LABEL = 1032,
    IDC_STATUS = 1033,
    IDC_STATUS_LABEL = 1034,
    IDC_ANALYZE_BUF = 1035,
    IDC_ANALYZE_BUF_LABEL = 1036,
    IDC_LANGUAGE = 1037,
    IDC_FREQ_LIST_LABEL = 1038,
    IDC_ON_PERIOD = 1039,
    IDC_OFF_PERIOD = 1040,
    IDC_ON_PERIOD_LABEL = 1041,
    IDC_OFF_PERIOD_LABEL = 1042,
    IDC_GET_PERIOD = 1043,
    IDC_COUNTS_LABEL = 1044,
    IDC_STATIC = -1,
    IDM_ABOUTBOX = 0x0010,
};

// The window message other windows may send to show a frequency in the
// current-frequency label (WM_USER+100).
constexpr unsigned kShowFrequencyMessage = 0x464;

// The start-up failure: the message has been shown; the program ends with
// this exit code.
constexpr int kStartUpFailureExitCode = 0;

class CTestDlg;
// The running main dialog.
extern CTestDlg* MainDialog;
// The port-1 device object, created by the dialog's constructor and kept
// until the process ends.
extern CDeviceOper* MainDeviceOper;

class CTestDlg final : public QDialog, private parvane::RunPanel, private parvane::AnalysisCapture {
    Q_OBJECT

public:
    // `clock` is the device object's (tests pass a fast one); the start-up
    // waits between model-name reads use it too.
    explicit CTestDlg(QWidget* parent = nullptr, DeviceClock clock = DeviceClock::System());
    ~CTestDlg() override;

    // Start-up; on the three adapter failures shows the fixed message and
    // ends the process with exit code 0. Returns true.
    bool OnInitDialog();
    // The adapter's USB vendor id (--vendor-id); set before OnInitDialog.
    void SetVendorId(uint16_t vendorId) { m_vendorId = vendorId; }

    // ---- handlers ----
    void OnBnClickedAnalyzeMode();
    void OnBnClickedVerifyMode();
    void OnBnClickedGetPeriod();
    void OnBnClickedStart();
    void OnBnClickedStop();
    void OnBnClickedHelp();
    void OnCbnSelchangeLanguage();
    void OnTimer(int id);
    void OnAbout();
    // "Show spectrum": the audio manager's views in a window of their own.
    void OnShowSpectrum();
    // "Survey the line": the outbound survey in a window of its own, on
    // this dialog's device while its own run is idle.
    void OnSurveyLine();
    // The context menu (About, Show spectrum, Survey the line), owned by the
    // caller.
    QMenu* CreateContextMenu(QWidget* parent);
    // The spectrum window once it has been opened; null before.
    CSpectrumWnd* SpectrumWindow() const { return m_pSpectrumWnd; }
    CAudioManagerWnd* AudioManager() const { return m_pAudioManager; }
    // The survey window once it has been opened; null before.
    CSurveyWnd* SurveyWindow() const { return m_pSurveyWnd; }
    // WM_USER+100: wParam is a frequency in Hz.
    void OnShowFrequency(uint32_t frequency);
    // Teardown (also run by the destructor, once).
    void OnDestroy();

    // ---- for tests and the screenshot tool ----
    QWidget* Control(int id) const;
    parvane::RunControl& Run() { return *m_run; }
    CMultiLanguage& Language() { return m_language; }
    bool IsTimerPending(int id) const;
    QString StartToolTip() const { return m_strToolTip; }
    const parvane::DialogBaseUnits& BaseUnits() const { return m_units; }
    // The help document Help opens.
    QString HelpPath() const;

    // m_strFreqLabel: the caption of 1018 as the language pack left it.
    QString m_strFreqLabel;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    class Timers;

    void CreateControls();
    void LoadToolTip();
    void SaveFrequencyLabel();
    void FillAnalyzeBufferCombo();
    void Relayout();
    // The spectrum window's title and menu text from the current pack.
    QString SpectrumMenuText();
    void LocaliseSpectrumWindow();
    QString SurveyMenuText();
    // Start is offered while no survey holds the device.
    void OnSurveyRunning(bool running);

    // RunPanel
    void SetRunButtons(bool startEnabled, bool stopEnabled) override;
    void ShowMessage(const std::string& text) override;
    bool AutoStopChecked() const override;
    int AnalyzeBufferIndex() const override;
    parvane::AnalysisList& FrequencyList() override;
    parvane::AnalysisList& CountList() override;
    parvane::AnalysisList& ChangeLog() override;
    void SetFrequencyText(const std::string& text) override;
    std::string InputText(parvane::RunInput input) const override;
    void SetStatusText(const std::string& text) override;

    // AnalysisCapture
    void StartCapture() override;
    void StopCapture() override;

    CAudioManagerWnd* m_pAudioManager = nullptr;
    CSpectrumWnd* m_pSpectrumWnd = nullptr;
    CSurveyWnd* m_pSurveyWnd = nullptr;
    QIcon m_hIcon;
    QTabWidget* m_tab = nullptr;
    QListWidget* m_freqList = nullptr;
    QListWidget* m_eventList = nullptr;
    QListWidget* m_countList = nullptr;
    QCheckBox* m_autoStop = nullptr;
    QRadioButton* m_analyzeMode = nullptr;
    QRadioButton* m_verifyMode = nullptr;
    QRadioButton* m_getPeriod = nullptr;
    QComboBox* m_bufferCombo = nullptr;
    QComboBox* m_languageCombo = nullptr;
    CMultiLanguage m_language;
    QString m_strToolTip;

    DeviceClock m_clock;
    uint16_t m_vendorId;
    parvane::DialogBaseUnits m_units;
    std::map<int, QWidget*> m_controls;
    std::unique_ptr<Timers> m_timers;
    std::unique_ptr<parvane::AnalysisList> m_freqListBinding;
    std::unique_ptr<parvane::AnalysisList> m_countListBinding;
    std::unique_ptr<parvane::AnalysisList> m_eventListBinding;
    std::unique_ptr<parvane::RunControl> m_run;
    bool m_bDestroyed = false;

    // The operator's figures as last typed, for the verification worker.
    mutable std::mutex m_inputMutex;
    std::map<parvane::RunInput, std::string> m_inputs;
    // Bumped whenever the GUI thread sets the status line itself; a status
    // queued by a worker before that is stale and dropped.
    std::atomic<uint64_t> m_statusGeneration{0};
};
