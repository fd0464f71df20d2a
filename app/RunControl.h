#pragma once
// RunControl: what an analysis run decides, free of any toolkit. The main
// dialog maps its buttons, timers and controls onto it; the headless front
// end drives the same object from its own loop.
//
// A run is armed with Start and ended with Stop. Between the two the device
// thread watches the line; when it confirms a ring it asks for the answer
// (RequestAnswer, any thread), which arms the answer timer; when that timer
// expires (OnTimer on the control thread) the line is taken off-hook and,
// depending on the mode,
//   Analyze:            the spectrum analysis starts writing the result lists
//                       (it reads IsAnalysing() and writes through this
//                       object's AnalysisOutput side);
//   Verify, Get Period: the verification worker (VexlinThread) starts; it
//                       writes the status line once a second until the run
//                       ends, then stops detection and releases the line.
//
// Threads: Start, Stop, SelectMode, OnTimer and the AnalysisOutput calls run
// on the control thread (the dialog's thread, or the headless loop's; the
// headless analysis thread only while a run is analysed). RequestAnswer and
// OnPlayNotify may come from any thread. The flags are atomics that only the
// control thread writes.
//
// Typical wiring (the dialog does the same with Qt pieces):
//   RunControl run(device, language, panel, timers, capture);
//   device.SetAnswerRequester(&run);
//   timers' expiry  -> run.OnTimer(id)
//   analysis.SetOutput(&run);
//   mode buttons    -> run.SelectMode(...); Start -> run.Start(); Stop -> run.Stop()

#include "app/RunTimers.h"
#include "audio/AnalysisOutput.h"
#include "device/AnswerRequester.h"
#include "device/DeviceATABase.h"
#include "display/WaveBox.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CDeviceOper;
class CMultiLanguage;

namespace parvane {

struct RunLink;

enum class RunMode { Analyze, Verify, GetPeriod };

// The operator's figures: Freq 1 and Freq 2 in Hz, On Period and Off Period
// in milliseconds.
enum class RunInput { Frequency1, Frequency2, OnPeriod, OffPeriod };

// The controls a run reads and writes, supplied by the front end.
class RunPanel {
public:
    virtual ~RunPanel() = default;

    // ---- control thread ----
    virtual void SetRunButtons(bool startEnabled, bool stopEnabled) = 0;
    // Shows a message and returns when the operator has closed it.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual bool AutoStopChecked() const = 0;
    // Index into kAnalyzeBufferSizes of the chosen block size.
    virtual int AnalyzeBufferIndex() const = 0;
    // The result controls (the dialog's lists 1022, 1024, 1023 and label 1018).
    virtual AnalysisList& FrequencyList() = 0;
    virtual AnalysisList& CountList() = 0;
    virtual AnalysisList& ChangeLog() = 0;
    virtual void SetFrequencyText(const std::string& text) = 0;

    // ---- any thread (the verification worker calls these) ----
    virtual std::string InputText(RunInput input) const = 0;
    virtual void SetStatusText(const std::string& text) = 0;
};

// The audio engine as far as a run needs it. The dialog hosts it in the
// audio manager window; the headless front end in HeadlessCapture.
class AnalysisCapture {
public:
    virtual ~AnalysisCapture() = default;
    // Called at every Analyze start, after CaptureBlockBytes is set: a new
    // engine that captures at once (the host is created on first use).
    virtual void StartCapture() = 0;
    // Stops the current engine's capture, when there is one.
    virtual void StopCapture() = 0;
};

// The analysis block sizes offered, in bytes, in the order of the Analyze
// Buf choices; index 1 (32768) is the default.
inline constexpr int kAnalyzeBufferSizes[8] = {65536, 32768, 16384, 8192, 4096, 2048, 1024, 512};
inline constexpr int kDefaultAnalyzeBufferIndex = 1;

// "64K", ..., "1K", "512B".
std::string AnalyzeBufferText(int bytes);

class RunControl final : public AnswerRequester, public AnalysisOutput, public WaveBoxNotify {
public:
    // Messages of the language pack used here (MESSAGE_<n>).
    enum Message : int {
        kMessageAnalyzeStopped = 0,
        kMessageDetectionStopped = 1,
        kMessageGetPeriodInputs = 2,
        kMessageVerifyInputs = 3,
        kMessageToneWithPeriod = 4,
        kMessageToneMatches = 5,
        kMessageNoToneYet = 6,
    };

