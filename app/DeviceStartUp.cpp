#include "app/DeviceStartUp.h"

#include "audio/AudioGlobals.h"
#include "device/DeviceOper.h"
#include "i18n/AudioDeviceName.h"
#include "i18n/UnicodeText.h"
#include "platform/AdapterIds.h"
#include "platform/AdapterNodes.h"
#include "platform/DebugPrint.h"
#include "platform/VirtualAdapterLink.h"

namespace parvane {

const char* DeviceStartUpFailureText(DeviceStartUpResult result)
{
    switch (result) {
    case DeviceStartUpResult::HardwareNotFound:
        return "Hardware is not found";
    case DeviceStartUpResult::PortInitFailed:
        return "Port 1 init failed";
    case DeviceStartUpResult::NoSupportAudio:
        return "No support audio";
    case DeviceStartUpResult::Ready:
        break;
    }
    return "";
}

std::string FindSupportedModelName(const std::string& eepromText)
{
    for (const char* name : kSupportedModelNames) {
        if (eepromText.find(name) != std::string::npos)
            return name;
    }
    return {};
}

std::string ModelNameCellsToText(const uint16_t* cells, int count)
{
    int length = 0;
    while (length < count && cells[length] != 0)
        ++length;
    std::u16string units(cells, cells + length);
    return text::Utf16ToUtf8(units.data(), units.size());
}

std::string AdapterAccessProblemFor(uint16_t vendorId)
{
    if (VirtualAdapterChosen())
        return {};
    return AdapterAccessProblem(FindAdapterNodes(vendorId, kAdapterProductIds));
}

DeviceStartUpResult StartUpDevice(CDeviceOper& device, AnswerRequester* requester, uint16_t vendorId,
                                  const std::function<void(uint32_t)>& sleep, std::string& modelName)
{
    device.m_wVendorId = vendorId;
    device.m_wProductId = kAdapterProductIds[0];
    device.SetPortIndex(0);
    device.SetAnswerRequester(requester);
    device.LoadDlls();
    device.StartThread();

    if (!device.OpenFirstAdapter(kAdapterProductIds)) {
        // Present but out of reach is not absent: the trace says where and
        // how to get at it.
        const std::string access = AdapterAccessProblemFor(vendorId);
        if (!access.empty())
            DebugPrint("%s", access.c_str());
        return DeviceStartUpResult::HardwareNotFound;
    }

    if (!device.InitializeDaa())
        return DeviceStartUpResult::PortInitFailed;

    for (int read = 0; read < kModelNameReads; ++read) {
        uint16_t cells[CDeviceATABase::kModelNameCells] = {};
        device.Binding().ReadModelName(cells);
        const std::string text = ModelNameCellsToText(cells, CDeviceATABase::kModelNameCells);
        DebugPrint("hardware_audio_name = [%s]", text.c_str());
        modelName = FindSupportedModelName(text);
        if (!modelName.empty()) {
            SetAudioDeviceName(modelName);
            return DeviceStartUpResult::Ready;
        }
        sleep(kModelNameRetryMs);
    }
    return DeviceStartUpResult::NoSupportAudio;
}

} // namespace parvane
