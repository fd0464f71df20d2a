#include "cli/Recording.h"

#ifdef _WIN32
// File names are UTF-8 inside the program; Windows opens them as UTF-16.
#include "platform/WideText.h"
#include <windows.h>
#define ENABLE_SNDFILE_WINDOWS_PROTOTYPES 1
#endif
#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <sys/stat.h>

namespace parvane::cli {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

// libsndfile notes in its log where a chunk announces more bytes than the
// file holds, as "data : 96000 (should be 49956)" (WAV, W64, RF64) or
// "SSND : ... (should be ...)" (AIFF). A size that is too large there means
// the audio stops early.
bool LogShowsTruncation(SNDFILE* file)
{
    char log[16384] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos)
            continue;
        const std::string chunk = line.substr(start, 4);
        if (chunk != "data" && chunk != "SSND")
            continue;
        const size_t colon = line.find(':');
        const size_t should = line.find("(should be ");
        if (colon == std::string::npos || should == std::string::npos)
            continue;
        const long long announced = std::atoll(line.c_str() + colon + 1);
        const long long present = std::atoll(line.c_str() + should + std::strlen("(should be "));
        if (announced > present)
            return true;
    }
    return false;
}

int16_t ToSample(float value)
{
    if (std::isnan(value))
        return 0; // a float file can hold values that are not numbers: no sound
    const float scaled = std::round(value * 32768.0f);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

// Converts two channels of float samples to kRate.
bool Resample(std::vector<float>& samples, int fromRate, std::string& error)
{
    const size_t frames = samples.size() / 2;
    const double ratio = static_cast<double>(Recording::kRate) / fromRate;
    std::vector<float> converted(static_cast<size_t>(std::ceil(frames * ratio)) * 2 + 64);
    SRC_DATA data{};
    data.data_in = samples.data();
    data.input_frames = static_cast<long>(frames);
    data.data_out = converted.data();
    data.output_frames = static_cast<long>(converted.size() / 2);
    data.src_ratio = ratio;
    const int result = src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 2);
    if (result != 0) {
        error = std::string("cannot convert the sample rate: ") + src_strerror(result);
        return false;
    }
    converted.resize(static_cast<size_t>(data.output_frames_gen) * 2);
    samples.swap(converted);
    return true;
}

} // namespace

std::vector<int16_t> Recording::Left() const
{
    std::vector<int16_t> left(Frames());
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = stereo[2 * i];
    return left;
}

bool LoadRecording(const std::string& path, Recording& recording, std::string& error)
{
    recording = Recording{};
#ifdef _WIN32
    struct _stat64 status {};
    if (::_wstat64(parvane::Widen(path).c_str(), &status) != 0) {
#else
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
#endif
        error = "cannot read " + Quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        error = "cannot read " + Quoted(path) + ": it is a directory";
        return false;
    }
    if (status.st_size == 0) {
        error = Quoted(path) + " is empty";
        return false;
    }

    SF_INFO info{};
#ifdef _WIN32
    SndfilePtr file(sf_wchar_open(parvane::Widen(path).c_str(), SFM_READ, &info));
#else
    SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
#endif
    if (!file) {
        const std::string why = sf_strerror(nullptr);
        switch (sf_error(nullptr)) {
        case SF_ERR_SYSTEM:
            error = "cannot read " + Quoted(path) + ": " + why;
            break;
        case SF_ERR_UNRECOGNISED_FORMAT:
            error = Quoted(path) + " is not an audio file that can be read (" + why + ")";
            break;
        case SF_ERR_MALFORMED_FILE:
            error = Quoted(path) + " is damaged or truncated (" + why + ")";
            break;
        default: // errors particular to a format: a header that is cut or wrong
            error = Quoted(path) + " is damaged or not an audio file (" + why + ")";
            break;
        }
        return false;
    }
    if (LogShowsTruncation(file.get())) {
        error = Quoted(path) + " is truncated: its header announces more audio than the file holds";
        return false;
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        error = Quoted(path) + " has no channels or no sample rate";
        return false;
    }
    // A length of SF_COUNT_MAX means libsndfile could not tell it (an Ogg
    // file whose end is missing, a pipe).
    const bool lengthKnown = info.frames >= 0 && info.frames != SF_COUNT_MAX;
    if (lengthKnown && info.frames > static_cast<sf_count_t>(kLongestRecordingSeconds) * info.samplerate) {
        error = Quoted(path) + " is longer than " + std::to_string(kLongestRecordingSeconds / 60) + " minutes";
        return false;
    }

    SF_FORMAT_INFO formatInfo{};
    formatInfo.format = info.format & SF_FORMAT_TYPEMASK;
    if (sf_command(file.get(), SFC_GET_FORMAT_INFO, &formatInfo, sizeof formatInfo) == 0 && formatInfo.name)
        recording.format = formatInfo.name;
    recording.fileRate = info.samplerate;
    recording.fileChannels = info.channels;

    // Two channels of floats at the file's rate.
    // Room for the frames the header announces, but no more than the file
    // has bytes: a damaged header may announce billions, and only the
    // compressed formats hold more frames than bytes (the vector grows then).
    std::vector<float> samples;
    if (lengthKnown)
        samples.reserve(static_cast<size_t>(std::min<sf_count_t>(info.frames, status.st_size)) * 2);
    std::vector<float> chunk(static_cast<size_t>(4096) * info.channels);
    sf_count_t total = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), chunk.data(), 4096);
        if (got <= 0)
            break;
        for (sf_count_t i = 0; i < got; ++i) {
            const float* frame = &chunk[static_cast<size_t>(i) * info.channels];
            samples.push_back(frame[0]);
            samples.push_back(info.channels > 1 ? frame[1] : frame[0]);
        }
        total += got;
        if (total > static_cast<sf_count_t>(kLongestRecordingSeconds) * info.samplerate) {
            error = Quoted(path) + " is longer than " + std::to_string(kLongestRecordingSeconds / 60) + " minutes";
            return false;
        }
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        error = Quoted(path) + " cannot be decoded to the end (" + sf_strerror(file.get()) + "): it is damaged or truncated";
        return false;
    }
    if (lengthKnown && total < info.frames) {
        error = Quoted(path) + " is truncated: " + std::to_string(total) + " of the " + std::to_string(info.frames) +
                " frames it announces could be read";
        return false;
    }
    if (total == 0) {
        error = Quoted(path) + (lengthKnown ? " holds no audio" : " holds no audio that can be decoded: it is damaged or truncated");
        return false;
    }
    if (info.samplerate != Recording::kRate && !Resample(samples, info.samplerate, error)) {
        error = Quoted(path) + ": " + error;
        return false;
    }
    if (samples.empty()) {
        // A few frames at a rate far above the line's convert to none.
        error = Quoted(path) + " is too short: its " + std::to_string(total) + " frames at " +
                std::to_string(info.samplerate) + " Hz give no audio at " + std::to_string(Recording::kRate) + " Hz";
        return false;
    }
    recording.stereo.resize(samples.size());
    std::transform(samples.begin(), samples.end(), recording.stereo.begin(), ToSample);
    return true;
}

} // namespace parvane::cli