    static constexpr uint32_t kAutoStopMs = 15000;
    // Waits of the answer and the priming playback (on the control thread).
    static constexpr uint32_t kAnswerSettleMs = 1000;
    static constexpr uint32_t kPlayDoneWaitMs = 1000;
    static constexpr uint32_t kAfterPrimingMs = 200;
    // A busy tone is reported as found from this count on.
    static constexpr int kFoundCount = 10;
    // How long a new run waits for the worker of the previous run to have
    // stopped detection and released the line.
    static constexpr uint32_t kWorkerEndWaitMs = 3000;
    // How long the answer (and the teardown) waits for a worker's release of
    // the line that is already under way: as long as the binding waits for
    // the FXO library's call lock, after which the release is refused.
    static constexpr uint32_t kReleaseWaitMs = CDeviceATABase::kStuckCallMs;

    RunControl(CDeviceOper& device, CMultiLanguage& language, RunPanel& panel, RunTimers& timers,
               AnalysisCapture& capture);
    // Ends the run's worker (stop detection, release the line) and waits for
    // it, at most kWorkerEndWaitMs; a worker still inside the tone-detection
    // library then is cut off from this object and ends by itself.
    ~RunControl() override;

    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // ---- control thread -------------------------------------------------------
    // Selects the mode used by the next decisions (the checked radio button).
    void SelectMode(RunMode mode) { m_mode = mode; }
    RunMode Mode() const { return m_mode.load(); }

    // Start: checks the inputs (messages 2 and 3), primes the line, starts
    // capture in Analyze Mode and arms the run. True when the run is armed.
    bool Start();
    // Stop: releases the line, stops capture, ends the run and shows
    // message 0 (Analyze Mode) or 1.
    void Stop();
    // Expiry of timer 1 (auto-stop), 2 (answer) or 3 (adapter presence).
    void OnTimer(int id);
    // Ends a run without a message, for teardown: kills the timers, clears
    // the flags and waits for the worker to finish.
    void Shutdown();
    // The front end closes: Shutdown, capture stopped, the line released if
    // it is still answered, the device thread stopped, the LED off and the
    // adapter reset, then the device closed (CDeviceOper::Close: a device
    // thread stuck in the library is parked). The device then asks nothing
    // of this object any more, and calls nothing in the library.
    void CloseDevice();

    // The saved caption of the current-frequency label (m_strFreqLabel).
    void SetFrequencyLabel(const std::string& label);

    // ---- any thread -------------------------------------------------------------
    // AnswerRequester: arms the answer timer; arms the adapter timer, whose
    // expiry ends a run whose adapter was unplugged.
    void RequestAnswer(uint32_t delayMs) override;
    void AdapterPresenceChanged(bool present) override;
    // WaveBoxNotify: the completion notice of the priming playback, status
    // as the media control interface reports it (1 successful,
    // 2 superseded, 4 aborted, 8 failure; any other value too). Wakes Start
    // at once, on the player's thread: Start waits on the control thread,
    // so a notice posted there would only arrive after the wait ran out.
    void OnWaveNotify(int notifyFlag, uint32_t fileDeviceId) override;

    // AnalysisOutput (the spectrum analysis's thread).
    bool IsAnalysing() const override { return m_bAnalysing.load() != 0; }
    std::string FrequencyLabel() const override;
    AnalysisList& FrequencyList() override;
    AnalysisList& CountList() override;
    AnalysisList& ChangeLog() override;
    void SetFrequencyText(const std::string& text) override;

