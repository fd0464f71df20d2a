#include "app/SurveyWnd.h"

#include "app/RunControl.h"
#include "cli/Console.h"
#include "cli/LineLearning.h"
#include "cli/LineSession.h"
#include "i18n/MultiLanguage.h"
#include "platform/DebugPrint.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

using parvane::cli::SurveyTone;

constexpr int kPollMs = 200;

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

// ---- the survey's thread -----------------------------------------------------------

// One survey on the lent device, on a thread of its own: the session is made,
// run and torn down there (the line on-hook, the device given back) before
// Ended() turns true. Its console lines are kept for the window.
class CSurveyWnd::Worker {
public:
    Worker(CDeviceOper& device, CMultiLanguage& language, parvane::cli::SurveySettings settings)
        : m_survey(std::move(settings)), m_console([this](bool error, const std::string& text) { Note(error, text); })
    {
        m_thread = std::thread([this, &device, &language] {
            {
                parvane::cli::LineSession session(m_console, device, language);
                m_survey.Run(session, m_console);
            }
            m_ended = true;
        });
    }
    // Bounded: the survey's teardown ends its call within moments.
    ~Worker()
    {
        m_survey.Stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Stop() { m_survey.Stop(); }
    bool Ended() const { return m_ended.load(); }
    parvane::cli::SurveySnapshot Snapshot() const { return m_survey.Snapshot(); }

    std::string Progress() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_progress;
    }
    std::vector<std::string> Errors() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_errors;
    }

private:
    void Note(bool error, const std::string& text)
    {
        if (error)
            DebugPrint("Survey: %s", text.c_str());
        std::lock_guard<std::mutex> lock(m_mutex);
        if (error)
            m_errors.push_back(text);
        else
            m_progress = text;
    }

    mutable std::mutex m_mutex;
    std::string m_progress;
    std::vector<std::string> m_errors;
    parvane::cli::LineSurvey m_survey;
    parvane::cli::Console m_console;
    std::atomic<bool> m_ended{false};
    std::thread m_thread;
};

// ---- the window --------------------------------------------------------------------

CSurveyWnd::CSurveyWnd(CDeviceOper& device, CMultiLanguage& language, const parvane::RunControl& dialogRun,
                       QWidget* parent)
    : QWidget(parent, Qt::Window), m_device(device), m_language(language), m_dialogRun(dialogRun)
{
    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9*#]*")), this);
    auto* fields = new QGridLayout;
    const auto field = [&](QLabel*& label, QLineEdit*& edit, int row) {
        label = new QLabel(this);
        edit = new QLineEdit(this);
        edit->setValidator(digits);
        label->setBuddy(edit);
        fields->addWidget(label, row, 0);
        fields->addWidget(edit, row, 1);
    };
    field(m_ownLabel, m_own, 0);
    field(m_ringLabel, m_ring, 1);
    field(m_invalidLabel, m_invalid, 2);
    field(m_prefixLabel, m_prefix, 3);

    m_start = new QPushButton(this);
    m_stop = new QPushButton(this);
    m_start->setAutoDefault(false);
    m_stop->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addStretch(1);

    m_progress = new QLabel(this);
    m_progress->setTextFormat(Qt::PlainText);
    m_errors = new QLabel(this);
    m_errors->setObjectName(QStringLiteral("errors"));
    m_errors->setTextFormat(Qt::PlainText);
    m_errors->setWordWrap(true);
    m_errors->setStyleSheet(QStringLiteral("color: #a00000"));
    m_errors->hide();

    m_table = new QTableWidget(0, 4, this);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setMinimumHeight(120);

    m_toneSetLabel = new QLabel(this);
    m_toneSet = new QPlainTextEdit(this);
    m_toneSet->setReadOnly(true);
    m_toneSet->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_toneSet->setMinimumHeight(90);
    m_copy = new QPushButton(this);
    m_copy->setAutoDefault(false);
    auto* toneSetRow = new QHBoxLayout;
    toneSetRow->addWidget(m_toneSet, 1);
    toneSetRow->addWidget(m_copy, 0, Qt::AlignTop);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->addWidget(m_progress);
    layout->addWidget(m_errors);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_toneSetLabel);
    layout->addLayout(toneSetRow);
    resize(560, 460);

    connect(m_start, &QPushButton::clicked, this, [this] { OnStart(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { OnStop(); });
    connect(m_copy, &QPushButton::clicked, this, [this] { OnCopy(); });
    m_poll = new QTimer(this);
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, [this] { Poll(); });
    m_poll->start();
    Localise();
    UpdateButtons();
}

CSurveyWnd::~CSurveyWnd()
{
    EndSurvey();
}

QString CSurveyWnd::Text(int n, const char* english) const
{
    const std::string text = m_language.GetSurveyText(n);
    return text.empty() ? QString::fromUtf8(english) : FromUtf8(text);
}

