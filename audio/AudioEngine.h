#pragma once
// The audio engine core: capture (CRecordIn) into three input buffers, the
// engine state, the input format and the performance timer that measures
// each transform. Toolkit-free; whoever receives its blocks implements
// AudioBlockReceiver.

#include "audio/PerformanceTimer.h"
#include "audio/RecordIn.h"
#include "platform/AudioDevices.h"

#include <cstdint>
#include <memory>

class CAudioEngine;

// Receives the engine's captured blocks ("WM_AUDIO_IN_BLOCK").
//
// PostAudioInBlock is called on the capture delivery thread, once per
// complete block, in capture order. It must only hand the block over (post
// an event, queue it) and return at once: it must not analyse, draw, block
// or call back into the engine.
//
// The block is not copied: `samples` points into the engine's input buffer,
// which the device refills after it has filled the two other buffers, that
// is about two block durations later, and which lives only as long as the
// engine. A receiver that reads the block later must therefore (a) read it
// within that time or copy it, and (b) drop blocks whose engine is no longer
// the current one: compare `engineSerial` with CurrentAudioEngineSerial()
// on the thread that reads the block. AudioManagerWnd (Qt, posts to the GUI
// thread and reads in place) and BlockQueueReceiver (headless, copies and
// runs the analysis on its own thread) are the two receivers.
class AudioBlockReceiver {
public:
    virtual ~AudioBlockReceiver() = default;
    virtual void PostAudioInBlock(uint64_t engineSerial, const int16_t* samples, int32_t bytes) = 0;
};

class CAudioEngine {
public:
    // Bits 16..19 of the state word: the input mode.
    static constexpr uint32_t kInputModeMask = 0x000F0000;
    // Commands of SetState.
    static constexpr uint32_t kStartInput = 6;
    static constexpr uint32_t kStopInput = 0xFFF0FFFF;
    static constexpr uint32_t kStopAll = 0;

    // Allocates the three input buffers, sets the 48000 Hz stereo format and
    // starts capturing at once (SetState(6)); `notify` receives the blocks.
    explicit CAudioEngine(AudioBlockReceiver* notify);
    // Stops capture and frees the recorder and the buffers.
    ~CAudioEngine();
    CAudioEngine(const CAudioEngine&) = delete;
    CAudioEngine& operator=(const CAudioEngine&) = delete;

    // 6: input mode 1 and start the recorder; 0xFFF0FFFF: clear the input
    // mode and stop the recorder; 0: clear the state and stop the recorder.
    // Returns the recorder's result; other commands do nothing and return 0.
    int SetState(uint32_t command);
    uint32_t State() const { return m_dwState; }

    // Rate index 0..5: 48000, 44100, 32000, 24000, 16000, 8000 Hz, always
    // 2 channels of 16 bits. Out-of-range indexes are refused (false).
    bool SetInputFormat(int rateIndex);
    const parvane::AudioFormat& InputFormat() const { return m_inputFormat; }
    uint32_t InputBlockAlign() const { return m_inputFormat.BytesPerFrame(); }

    CPerformanceTimer& Timer() { return m_timer; }
    uint8_t* InputBuffer(int index) { return m_pInputBuffer[index].get(); }
    CRecordIn& Recorder() { return *m_pRecorder; }
    // A number no other engine of this process has had.
    uint64_t Serial() const { return m_serial; }

    // Called by the recorder on the capture thread for a completed buffer:
    // hands input buffer `index` over to the receiver.
    void OnCaptured(int index);

    static constexpr uint32_t RateOfIndex(int rateIndex)
    {
        constexpr uint32_t rates[] = {48000, 44100, 32000, 24000, 16000, 8000};
        return rateIndex >= 0 && rateIndex < 6 ? rates[rateIndex] : 0;
    }

private:
    std::unique_ptr<CRecordIn> m_pRecorder;
    uint32_t m_dwState = 0;
    std::unique_ptr<uint8_t[]> m_pInputBuffer[3];
    CPerformanceTimer m_timer;
    parvane::AudioFormat m_inputFormat;
    AudioBlockReceiver* m_pNotify;
    uint64_t m_serial;
};

// The current engine: the one the views and Stop act on. Null while none
// exists. Set and read on the thread that owns the engines (the GUI thread).
CAudioEngine* CurrentAudioEngine();
void SetCurrentAudioEngine(CAudioEngine* engine);
// Serial of the current engine, 0 when none; safe from any thread.
uint64_t CurrentAudioEngineSerial();
