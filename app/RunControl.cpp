#include "app/RunControl.h"

#include "app/WaveBoxPlayback.h"
#include "audio/AudioGlobals.h"
#include "device/DeviceOper.h"
#include "i18n/AudioDeviceName.h"
#include "i18n/MessageFormat.h"
#include "i18n/MultiLanguage.h"
#include "platform/DebugPrint.h"
#include "platform/ModuleDir.h"
#include "platform/Tick.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

namespace parvane {

std::string AnalyzeBufferText(int bytes)
{
    char text[32];
    if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%ldK", static_cast<long>(bytes / 1024));
    else
        std::snprintf(text, sizeof text, "%ldB", static_cast<long>(bytes));
    return text;
}

int ParseLeadingInteger(const std::string& text)
{
    const std::string head = text.substr(0, 200);
    errno = 0;
    const long long value = std::strtoll(head.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

RunControl::RunControl(CDeviceOper& device, CMultiLanguage& language, RunPanel& panel, RunTimers& timers,
                       AnalysisCapture& capture)
    : m_device(device), m_language(language), m_panel(panel), m_timers(timers), m_capture(capture),
      m_sleep(&SleepMs), m_link(std::make_shared<RunLink>())
{
    m_link->control = this;
}

RunControl::~RunControl()
{
    Shutdown();
    std::unique_lock<std::mutex> lock(m_link->mutex);
    if (m_link->liveWorkers > 0)
        DebugPrint("The verification worker is still inside the tone-detection library; it ends by itself");
    m_link->control = nullptr;
    // From here no worker starts a release. One already under way uses the
    // device, which the front end destroys after this object: wait for it,
    // as long as the binding itself may wait for the library.
    if (!m_link->changed.wait_for(lock, std::chrono::milliseconds(kReleaseWaitMs),
                                  [this] { return m_link->releasing == 0; }))
        DebugPrint("A verification worker is still releasing the line; it is left to the device's teardown");
}

// ---- Start ------------------------------------------------------------------------

bool RunControl::Start()
{
    DebugPrint("Click start button");
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->failure = m_device.m_bAdapterPresent == 0 ? kAdapterMissingText : "";
    }
    if (m_device.m_bAdapterPresent == 0) {
        m_panel.ShowMessage(kAdapterMissingText);
        return false;
    }
    const RunMode mode = Mode();
    if (mode == RunMode::Analyze) {
        int index = m_panel.AnalyzeBufferIndex();
        if (index < 0 || index >= static_cast<int>(std::size(kAnalyzeBufferSizes)))
            index = kDefaultAnalyzeBufferIndex;
        CaptureBlockBytes = kAnalyzeBufferSizes[index];
        m_panel.FrequencyList().ResetContent();
        m_panel.ChangeLog().ResetContent();
        m_panel.CountList().ResetContent();
        m_panel.SetStatusText("");
        EndPreviousWorker();
        PrimeLine();
        m_capture.StartCapture();
        m_panel.SetRunButtons(false, true);
        if (m_panel.AutoStopChecked())
            m_timers.SetTimer(RunTimers::kAutoStopTimer, kAutoStopMs);
        m_bIsWorking = 1;
        m_bAnalysing = 0;
        return true;
    }

    if (mode == RunMode::GetPeriod) {
        if (m_panel.InputText(RunInput::Frequency1).empty() || m_panel.InputText(RunInput::Frequency2).empty()) {
            m_panel.ShowMessage(m_language.GetMessageText(kMessageGetPeriodInputs));
            return false;
        }
    } else {
        for (RunInput input : {RunInput::Frequency1, RunInput::Frequency2, RunInput::OnPeriod, RunInput::OffPeriod}) {
            if (m_panel.InputText(input).empty()) {
                m_panel.ShowMessage(m_language.GetMessageText(kMessageVerifyInputs));
                return false;
            }
        }
    }
    m_panel.SetStatusText("");
    EndPreviousWorker();
    PrimeLine();
    m_panel.SetRunButtons(false, true);
    m_bIsWorking = 1;
    m_bAnalysing = 0;
    return true;
}

void RunControl::PrimeLine()
{
    {
        std::lock_guard<std::mutex> lock(m_playMutex);
        m_bPlayDone = false;
    }
    CWaveBox* box = PlayWaveWithWaveBox(GetAudioDeviceName(), GetModuleDir() + "null.wav", this);
    {
        std::unique_lock<std::mutex> lock(m_playMutex);
        if (m_playCondition.wait_for(lock, std::chrono::milliseconds(kPlayDoneWaitMs), [this] { return m_bPlayDone; }))
            m_bPlayDone = false; // auto-reset: the wait consumed the signal
    }
    StopPlayWaveWithWaveBox(box);
    m_sleep(kAfterPrimingMs);
}

void RunControl::OnWaveNotify(int notifyFlag, uint32_t fileDeviceId)
{
    DebugPrint("*********MM_MCINOTIFY happend!(lParam=%ld)************* ", static_cast<long>(fileDeviceId));
    switch (notifyFlag) {
    case 4:
        DebugPrint("play status:MCI_NOTIFY_ABORTED, so IVR play finish");
        break;
    case 8:
        DebugPrint("play status:MCI_NOTIFY_FAILURE, so IVR play failed");
        break;
    case 2:
        DebugPrint("play status:MCI_NOTIFY_SUPERSEDED, so IVR play failed");
        break;
    case 1:
        DebugPrint("play status: MCI_NOTIFY_SUCCESSFUL, so IVR play finish\n");
        break;
    default:
        break;
    }
    {
        std::lock_guard<std::mutex> lock(m_playMutex);
        m_bPlayDone = true;
    }
    m_playCondition.notify_all();
}

// ---- answering ------------------------------------------------------------------------

void RunControl::RequestAnswer(uint32_t delayMs)
{
    m_timers.SetTimer(RunTimers::kAnswerTimer, delayMs);
}

void RunControl::AdapterPresenceChanged(bool)
{
    m_timers.SetTimer(RunTimers::kAdapterTimer, 0);
}

void RunControl::OnAdapterPresence()
{
    if (m_device.m_bAdapterPresent != 0) {
        if (m_bIsWorking == 0)
            m_panel.SetStatusText(kAdapterBackText);
        return;
    }
    if (m_bIsWorking == 0)
        return;
    // The run cannot go on: it ends as Stop ends it, with its own message.
    DebugPrint("The adapter was unplugged during the run, so the run ends");
    m_timers.KillTimer(RunTimers::kAutoStopTimer);
    m_timers.KillTimer(RunTimers::kAnswerTimer);
    m_device.Binding().DaaSetOnhook();
    m_device.m_bLineAnswered = 0;
    m_capture.StopCapture();
    m_panel.SetRunButtons(true, false);
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->failure = kAdapterUnpluggedText;
    }
    EndRun();
    m_panel.SetStatusText(kAdapterUnpluggedText);
    m_panel.ShowMessage(kAdapterUnpluggedText);
}

void RunControl::OnTimer(int id)
{
    if (id == RunTimers::kAdapterTimer) {
        m_timers.KillTimer(RunTimers::kAdapterTimer);
        OnAdapterPresence();
        return;
    }
    if (id == RunTimers::kAutoStopTimer) {
        m_timers.KillTimer(RunTimers::kAutoStopTimer);
        Stop();
        return;
    }
    if (id != RunTimers::kAnswerTimer)
        return;
    m_timers.KillTimer(RunTimers::kAnswerTimer);
    if (m_bIsWorking == 1) {
        Answer();
    } else if (m_device.m_bPstnRing != 0) {
        // A ring that arrived before Start: look again shortly, so that a run
        // armed while it still rings is answered at once.
        m_timers.SetTimer(RunTimers::kAnswerTimer, AnswerRequester::kAnswerRetryMs);
    }
}

void RunControl::Answer()
{
    DebugPrint("Start analyze...");
    if (!ClaimLine()) {
        DebugPrint("A worker of an earlier run is still releasing the line, so the call is not answered");
        FailAnswer();
        return;
    }
    if (m_device.Binding().DaaSetOffhook() == 0) {
        DebugPrint("DaaSetOffhook failed, so the call is not answered");
        // Whatever part of the seizure reached the adapter is undone.
        m_device.Binding().DaaSetOnhook();
        FailAnswer();
        return;
    }
    m_device.m_bLineAnswered = 1;
    m_device.SetLedMode(LED_MODE_ON);
    m_sleep(kAnswerSettleMs);
    m_bAnalysing = 1;
    if (Mode() != RunMode::Analyze)
        StartWorker();
}

bool RunControl::ClaimLine()
{
    std::unique_lock<std::mutex> lock(m_link->mutex);
    if (!m_link->changed.wait_for(lock, std::chrono::milliseconds(kReleaseWaitMs),
                                  [this] { return m_link->releasing == 0; }))
        return false;
    // A worker of an earlier run that decides afterwards leaves the line alone.
    m_link->lineRun = m_link->run;
    return true;
}

void RunControl::FailAnswer()
{
    // A run that holds no call cannot go on: it ends, and says why, rather
    // than listen to a line it never seized.
    DebugPrint("%s", kLineNotAnsweredText);
    m_timers.KillTimer(RunTimers::kAutoStopTimer);
    m_device.m_bLineAnswered = 0;
    m_capture.StopCapture();
    m_panel.SetRunButtons(true, false);
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->failure = kLineNotAnsweredText;
    }
    EndRun();
    m_panel.SetStatusText(kLineNotAnsweredText);
}

