#include "platform/AudioDevices.h"

#include "platform/PortAudioBackend.h"
#include "platform/VirtualAudioBackend.h"

#include <mutex>

namespace parvane {
namespace {

std::mutex& TestBackendsMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<AudioBackend*>& TestBackends()
{
    static std::vector<AudioBackend*> backends;
    return backends;
}

// Finds the backend that holds a device id of the combined list; `local`
// gets the id within that backend.
AudioBackend* BackendOf(int deviceId, bool input, int* local)
{
    if (deviceId < 0)
        return nullptr;
    int first = 0;
    for (AudioBackend* backend : AudioBackends()) {
        const int count = static_cast<int>(input ? backend->InputDeviceNames().size()
                                                 : backend->OutputDeviceNames().size());
        if (deviceId < first + count) {
            *local = deviceId - first;
            return backend;
        }
        first += count;
    }
    return nullptr;
}

} // namespace

std::vector<AudioBackend*> AudioBackends()
{
    {
        std::lock_guard<std::mutex> lock(TestBackendsMutex());
        if (!TestBackends().empty())
            return TestBackends();
    }
    std::vector<AudioBackend*> backends;
    if (AudioBackend* adapter = VirtualAdapterAudioDevices())
        backends.push_back(adapter);
    backends.push_back(&PortAudioDevices());
    return backends;
}

void SetAudioBackendsForTest(std::vector<AudioBackend*> backends)
{
    std::lock_guard<std::mutex> lock(TestBackendsMutex());
    TestBackends() = std::move(backends);
}

std::vector<std::string> AudioInputDeviceNames()
{
    std::vector<std::string> names;
    for (AudioBackend* backend : AudioBackends()) {
        auto more = backend->InputDeviceNames();
        names.insert(names.end(), more.begin(), more.end());
    }
    return names;
}

std::vector<std::string> AudioOutputDeviceNames()
{
    std::vector<std::string> names;
    for (AudioBackend* backend : AudioBackends()) {
        auto more = backend->OutputDeviceNames();
        names.insert(names.end(), more.begin(), more.end());
    }
    return names;
}

int FindDeviceByNameIn(const std::vector<std::string>& names, const std::string& name)
{
    if (names.empty())
        return -2;
    for (size_t id = 0; id < names.size(); ++id) {
        if (names[id].find(name) != std::string::npos)
            return static_cast<int>(id);
    }
    return -1;
}

int FindAudioInputDevice(const std::string& name)
{
    return FindDeviceByNameIn(AudioInputDeviceNames(), name);
}

int FindAudioOutputDevice(const std::string& name)
{
    return FindDeviceByNameIn(AudioOutputDeviceNames(), name);
}

std::unique_ptr<CaptureStream> OpenCaptureDevice(int deviceId, const AudioFormat& format, CaptureSink* sink,
                                                 std::string* error)
{
    int local = 0;
    AudioBackend* backend = BackendOf(deviceId, true, &local);
    if (backend == nullptr) {
        if (error)
            *error = "no such audio input device";
        return nullptr;
    }
    return backend->OpenCapture(local, format, sink, error);
}

std::unique_ptr<PlaybackStream> OpenPlaybackDevice(int deviceId, const AudioFormat& format, std::string* error)
{
    int local = 0;
    AudioBackend* backend = BackendOf(deviceId, false, &local);
    if (backend == nullptr) {
        if (error)
            *error = "no such audio output device";
        return nullptr;
    }
    return backend->OpenPlayback(local, format, error);
}

} // namespace parvane
