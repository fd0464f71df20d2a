// Any bytes as a recording for `parvane-cli file`: libsndfile recognises
// whatever format it can, and the reader either gives 16-bit stereo at the
// line's rate or a message.
#include "FuzzFiles.h"

#include "cli/Recording.h"

#include <sndfile.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = parvane::fuzz::Scratch().Write("recording", data, size);
    parvane::cli::Recording recording;
    std::string error;
    if (parvane::cli::LoadRecording(path, recording, error)) {
        if (recording.Frames() == 0 || recording.stereo.size() % 2 != 0 || recording.fileChannels <= 0)
            __builtin_trap();
        recording.Left();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
