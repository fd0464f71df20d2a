// The verification worker of Verify Mode and Get Period.
#include "app/RunControl.h"

#include "device/DeviceOper.h"
#include "i18n/AudioDeviceName.h"
#include "i18n/MessageFormat.h"
#include "i18n/MultiLanguage.h"
#include "i18n/UnicodeText.h"
#include "platform/DebugPrint.h"

namespace parvane {

namespace {

// The device name as the library takes it: 8-bit text in a 200-byte buffer.
constexpr size_t kDeviceNameBytes = 200;

} // namespace

int VexlinThread(CDeviceOper* device, RunControl* control, uint64_t run)
{
    // The worker's bookkeeping ends on every path out.
    struct Ending {
        RunControl* control;
        ~Ending() { control->WorkerEnded(); }
    } ending{control};

    RunPanel& panel = control->Panel();
    const int frequency1 = ParseLeadingInteger(panel.InputText(RunInput::Frequency1));
    const int frequency2 = ParseLeadingInteger(panel.InputText(RunInput::Frequency2));
    int onTime = ParseLeadingInteger(panel.InputText(RunInput::OnPeriod));
    int offTime = ParseLeadingInteger(panel.InputText(RunInput::OffPeriod));
    const long port = device->m_nPortIndex;
    DebugPrint("VexlinThread Run (index=%ld)", port);

    const std::string deviceName(text::CutToBytes(GetAudioDeviceName(), kDeviceNameBytes - 1));

    int period = 0;
    if (control->Mode() == RunMode::Verify) {
        period = onTime == offTime ? onTime : onTime + offTime;
    } else {
        onTime = 0;
        offTime = 0;
    }

    CDeviceATABase& binding = device->Binding();
    if (!binding.BusyToneFunctionsBound()) {
        // Without all nine entry points there is no detection to run: calling
        // them would jump through empty pointers.
        DebugPrint("Busy tone functions are not bound, so no busy tone detect (index=%ld)", port);
        binding.DaaSetOnhook();
        return 1;
    }

    binding.m_pSetOnOffTimeForTestExp(onTime, offTime);
    if (binding.m_pStartVexlin2Exp(deviceName.c_str(), frequency1, frequency2, period, 0, 0, 0) == 0) {
        DebugPrint("Busy Tone Detect fail (index=%ld)", port);
        return 1;
    }
    DebugPrint("Start Busy Tone Detect...(index=%ld)", port);

    while (control->RunStillCurrent(run)) {
        const int count = binding.m_pGetBusyToneCountExp();
        const int found = binding.m_pIsBusyToneHappenedExp();
        const int measured = binding.m_pGetPerhapsPeriodExp();
        std::string text;
        CMultiLanguage& language = control->Language();
        if (found != 0 && count >= RunControl::kFoundCount) {
            if (period == 0)
                text = FormatMessageText(language.GetMessageText(RunControl::kMessageToneWithPeriod), {count, measured});
            else
                text = FormatMessageText(language.GetMessageText(RunControl::kMessageToneMatches), {count});
        } else {
            text = FormatMessageText(language.GetMessageText(RunControl::kMessageNoToneYet), {count});
        }
        control->WriteStatus(run, text);
        control->WaitWhileRunCurrent(run, 1000);
    }

    DebugPrint("m_bIsWorking=FALSE,so stop Busy Tone Detect(index=%ld)", port);
    binding.m_pStopVexlinExp();
    DebugPrint("pstn is busy or daa is hook on,start set daa hook on(index=%ld)", port);
    binding.DaaSetOnhook();
    return 1;
}

} // namespace parvane
