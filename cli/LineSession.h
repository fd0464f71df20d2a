#pragma once
// A headless session on port 1 of the adapter: the device start-up the main
// dialog does, then runs driven through the same run control (RunControl)
// with an event loop of our own for its timers, an in-memory panel for its
// controls, and the window-less capture for Analyze Mode.
//
//   LineSession session(console);
//   if (int code = session.Open(vendorId)) return code;
//   LineSession::RunOptions options; options.mode = RunMode::Verify; ...
//   session.Run(options);

#include "app/EventLoop.h"
#include "app/HeadlessCapture.h"
#include "app/MemoryRunPanel.h"
#include "app/RunControl.h"
#include "audio/AudioMessages.h"
#include "cli/HeardAudioBuffer.h"
#include "device/DeviceOper.h"
#include "i18n/MultiLanguage.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace parvane::cli {

class Console;

class LineSession {
public:
    explicit LineSession(Console& console);
    // A session on a device that is already up and owned by another front
    // (the main dialog, whose own run is idle meanwhile), with that front's
    // language packs: no Open. Rings and the adapter's presence are reported
    // to this session's run control until it goes, then to the requester the
    // device had before.
    LineSession(Console& console, CDeviceOper& device, CMultiLanguage& language);
    // Ends a run still going. A session of its own then stops the device
    // thread, switches the LED off and resets the adapter, as the dialog
    // does when it closes; a borrowing one puts the line on-hook if it is
    // still off-hook and gives the device back.
    ~LineSession();
    LineSession(const LineSession&) = delete;
    LineSession& operator=(const LineSession&) = delete;

    // Brings up port 1. kExitDone, or kExitNoAdapter after telling why.
    int Open(uint16_t vendorId);
    const std::string& ModelName() const { return m_modelName; }
    CDeviceOper& Device() { return m_device; }
    MemoryRunPanel& Panel() { return m_panel; }

    struct RunOptions {
        RunMode mode = RunMode::Analyze;
        // The operator's figures (Verify, Get Period); 0 for Freq 2: none.
        int frequency1 = 0;
        int frequency2 = 0;
        int onMs = 0;
        int offMs = 0;
        int blockBytes = 32768;
        uint32_t waitMs = 120000;     // for the call to come in and be answered
        uint32_t answeredMs = 10000;  // at most, once answered
        // Asked on the loop's thread while the call is answered; true ends
        // the run before answeredMs.
        std::function<bool()> done;
        // Status lines of the worker printed on stdout (else only as progress).
        bool printStatus = false;
        // What the progress line says while answered ("Analysing").
        std::string activity = "Listening";
        // When set, what the progress line says while answered instead
        // (asked once a second on the loop's thread).
        std::function<std::string()> progress;
        // A call of our own: the line is taken as soon as the run is armed
        // (through the run control's answer, as for a ring), not on a ring.
        bool outgoing = false;
    };
    enum class RunOutcome {
        Finished, // `done` said so
        Elapsed,  // answeredMs passed
        NoCall,   // nothing was answered within waitMs
        Refused,  // the run control refused to start (its message was shown)
        Failed,    // the run could not go on (the reason was shown)
        Unplugged, // the adapter went away during the run (the reason was shown)
    };
    RunOutcome Run(const RunOptions& options);

    // The detection library's own figures (Verify, Get Period), as the
    // worker reads them every second.
    int BusyToneCount();
    bool BusyToneHappened();
    int PerhapsPeriod();

    // Status lines the worker has written so far (all runs).
    uint64_t StatusWrites() const { return m_statusWrites.load(); }

    // The left channel of every block analysed during the last Analyze run
    // (from the answer on), at 48000 Hz: the most recent three minutes of it
    // (HeardAudioBuffer::kKeptSamples), the older part dropped.
    std::vector<int16_t> HeardAudio() const;
    // The same from sample `start` on, positions counted from the first
    // sample heard (nothing when fewer were heard). When the audio at
    // `start` was dropped, it begins later, at the position put in `from`.
    std::vector<int16_t> HeardAudioFrom(size_t start, size_t* from = nullptr) const;
    // Milliseconds of audio heard so far in the current Analyze run (the
    // dropped part included).
    uint64_t HeardMs() const;
    // What the analysis hears now, for the rewritten progress line of an
    // Analyze run: "now 451 Hz | 451 Hz x12, 445 Hz x3, 457 Hz x1" (the
    // strongest frequency of the last block, then the leading candidates).
    std::string LiveAnalysisText() const;
    // GetTickCount32() when the line of the last run was taken off-hook.
    uint32_t AnsweredAt() const { return m_answeredAt; }

private:
    // The loop's timers, the capture and the audio messages wired to this
    // session.
    void Connect();
    void OnBlock(const int16_t* samples, int32_t bytes);
    // Ends a run that was not answered: NoCall, or Failed with its reason.
    RunOutcome EndUnanswered();
    void ShowProgress(const std::string& text);
    // The run ended by `failure` (shown here): Unplugged when the device
    // object found the adapter gone, else Failed.
    RunOutcome EndFailed(const std::string& failure);
    // Why the run cannot go on: the run control's reason, else the capture's
    // (an audio message such as "Fail to open device", with what failed);
    // empty while it can.
    std::string Failure() const;

    Console& m_console;
    // Null when borrowed.
    std::unique_ptr<CDeviceOper> m_ownDevice;
    std::unique_ptr<CMultiLanguage> m_ownLanguage;
    CDeviceOper& m_device;
    CMultiLanguage& m_language;
    MemoryRunPanel m_panel;
    EventLoop m_loop;
    HeadlessCapture m_capture;
    RunControl m_run;
    std::string m_modelName;
    bool m_opened = false;
    bool m_borrowed = false;
    AnswerRequester* m_previousRequester = nullptr;

    std::atomic<uint64_t> m_statusWrites{0};
    uint32_t m_answeredAt = 0;
    mutable std::mutex m_heardMutex;
    HeardAudioBuffer m_heard;
    std::string m_live;
    // A capture that cannot open (its audio message, on whichever thread
    // opened it) ends the run here instead of going unseen in the trace.
    mutable std::mutex m_audioMutex;
    std::string m_audioFailure;
    AudioMessageHandler m_previousAudioHandler;
};

} // namespace parvane::cli
