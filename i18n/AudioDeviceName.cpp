#include "i18n/AudioDeviceName.h"

#include "i18n/UnicodeText.h"

#include <mutex>

namespace {

std::mutex g_mutex;
std::string g_name = "Tarnbox";

} // namespace

std::string GetAudioDeviceName()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_name;
}

void SetAudioDeviceName(std::string_view name)
{
    const std::string clean = parvane::text::SanitiseUtf8(name);
    const std::string_view cut = parvane::text::CutToCharacters(clean, kAudioDeviceNameMaxCharacters);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_name = std::string(cut);
}