void RunControl::StartWorker()
{
    uint64_t run = 0;
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        // One worker per run: a second answer of the same run starts none.
        if (m_link->workerRun == m_link->run)
            return;
        run = m_link->run;
        m_link->workerRun = run;
        ++m_link->liveWorkers;
    }
    try {
        std::thread(VexlinThread, &m_device, m_link, run).detach();
    } catch (const std::system_error& error) {
        // As with a thread that could not be created: nothing is reported
        // to the operator.
        DebugPrint("VexlinThread could not be started: %s", error.what());
        {
            std::lock_guard<std::mutex> lock(m_link->mutex);
            --m_link->liveWorkers;
        }
        m_link->changed.notify_all();
    }
}

// ---- Stop -------------------------------------------------------------------------------

void RunControl::Stop()
{
    DebugPrint("Click stop button");
    m_device.Binding().DaaSetOnhook();
    m_device.m_bLineAnswered = 0;
    m_capture.StopCapture();
    m_panel.SetRunButtons(true, false);
    // A pending auto-stop belongs to the run that ends here; left armed it
    // would stop a later run and show a second message.
    m_timers.KillTimer(RunTimers::kAutoStopTimer);
    EndRun();
    m_panel.ShowMessage(m_language.GetMessageText(Mode() == RunMode::Analyze ? kMessageAnalyzeStopped
                                                                             : kMessageDetectionStopped));
}

