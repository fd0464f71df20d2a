#pragma once
// Message boxes of the audio classes (capture, file playback). Their texts
// are fixed. The toolkit-free code reports through a replaceable handler: the
// program installs one that shows a real message box (InstallAudioMessageBoxes
// in audio/AudioQtBindings.h); without one the text goes to the debug output,
// which is what headless front ends and tests want.

#include <functional>
#include <string>

namespace parvane {

enum class AudioMessageIcon { None, Warning };

// Caption of the box: the platform's default ("Error") or the application's
// name.
enum class AudioMessageCaption { Default, Application };

struct AudioMessage {
    std::string text;
    AudioMessageIcon icon = AudioMessageIcon::None;
    AudioMessageCaption caption = AudioMessageCaption::Default;
    // Set only when the line capture cannot open: what failed (the device,
    // the system's reason), for a front end that reports in words rather
    // than a box and ends its run on it; the box shows `text` alone.
    std::string captureFailure{};
};

using AudioMessageHandler = std::function<void(const AudioMessage& message)>;

// Replaces the handler; an empty one restores the debug-output default.
// Returns the previous handler.
AudioMessageHandler SetAudioMessageHandler(AudioMessageHandler handler);

// Shows (or traces) one message; returns when the user has closed the box.
void ShowAudioMessage(const AudioMessage& message);

} // namespace parvane
