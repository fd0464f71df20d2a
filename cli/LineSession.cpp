#include "cli/LineSession.h"

#include "app/DeviceStartUp.h"
#include "cli/AnalysisReport.h"
#include "cli/CliArguments.h"
#include "cli/Console.h"
#include "platform/DebugPrint.h"
#include "platform/Tick.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>

namespace parvane::cli {

namespace {

void SleepMilliseconds(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

constexpr const char* kNoAdapterNextStep =
    "Next: `parvane-cli probe` finds an adapter with another vendor id; the udev rule "
    "(`sudo make install-udev`, or the package's) gives your user access to it; "
    "`--virtual-adapter` tries the tool without an adapter.";

std::string Seconds(uint32_t milliseconds)
{
    return std::to_string((milliseconds + 999) / 1000) + " s";
}

} // namespace

LineSession::LineSession(Console& console)
    : m_console(console), m_ownDevice(std::make_unique<CDeviceOper>()),
      m_ownLanguage(std::make_unique<CMultiLanguage>()), m_device(*m_ownDevice), m_language(*m_ownLanguage),
      m_run(m_device, m_language, m_panel, m_loop, m_capture)
{
    Connect();
}

LineSession::LineSession(Console& console, CDeviceOper& device, CMultiLanguage& language)
    : m_console(console), m_device(device), m_language(language),
      m_run(m_device, m_language, m_panel, m_loop, m_capture), m_borrowed(true)
{
    Connect();
    m_previousRequester = m_device.SetAnswerRequester(&m_run);
}

void LineSession::Connect()
{
    m_loop.SetTimerHandler([this](int id) { m_run.OnTimer(id); });
    m_capture.SetOutput(&m_run);
    m_capture.SetBlockObserver([this](const int16_t* samples, int32_t bytes) { OnBlock(samples, bytes); });
    m_previousAudioHandler = SetAudioMessageHandler([this](const AudioMessage& message) {
        DebugPrint("Message box: %s", message.text.c_str());
        if (message.captureFailure.empty())
            return; // a playback or stop message is traced, as without a handler
        std::lock_guard<std::mutex> lock(m_audioMutex);
        if (m_audioFailure.empty())
            m_audioFailure = "the line audio cannot be captured: " + message.captureFailure;
    });
}

LineSession::~LineSession()
{
    if (m_borrowed) {
        m_run.Shutdown();
        m_capture.StopCapture();
        if (m_device.m_bLineAnswered != 0) {
            m_device.Binding().DaaSetOnhook();
            m_device.m_bLineAnswered = 0;
        }
        m_device.SetAnswerRequester(m_previousRequester);
    } else if (m_opened) {
        m_run.CloseDevice();
    } else {
        m_run.Shutdown();
    }
    // Runs end with Stop, which stops capture; should one not have, the
    // analysis must not go on writing into the members going away.
    m_capture.StopCapture();
    m_capture.SetBlockObserver(nullptr);
    SetAudioMessageHandler(std::move(m_previousAudioHandler));
}

std::string LineSession::Failure() const
{
    std::string failure = m_run.RunFailure();
    if (!failure.empty())
        return failure;
    std::lock_guard<std::mutex> lock(m_audioMutex);
    return m_audioFailure;
}

int LineSession::Open(uint16_t vendorId)
{
    ShowProgress("Opening the adapter...");
    const DeviceStartUpResult result = StartUpDevice(m_device, &m_run, vendorId, &SleepMilliseconds, m_modelName);
    m_opened = true;
    if (result != DeviceStartUpResult::Ready) {
        m_console.Error(DeviceStartUpFailureText(result));
        // Present but out of reach is not the same as absent: say where it
        // is and how to get at it.
        // Absent: what to try next, on a line of its own.
        if (result == DeviceStartUpResult::HardwareNotFound) {
            const std::string access = AdapterAccessProblemFor(vendorId);
            m_console.Error(access.empty() ? kNoAdapterNextStep : access);
        }
        return kExitNoAdapter;
    }
    return kExitDone;
}

void LineSession::ShowProgress(const std::string& text)
{
    m_console.Progress(text);
}

void LineSession::OnBlock(const int16_t* samples, int32_t bytes)
{
    // On the analysis thread, just before the block is analysed: only what
    // the analysis takes (from the answer on) is kept.
    if (!m_run.IsAnalysing() || samples == nullptr || bytes < 4)
        return;
    // The lists are written by the analysis on this thread only, so they
    // are read here and handed to the loop's thread as one text.
    std::string live = LiveAnalysisLine(m_panel.FrequencyText(), CandidatesOf(m_panel.frequencies));
    std::lock_guard<std::mutex> lock(m_heardMutex);
    m_heard.AppendLeft(samples, static_cast<size_t>(bytes) / 4);
    m_live = std::move(live);
}

std::string LineSession::LiveAnalysisText() const
{
    std::lock_guard<std::mutex> lock(m_heardMutex);
    return m_live;
}

std::vector<int16_t> LineSession::HeardAudio() const
{
    std::lock_guard<std::mutex> lock(m_heardMutex);
    return m_heard.Kept();
}

std::vector<int16_t> LineSession::HeardAudioFrom(size_t start, size_t* from) const
{
    std::lock_guard<std::mutex> lock(m_heardMutex);
    uint64_t first = 0;
    std::vector<int16_t> samples = m_heard.From(start, &first);
    if (from != nullptr)
        *from = static_cast<size_t>(first);
    return samples;
}

uint64_t LineSession::HeardMs() const
{
    std::lock_guard<std::mutex> lock(m_heardMutex);
    return m_heard.Milliseconds();
}

int LineSession::BusyToneCount()
{
    auto count = m_device.Binding().m_pGetBusyToneCountExp;
    return count ? count() : 0;
}

bool LineSession::BusyToneHappened()
{
    auto happened = m_device.Binding().m_pIsBusyToneHappenedExp;
    return happened && happened() != 0;
}

int LineSession::PerhapsPeriod()
{
    auto period = m_device.Binding().m_pGetPerhapsPeriodExp;
    return period ? period() : 0;
}

LineSession::RunOutcome LineSession::Run(const RunOptions& options)
{
    {
        std::lock_guard<std::mutex> lock(m_heardMutex);
        m_heard.Clear();
        m_live.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m_audioMutex);
        m_audioFailure.clear();
    }
    const auto* size = std::find(std::begin(kAnalyzeBufferSizes), std::end(kAnalyzeBufferSizes), options.blockBytes);
    m_panel.SetAnalyzeBufferIndex(size == std::end(kAnalyzeBufferSizes)
                                      ? kDefaultAnalyzeBufferIndex
                                      : static_cast<int>(size - std::begin(kAnalyzeBufferSizes)));
    m_panel.SetAutoStop(false);
    const bool figures = options.mode != RunMode::Analyze;
    m_panel.SetInput(RunInput::Frequency1, figures ? std::to_string(options.frequency1) : "");
    m_panel.SetInput(RunInput::Frequency2, figures ? std::to_string(options.frequency2) : "");
    const bool times = options.mode == RunMode::Verify;
    m_panel.SetInput(RunInput::OnPeriod, times ? std::to_string(options.onMs) : "");
    m_panel.SetInput(RunInput::OffPeriod, times ? std::to_string(options.offMs) : "");

