#pragma once
// Plays one wave file on one named audio output device, asynchronously with
// a completion notice or synchronously. Toolkit-free: the notice goes to a
// WaveBoxNotify, and failures show the audio message box (AudioMessages.h)
// with the player's error text, or "Unknown Error" when it has none.
//
//   CWaveBox box;
//   if (box.SetAudioOut(AudioDeviceName) >= 0) {
//       box.SetNotify(&target);          // null: PlayWave waits for the end
//       box.PlayWave(path);
//       ...                              // target.OnWaveNotify(...) arrives
//       box.Close();
//   }

#include "platform/WavePlayer.h"

#include <cstdint>
#include <memory>
#include <string>

// Values of the completion notice, as a media control interface reports them.
constexpr int kWaveNotifySuccessful = 0x1; // played to the end
constexpr int kWaveNotifyAborted = 0x4;    // stopped by Close
constexpr int kWaveNotifyFailure = 0x8;    // the device failed while playing

// Receives the completion notice of an asynchronous play. OnWaveNotify runs
// on the player's thread: it must only post to the receiver's own thread (as
// PostingWaveNotify in display/WaveNotifyEvent.h does) and must not call back
// into the CWaveBox.
class WaveBoxNotify {
public:
    virtual ~WaveBoxNotify() = default;
    virtual void OnWaveNotify(int notifyFlag, uint32_t fileDeviceId) = 0;
};

class CWaveBox {
public:
    CWaveBox();
    virtual ~CWaveBox(); // the caller closes with Close first; a play still running is stopped

    // Selects the first output device whose name contains `name`
    // (case-sensitive): its id, or -1 when there are no output devices or
    // none matches.
    int SetAudioOut(const std::string& name);
    void SetNotify(WaveBoxNotify* notify) { m_pNotify = notify; }

    // Plays `path` on the selected device: 0, or -1 after the error message
    // box. -1 without a message when `path` is null.
    int PlayWave(const char* path);
    // Stops and closes the file device: 0 when none was open, else the
    // player's result (0 on success).
    int Close();

    uint32_t FileDeviceId() const { return m_nFileDeviceId; }
    int OutputDevice() const { return m_nOutputDevice; }
    const std::string& DeviceName() const { return m_strDeviceName; }
    // The alias of the last playback, "Audio_<tick>_<uuid>".
    const std::string& Alias() const { return m_strAlias; }

    // The error text shown for a player error code.
    static std::string ErrorText(int code);

private:
    void ShowError(int code);

    uint32_t m_nFileDeviceId = 0;
    std::string m_strDeviceName;
    WaveBoxNotify* m_pNotify = nullptr;
    int m_nOutputDevice = 0;
    std::unique_ptr<parvane::WavePlayer> m_pPlayer;
    std::string m_strAlias;
};