void CSurveyWnd::Localise()
{
    setWindowTitle(Text(0, "Parvane - Line survey"));
    m_ownLabel->setText(Text(1, "Own number (busy tone)"));
    m_ringLabel->setText(Text(2, "Ringing number (ringback)"));
    m_invalidLabel->setText(Text(3, "Unassigned number (congestion)"));
    m_prefixLabel->setText(Text(4, "Dial prefix"));
    m_start->setText(Text(5, "Start"));
    m_stop->setText(Text(6, "Stop"));
    m_table->setHorizontalHeaderLabels(
        {Text(7, "Tone"), Text(8, "Frequencies"), Text(9, "Cadence"), Text(10, "Verified")});
    m_toneSetLabel->setText(Text(11, "Tone set"));
    m_copy->setText(Text(12, "Copy"));
    // The rows carry result words of the pack: made again.
    m_rows.clear();
    if (m_worker)
        ShowTones(m_worker->Snapshot().tones);
}

void CSurveyWnd::OnStart()
{
    if (m_worker || m_dialogRun.m_bIsWorking.load() != 0)
        return;
    parvane::cli::SurveySettings settings;
    settings.ownNumber = m_own->text().toStdString();
    settings.ringNumber = m_ring->text().toStdString();
    settings.invalidNumber = m_invalid->text().toStdString();
    settings.dialPrefix = m_prefix->text().toStdString();
    m_rows.clear();
    m_table->setRowCount(0);
    m_toneSet->clear();
    m_errors->clear();
    m_errors->hide();
    m_progress->clear();
    try {
        m_worker = std::make_unique<Worker>(m_device, m_language, std::move(settings));
    } catch (const std::system_error& error) {
        DebugPrint("The survey could not be started: %s", error.what());
        m_errors->setText(QStringLiteral("The survey could not be started: ") + QString::fromUtf8(error.what()));
        m_errors->show();
        return;
    }
    UpdateButtons();
    if (onRunningChanged)
        onRunningChanged(true);
}

void CSurveyWnd::OnStop()
{
    if (m_worker)
        m_worker->Stop();
}

void CSurveyWnd::OnCopy()
{
    QGuiApplication::clipboard()->setText(m_toneSet->toPlainText());
}

void CSurveyWnd::EndSurvey()
{
    if (!m_worker)
        return;
    // The worker's destructor stops the survey and waits for its teardown.
    m_worker.reset();
    UpdateButtons();
    if (onRunningChanged)
        onRunningChanged(false);
}

void CSurveyWnd::closeEvent(QCloseEvent* event)
{
    // The survey ends through its own teardown; the window, hidden, keeps
    // polling until it has.
    OnStop();
    QWidget::closeEvent(event);
}

void CSurveyWnd::Poll()
{
    if (!m_worker) {
        UpdateButtons();
        return;
    }
    const bool ended = m_worker->Ended();
    const parvane::cli::SurveySnapshot snapshot = m_worker->Snapshot();
    ShowTones(snapshot.tones);
    const QString toneSet = FromUtf8(parvane::cli::ToneSetText(snapshot.tones));
    if (m_toneSet->toPlainText() != toneSet)
        m_toneSet->setPlainText(toneSet);
    const std::vector<std::string> errors = m_worker->Errors();
    QStringList lines;
    for (const std::string& error : errors)
        lines << FromUtf8(error);
    m_errors->setText(lines.join(QLatin1Char('\n')));
    m_errors->setVisible(!lines.isEmpty());
    if (!ended) {
        m_progress->setText(FromUtf8(m_worker->Progress()));
        return;
    }
    m_progress->setText(snapshot.stopped ? Text(16, "Stopped: the line was released") : Text(17, "Done"));
    m_worker.reset();
    UpdateButtons();
    if (onRunningChanged)
        onRunningChanged(false);
}

void CSurveyWnd::ShowTones(const std::vector<SurveyTone>& tones)
{
    std::vector<std::vector<QString>> rows;
    for (const SurveyTone& tone : tones) {
        if (!tone.learnt && tone.failure.empty())
            continue; // not heard yet
        QString title = QString::fromUtf8(parvane::cli::ToneKindTitle(tone.kind));
        if (!tone.number.empty())
            title += QStringLiteral(" (") + FromUtf8(tone.number) + QLatin1Char(')');
        if (!tone.learnt) {
            rows.push_back({title, Text(15, "Not learnt"), FromUtf8(tone.failure), Text(14, "no")});
            continue;
        }
        rows.push_back({title, FromUtf8(parvane::cli::ToneText(tone.profile)),
                        FromUtf8(parvane::cli::CadenceText(tone.profile)),
                        tone.verified ? Text(13, "yes") : Text(14, "no")});
    }
    if (rows == m_rows)
        return;
    m_rows = rows;
    m_table->setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < static_cast<int>(rows.size()); ++row)
        for (int column = 0; column < 4; ++column) {
            auto* item = new QTableWidgetItem(rows[static_cast<size_t>(row)][static_cast<size_t>(column)]);
            item->setToolTip(item->text());
            m_table->setItem(row, column, item);
        }
    m_table->resizeColumnsToContents();
}

void CSurveyWnd::UpdateButtons()
{
    const bool running = static_cast<bool>(m_worker);
    m_start->setEnabled(!running && m_dialogRun.m_bIsWorking.load() == 0);
    m_stop->setEnabled(running);
    for (QLineEdit* edit : {m_own, m_ring, m_invalid, m_prefix})
        edit->setEnabled(!running);
}
