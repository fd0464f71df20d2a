#pragma once
// Playback of one audio file (any format libsndfile reads) on one output
// device of AudioOutputDeviceNames(), either asynchronously with a completion
// notice or synchronously.
//
//   WavePlayer player;
//   int error = player.Open(path);                 // checks the extension, reads the header
//   if (error == 0) error = player.Play(deviceId, [](bool completed) { ... });
//   ...
//   player.Close();                               // stops playing, waits, frees
//
// Errors are codes with a fixed English text each (WavePlayErrorText);
// LastErrorDetail adds what the file reader or the device said.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace parvane {

enum WavePlayError : int {
    kWavePlayOk = 0,
    kWavePlayNoFile = 301,          // empty path
    kWavePlayUnknownExtension = 302, // no audio format is known by the file's extension
    kWavePlayCannotOpenFile = 303,   // missing, unreadable or not audio
    kWavePlayUnsupportedFormat = 304, // no frames, too many channels, bad rate
    kWavePlayBadDevice = 305,         // no such output device id
    kWavePlayDeviceFailed = 306,      // the device could not be opened or failed while playing
    kWavePlayNotOpen = 307,           // Play or Close without an open file
    kWavePlayBusy = 308,              // Play while already playing
};

// The text of an error code, or "" when the code has none (0 or unknown).
const char* WavePlayErrorText(int code);

// True when libsndfile knows an audio format by this file's extension
// (case-insensitive; "wav", "flac", "ogg", "aiff", ...).
bool IsPlayableExtension(const std::string& path);

class WavePlayer final {
public:
    // How an asynchronous play ended.
    enum class End { Completed, Stopped, Failed };
    // Runs on the player's thread when asynchronous play ends: Completed
    // when the file was played to its end, Stopped when Close stopped it,
    // Failed when the device failed. It must not call Close on this player.
    using Completion = std::function<void(End end)>;

    WavePlayer();
    ~WavePlayer(); // Close()
    WavePlayer(const WavePlayer&) = delete;
    WavePlayer& operator=(const WavePlayer&) = delete;

    int Open(const std::string& path);
    // Asynchronous: returns once the device is open and playing has begun.
    int Play(int deviceId, Completion completion);
    // Synchronous: returns when the whole file has been played.
    int PlaySync(int deviceId);
    // Stops playing (the completion runs with false), waits for the player's
    // thread and closes the file. kWavePlayNotOpen when nothing was open.
    int Close();

    bool IsOpen() const;
    bool IsPlaying() const;
    std::string LastErrorDetail() const;
    // Format of the open file as read (sample rate, channels).
    int FileSampleRate() const;
    int FileChannels() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace parvane