void RunControl::EndRun()
{
    m_bIsWorking = 0;
    m_bAnalysing = 0;
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        ++m_link->run;
    }
    m_link->changed.notify_all();
}

void RunControl::Shutdown()
{
    m_timers.KillTimer(RunTimers::kAutoStopTimer);
    m_timers.KillTimer(RunTimers::kAnswerTimer);
    m_timers.KillTimer(RunTimers::kAdapterTimer);
    EndRun();
    WaitForWorkers(kWorkerEndWaitMs);
}

void RunControl::CloseDevice()
{
    Shutdown();
    m_capture.StopCapture();
    m_device.SetAnswerRequester(nullptr);
    if (m_device.m_bLineAnswered != 0) {
        m_device.Binding().DaaSetOnhook();
        m_device.m_bLineAnswered = 0;
    }
    m_device.Stop();
    m_device.Binding().FupLedSwitch(0);
    m_device.ResetHardware();
    // The dialog keeps its device object to the end of the process: the
    // bounded stop of its destructor is made here, so that no device thread
    // is still inside the library while the process winds down.
    m_device.Close();
}

void RunControl::EndPreviousWorker()
{
    // The worker of the previous run was woken by Stop; it stops detection
    // and releases the line within moments, and the new run's detection
    // should not start beside it. A worker still out after the wait touches
    // neither the status line nor the line of the new run: both belong to
    // the run that owns them.
    if (!WaitForWorkers(kWorkerEndWaitMs))
        DebugPrint("The verification worker of the previous run has not ended yet; it leaves the new run's line "
                   "alone");
}

std::string RunControl::RunFailure() const
{
    std::lock_guard<std::mutex> lock(m_link->mutex);
    return m_link->failure;
}

int RunControl::LiveWorkers() const
{
    std::lock_guard<std::mutex> lock(m_link->mutex);
    return m_link->liveWorkers;
}

bool RunControl::WaitForWorkers(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_link->mutex);
    return m_link->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_link->liveWorkers == 0; });
}

// ---- AnalysisOutput -------------------------------------------------------------------

void RunControl::SetFrequencyLabel(const std::string& label)
{
    std::lock_guard<std::mutex> lock(m_labelMutex);
    m_strFreqLabel = label;
}

std::string RunControl::FrequencyLabel() const
{
    std::lock_guard<std::mutex> lock(m_labelMutex);
    return m_strFreqLabel;
}

AnalysisList& RunControl::FrequencyList()
{
    return m_panel.FrequencyList();
}

AnalysisList& RunControl::CountList()
{
    return m_panel.CountList();
}

AnalysisList& RunControl::ChangeLog()
{
    return m_panel.ChangeLog();
}

void RunControl::SetFrequencyText(const std::string& text)
{
    m_panel.SetFrequencyText(text);
}

} // namespace parvane
