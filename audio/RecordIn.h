#pragma once
// Wave capture from the adapter's audio input. Keeps three buffers (the
// engine's) queued at the device, hands each completed one to the engine
// and queues it again at once, so the receiver may read a block in place for
// about two block durations.

#include "platform/WaveIn.h"

#include <atomic>
#include <cstdint>
#include <string>

class CAudioEngine;

class CRecordIn {
public:
    explicit CRecordIn(CAudioEngine* owner);
    virtual ~CRecordIn(); // stops capture

    CRecordIn(const CRecordIn&) = delete;
    CRecordIn& operator=(const CRecordIn&) = delete;

    // The id of the first input device whose name contains `name`
    // (case-sensitive); -2 when there are no input devices, -1 when none
    // matches.
    static int FindDeviceByName(const std::string& name);

    // Opens the device named by AudioDeviceName in the engine's input format.
    bool Open();
    // 1 when capture started; 0 when already recording (no message) or when
    // the device cannot be opened or started ("Fail to open device").
    int Start();
    // 1 when capture stopped and the device closed; 0 when not recording or
    // when the device refused to stop ("Stop recording failed！").
    int Stop();

    bool IsRecording() const { return m_bRecording.load() != 0; }
    int LastIndex() const { return m_nLastIndex.load(); }
    // Block length taken at Start: the buffers' length and the only length a
    // completed block may have.
    int32_t BlockBytes() const { return m_nBlockBytes; }

private:
    static void WaveInProc(parvane::WaveIn* device, parvane::WaveInMessage message, void* instance,
                           parvane::WaveBuffer* buffer);
    void OnData(parvane::WaveBuffer* buffer);
    void OnClose();

    CAudioEngine* m_pOwner;
    std::atomic<int> m_bRecording{0};
    std::atomic<int> m_nLastIndex{0};
    parvane::WaveIn m_hWaveIn;
    parvane::AudioFormat m_format;
    parvane::WaveBuffer m_headers[3];
    int32_t m_nBlockBytes = 0;
    std::string m_openFailure; // why the last Open failed, in words
};
