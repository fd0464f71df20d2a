#include "app/WaveBoxPlayback.h"

#include "display/WaveBox.h"
#include "platform/DebugPrint.h"

#include <cstdint>
#include <new>

CWaveBox* PlayWaveWithWaveBox(const std::string& deviceName, const std::string& fileName, WaveBoxNotify* notify)
{
    DebugPrint("PlayWaveWithWaveBox:[%s][%s][hwnd=0x%x]", deviceName.c_str(), fileName.c_str(),
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(notify)));
    CWaveBox* box = new (std::nothrow) CWaveBox;
    if (box == nullptr) {
        DebugPrint("PlayWaveWithWaveBox error 001");
        return nullptr;
    }
    if (box->SetAudioOut(deviceName) < 0) {
        DebugPrint("PlayWaveWithWaveBox failed on audio device missing");
        delete box;
        return nullptr;
    }
    box->SetNotify(notify);
    box->PlayWave(fileName.c_str());
    return box;
}

void StopPlayWaveWithWaveBox(CWaveBox*& box)
{
    if (box == nullptr)
        return;
    DebugPrint("StopPlayWaveWithWaveBox start");
    box->Close();
    delete box;
    box = nullptr;
    DebugPrint("StopPlayWaveWithWaveBox end");
}