    // The worker writes the status line once a second on its own thread;
    // it is printed from the loop's thread.
    m_panel.onStatus = [this, print = options.printStatus](const std::string& text) {
        if (text.empty())
            return;
        ++m_statusWrites;
        m_loop.Post([this, print, text] {
            if (print) {
                m_console.EndProgress();
                std::fprintf(m_console.Out(), "%s\n", text.c_str());
                std::fflush(m_console.Out());
            } else {
                ShowProgress(text);
            }
        });
    };
    m_panel.onMessage = nullptr;

    m_run.SelectMode(options.mode);
    ShowProgress("Arming the run...");
    if (!m_run.Start()) {
        const std::vector<std::string> messages = m_panel.Messages();
        m_console.Error(messages.empty() ? "the run was refused" : messages.back());
        return m_run.RunFailure().empty() ? RunOutcome::Refused : RunOutcome::Failed;
    }

    // Waiting for the ring and the answer; a call of our own is answered
    // (the line taken) at once.
    if (options.outgoing)
        m_run.RequestAnswer(0);
    const uint32_t armedAt = GetTickCount32();
    uint32_t shownAt = 0;
    const bool answered = m_loop.RunUntil(
        [&] {
            const uint32_t now = GetTickCount32();
            if (now - shownAt >= 250) {
                shownAt = now;
                if (m_device.m_bLineAnswered != 0)
                    ShowProgress(options.outgoing ? "Off-hook, settling..." : "Answered, settling...");
                else if (options.outgoing)
                    ShowProgress("Taking the line...");
                else if (m_device.m_bPstnRing != 0)
                    ShowProgress("Ringing, answering...");
                else
                    ShowProgress("Waiting for the ring (" + Seconds(options.waitMs - (now - armedAt)) + " left)...");
            }
            return m_run.IsAnalysing() || !Failure().empty();
        },
        options.waitMs);
    if (!answered || !m_run.IsAnalysing() || !Failure().empty())
        return EndUnanswered();

    const uint32_t answeredAt = GetTickCount32();
    // The run control holds the line for a moment after going off-hook
    // before the analysis begins.
    m_answeredAt = answeredAt - RunControl::kAnswerSettleMs;
    shownAt = 0;
    const bool finished = m_loop.RunUntil(
        [&] {
            const uint32_t now = GetTickCount32();
            if (!options.printStatus && now - shownAt >= 250 && options.mode == RunMode::Analyze) {
                shownAt = now;
                const std::string live = LiveAnalysisText();
                ShowProgress(options.progress ? options.progress()
                                              : options.activity + ": " +
                                                    Seconds(options.answeredMs - (now - answeredAt)) + " left" +
                                                    (live.empty() ? "" : " | " + live));
            }
            return (options.done && options.done()) || !Failure().empty();
        },
        options.answeredMs);
    const std::string failure = Failure();
    m_run.Stop();
    // Stop woke the worker; it stops detection and releases the line itself.
    m_run.WaitForWorkers(RunControl::kWorkerEndWaitMs);
    m_panel.onStatus = nullptr;
    m_loop.RunFor(0); // print what the worker posted last
    m_console.EndProgress();
    if (!failure.empty())
        return EndFailed(failure);
    return finished ? RunOutcome::Finished : RunOutcome::Elapsed;
}

LineSession::RunOutcome LineSession::EndUnanswered()
{
    const std::string failure = Failure();
    m_run.Stop();
    m_console.EndProgress();
    if (failure.empty())
        return RunOutcome::NoCall;
    return EndFailed(failure);
}

LineSession::RunOutcome LineSession::EndFailed(const std::string& failure)
{
    m_console.Error(failure);
    return m_device.m_bAdapterPresent == 0 ? RunOutcome::Unplugged : RunOutcome::Failed;
}

} // namespace parvane::cli
