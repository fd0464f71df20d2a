#pragma once
// CSurveyWnd: the survey of parvane-cli survey (cli/LineSurvey) as a window
// of the main dialog. The numbers to call, Start and Stop, a progress line,
// a row per tone as it is learnt and the tone set ready to copy.
//
// The survey borrows the dialog's device and language packs (LineSession's
// borrowing constructor) and runs on a thread of its own, while the
// dialog's own run is idle: Start is offered only then, and the dialog is
// told (onRunningChanged) to keep its own Start disabled until the survey
// has given the device back. The window polls the survey's snapshot.

#include "cli/LineSurvey.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CDeviceOper;
class CMultiLanguage;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace parvane {
class RunControl;
}

class CSurveyWnd final : public QWidget {
public:
    // `dialogRun` is the dialog's own run control (its run must be idle for
    // a survey to start); `device` and `language` are lent to each survey.
    CSurveyWnd(CDeviceOper& device, CMultiLanguage& language, const parvane::RunControl& dialogRun,
               QWidget* parent);
    // Ends a survey still going (EndSurvey).
    ~CSurveyWnd() override;

    // Called with true when a survey starts, false once it has ended and
    // given the device back.
    std::function<void(bool running)> onRunningChanged;

    // The texts from the current pack (a text the pack lacks stays English).
    void Localise();

    void OnStart();
    void OnStop();
    void OnCopy();
    // Stops a survey still going and waits for its teardown (the line put
    // on-hook, the device given back): the dialog calls it as it closes.
    void EndSurvey();
    // A survey started and not yet ended.
    bool Running() const { return static_cast<bool>(m_worker); }

    // ---- for tests ----
    QLineEdit* OwnNumberEdit() const { return m_own; }
    QLineEdit* RingNumberEdit() const { return m_ring; }
    QLineEdit* InvalidNumberEdit() const { return m_invalid; }
    QLineEdit* DialPrefixEdit() const { return m_prefix; }
    QPushButton* StartButton() const { return m_start; }
    QPushButton* StopButton() const { return m_stop; }
    QPushButton* CopyButton() const { return m_copy; }
    QLabel* ProgressLine() const { return m_progress; }
    QTableWidget* ToneTable() const { return m_table; }
    QPlainTextEdit* ToneSetBox() const { return m_toneSet; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Worker;

    // Every poll: the worker's progress, tones and tone set shown; a worker
    // that has ended is joined.
    void Poll();
    void ShowTones(const std::vector<parvane::cli::SurveyTone>& tones);
    void UpdateButtons();
    QString Text(int n, const char* english) const;

    CDeviceOper& m_device;
    CMultiLanguage& m_language;
    const parvane::RunControl& m_dialogRun;
    std::unique_ptr<Worker> m_worker;
    std::vector<std::vector<QString>> m_rows;

    QLabel* m_ownLabel = nullptr;
    QLabel* m_ringLabel = nullptr;
    QLabel* m_invalidLabel = nullptr;
    QLabel* m_prefixLabel = nullptr;
    QLabel* m_toneSetLabel = nullptr;
    QLineEdit* m_own = nullptr;
    QLineEdit* m_ring = nullptr;
    QLineEdit* m_invalid = nullptr;
    QLineEdit* m_prefix = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_copy = nullptr;
    QLabel* m_progress = nullptr;
    QLabel* m_errors = nullptr;
    QTableWidget* m_table = nullptr;
    QPlainTextEdit* m_toneSet = nullptr;
    QTimer* m_poll = nullptr;
};
