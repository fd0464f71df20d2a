#include "audio/AudioMessages.h"

#include "platform/DebugPrint.h"

#include <mutex>

namespace parvane {
namespace {

std::mutex& HandlerMutex()
{
    static std::mutex mutex;
    return mutex;
}

AudioMessageHandler& Handler()
{
    static AudioMessageHandler handler;
    return handler;
}

} // namespace

AudioMessageHandler SetAudioMessageHandler(AudioMessageHandler handler)
{
    std::lock_guard<std::mutex> lock(HandlerMutex());
    AudioMessageHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

void ShowAudioMessage(const AudioMessage& message)
{
    AudioMessageHandler handler;
    {
        std::lock_guard<std::mutex> lock(HandlerMutex());
        handler = Handler();
    }
    if (handler)
        handler(message);
    else
        DebugPrint("Message box: %s", message.text.c_str());
}

} // namespace parvane
