// The verification worker of Verify Mode and Get Period.
//
// It may outlive the run control (a tone-detection call that does not come
// back within the teardown wait): everything it reaches of the run control,
// the panel and the language pack is reached under the link's lock and only
// while the link still names the run control; the device only while the run
// control waits for it (see ReleaseLine). It keeps its own
// hold on the tone-detection library, so unloading the binding cannot pull
// the code it is running out from under it.
#include "app/RunControl.h"

#include "device/DeviceOper.h"
#include "i18n/AudioDeviceName.h"
#include "i18n/MessageFormat.h"
#include "i18n/MultiLanguage.h"
#include "i18n/UnicodeText.h"
#include "platform/DebugPrint.h"
#include "platform/DynamicLibrary.h"

#include <chrono>

namespace parvane {

namespace {

// The device name as the library takes it: 8-bit text in a 200-byte buffer.
constexpr size_t kDeviceNameBytes = 200;

// The nine entry points, copied at the start of the worker.
struct Detection {
    SetOnOffTimeForTestFn setOnOffTime = nullptr;
    StartVexlin2Fn start = nullptr;
    StopVexlinFn stop = nullptr;
    GetBusyToneCountFn count = nullptr;
    IsBusyToneHappenedFn happened = nullptr;
    GetPerhapsPeriodFn period = nullptr;
    bool bound = false;
};

// Releases the line, unless a later run has answered it since this worker's
// run did (or the run control is gone). Called without the link's lock: the
// decision is taken under it, the library is called after letting go, so a
// slow or stuck call holds up nobody but this worker. While the call is under
// way `releasing` counts it, and no answer claims the line until it is back.
void ReleaseLine(RunLink& link, CDeviceOper* device, uint64_t run, long port)
{
    {
        std::lock_guard<std::mutex> lock(link.mutex);
        if (link.control == nullptr)
            return;
        if (link.lineRun != run) {
            DebugPrint("A later run has answered the line, so it is not released (index=%ld)", port);
            return;
        }
        ++link.releasing;
    }
    device->Binding().DaaSetOnhook();
    {
        std::lock_guard<std::mutex> lock(link.mutex);
        --link.releasing;
    }
    link.changed.notify_all();
}

// The run cannot go on: the reason goes to the trace and, while the run is
// current, to the status line and RunFailure; the line is released.
void FailRun(RunLink& link, CDeviceOper* device, uint64_t run, long port, const char* reason)
{
    DebugPrint("%s (index=%ld)", reason, port);
    {
        std::lock_guard<std::mutex> lock(link.mutex);
        if (link.control != nullptr && link.run == run) {
            link.failure = reason;
            link.control->Panel().SetStatusText(reason);
        }
    }
    ReleaseLine(link, device, run, port);
}

} // namespace

int VexlinThread(CDeviceOper* device, std::shared_ptr<RunLink> link, uint64_t run)
{
    // The worker's bookkeeping ends on every path out.
    struct Ending {
        RunLink& link;
        ~Ending()
        {
            {
                std::lock_guard<std::mutex> lock(link.mutex);
                --link.liveWorkers;
            }
            link.changed.notify_all();
        }
    } ending{*link};

    int frequency1 = 0, frequency2 = 0, onTime = 0, offTime = 0;
    RunMode mode = RunMode::Verify;
    long port = -1;
    Detection detection;
    DynamicLibrary hold;
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        RunControl* control = link->control;
        if (control == nullptr)
            return 1;
        RunPanel& panel = control->Panel();
        frequency1 = ParseLeadingInteger(panel.InputText(RunInput::Frequency1));
        frequency2 = ParseLeadingInteger(panel.InputText(RunInput::Frequency2));
        onTime = ParseLeadingInteger(panel.InputText(RunInput::OnPeriod));
        offTime = ParseLeadingInteger(panel.InputText(RunInput::OffPeriod));
        mode = control->Mode();
        port = device->m_nPortIndex;
        CDeviceATABase& binding = device->Binding();
        detection.bound = binding.BusyToneFunctionsBound();
        if (detection.bound) {
            detection = {binding.m_pSetOnOffTimeForTestExp, binding.m_pStartVexlin2Exp, binding.m_pStopVexlinExp,
                         binding.m_pGetBusyToneCountExp,  binding.m_pIsBusyToneHappenedExp,
                         binding.m_pGetPerhapsPeriodExp,  true};
            // One more reference to the loaded file: it stays mapped until
            // this worker is done with it.
            if (!binding.BusyToneLibraryPath().empty())
                hold.Open(binding.BusyToneLibraryPath());
        }
    }
    DebugPrint("VexlinThread Run (index=%ld)", port);

    const std::string deviceName(text::CutToBytes(GetAudioDeviceName(), kDeviceNameBytes - 1));

    int period = 0;
    if (mode == RunMode::Verify) {
        period = onTime == offTime ? onTime : onTime + offTime;
    } else {
        onTime = 0;
        offTime = 0;
    }

    if (!detection.bound) {
        // Without all nine entry points there is no detection to run: calling
        // them would jump through empty pointers.
        DebugPrint("Busy tone functions are not bound, so no busy tone detect (index=%ld)", port);
        FailRun(*link, device, run, port, RunControl::kDetectionMissingText);
        return 1;
    }

    detection.setOnOffTime(onTime, offTime);
    if (detection.start(deviceName.c_str(), frequency1, frequency2, period, 0, 0, 0) == 0) {
        DebugPrint("Busy Tone Detect fail (index=%ld)", port);
        // Nothing will listen on this call: say so and hang it up rather
        // than hold the line until Stop.
        FailRun(*link, device, run, port, RunControl::kDetectionRefusedText);
        return 1;
    }
    DebugPrint("Start Busy Tone Detect...(index=%ld)", port);

    for (;;) {
        const int count = detection.count();
        const int found = detection.happened();
        const int measured = detection.period();
        std::unique_lock<std::mutex> lock(link->mutex);
        RunControl* control = link->control;
        if (control == nullptr || link->run != run || control->m_bIsWorking.load() != 1)
            break;
        // Under the link's lock, so that a worker whose run has just ended
        // cannot write over the status line of the next one.
        CMultiLanguage& language = control->Language();
        std::string text;
        if (found != 0 && count >= RunControl::kFoundCount) {
            if (period == 0)
                text = FormatMessageText(language.GetMessageText(RunControl::kMessageToneWithPeriod), {count, measured});
            else
                text = FormatMessageText(language.GetMessageText(RunControl::kMessageToneMatches), {count});
        } else {
            text = FormatMessageText(language.GetMessageText(RunControl::kMessageNoToneYet), {count});
        }
        control->Panel().SetStatusText(text);
        link->changed.wait_for(lock, std::chrono::milliseconds(1000),
                               [&] { return link->run != run || link->control == nullptr; });
    }

    DebugPrint("m_bIsWorking=FALSE,so stop Busy Tone Detect(index=%ld)", port);
    detection.stop();
    DebugPrint("pstn is busy or daa is hook on,start set daa hook on(index=%ld)", port);
    ReleaseLine(*link, device, run, port);
    return 1;
}

} // namespace parvane