    // Why the current run cannot go on ("" while it can): its detection
    // could not start, or the adapter went away. The reason is on the status
    // line and the line is released; Start clears it.
    std::string RunFailure() const;
    static constexpr const char* kDetectionMissingText =
        "Busy tone detection cannot run: the tone-detection library is missing or incomplete";
    static constexpr const char* kDetectionRefusedText =
        "Busy tone detection cannot run: the tone-detection library refused to start";
    static constexpr const char* kAdapterUnpluggedText =
        "The adapter was unplugged: the run has ended. Plug it in again, then press Start.";
    static constexpr const char* kAdapterMissingText = "The adapter is unplugged. Plug it in, then press Start.";
    static constexpr const char* kAdapterBackText = "The adapter is plugged in again and ready.";
    static constexpr const char* kLineNotAnsweredText =
        "The line could not be answered: the adapter did not take it off-hook. The run has ended.";

    // Verification workers still running.
    int LiveWorkers() const;
    // Waits up to timeoutMs for all workers to end; true when none is left.
    bool WaitForWorkers(uint32_t timeoutMs);

    // The waits on the control thread (1000 ms after answering, 200 ms after
    // priming); tests may shorten them.
    void SetSleepForTest(std::function<void(uint32_t)> sleep) { m_sleep = std::move(sleep); }

    CDeviceOper& Device() { return m_device; }
    CMultiLanguage& Language() { return m_language; }
    RunPanel& Panel() { return m_panel; }

    // 1 from Start until Stop; 1 from the answer until Start or Stop.
    std::atomic<int> m_bIsWorking{0};
    std::atomic<int> m_bAnalysing{0};

private:
    void Answer();
    // Makes the current run the owner of the line, once no worker of an
    // earlier run is releasing it. False when such a release is still under
    // way after kReleaseWaitMs.
    bool ClaimLine();
    void FailAnswer();
    void OnAdapterPresence();
    void PrimeLine();
    void StartWorker();
    void EndRun();
    void EndPreviousWorker();

    CDeviceOper& m_device;
    CMultiLanguage& m_language;
    RunPanel& m_panel;
    RunTimers& m_timers;
    AnalysisCapture& m_capture;
    std::function<void(uint32_t)> m_sleep;

    std::atomic<RunMode> m_mode{RunMode::Analyze};

    mutable std::mutex m_labelMutex;
    std::string m_strFreqLabel;

    // Play-done event (auto-reset).
    std::mutex m_playMutex;
    std::condition_variable m_playCondition;
    bool m_bPlayDone = false;

    // Shared with the workers, which may outlive this object.
    std::shared_ptr<RunLink> m_link;
};

// What the run control and its verification workers share. The workers hold
// it too, so a worker that is still inside the tone-detection library when
// the run control goes away finds `control` empty and touches nothing of it
// (nor of the device or panel) any more. Everything here is under `mutex`,
// which is never held across a call into a library: a worker that releases
// the line decides under it (its run still owns the line) and counts itself
// in `releasing`, then calls without it; an answer claims the line only when
// no such release is under way, so a late release cannot land on the next
// run's call.
struct RunLink {
    std::mutex mutex;
    std::condition_variable changed;
    // Counts ended runs: a worker belongs to the run that was current when it
    // started and ends when that run ends.
    uint64_t run = 0;
    uint64_t workerRun = UINT64_MAX; // the run the last worker was started for
    uint64_t lineRun = UINT64_MAX;   // the run that last answered the line
    int liveWorkers = 0;
    int releasing = 0;               // workers inside their release of the line
    std::string failure;             // RunControl::RunFailure
    RunControl* control = nullptr;   // null once the run control is gone
};

// The verification worker: reads the operator's figures, starts the
// tone-detection library and writes its verdict to the status line once a
// second until its run ends; then stops detection and releases the line,
// unless a later run has answered it meanwhile.
// Returns 1 on every path.
int VexlinThread(CDeviceOper* device, std::shared_ptr<RunLink> link, uint64_t run);

// The leading decimal number of a text as a wide-string-to-long conversion
// gives it (blanks and a sign allowed; 0 when there is none; clamped to 32
// bits). Only the first 200 characters are looked at.
int ParseLeadingInteger(const std::string& text);

} // namespace parvane
