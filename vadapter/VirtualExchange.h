#pragma once
// The small exchange behind the virtual line, for calls the program makes.
// Taking the line off-hook when no call is coming in gives the dial tone;
// the exchange listens to what the program plays into the adapter's output
// with a DTMF receiver (it learns digits from nothing else), stops the dial
// tone at the first digit, and takes the number as complete once no digit
// has begun for the digit timeout. The own number then gets the line's busy
// tone, the ringing number ringback (never answered), any other number
// congestion; a line on which nothing is dialled gets the dial tone until
// the dial timeout, then congestion. Between the dial tone and the answer
// the line is silent (with the scenario's noise).
//
// Scenario keys (section [exchange]):
//   dial_tone = 350+440          tone lists as for [call] tone (f1*f2: f1
//   ringback_tone = ...          amplitude-modulated by f2); a preset's own
//   congestion_tone = ...        by default, silence for a file without one
//   own_number = 200             the line's own number: busy
//   ring_number = 201            rings and is not answered: ringback
//   dial_timeout = 30000         ms of dial tone without a digit
//   digit_timeout = 3000         ms after a digit's start that end the number
// The tones are played at [call] level, with [call] noise under them.
//
// Not thread-safe on its own; the adapter holds its lock around every call
// but Render, which works on a copy of the call's timeline.

#include "vadapter/DtmfDecoder.h"
#include "vadapter/LineAudio.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace parvane {

struct ExchangeSettings {
    std::string dialTone;
    std::string ringbackTone;
    std::string congestionTone;
    std::string ownNumber = "200";
    std::string ringNumber = "201";
    uint32_t dialTimeoutMs = 30000;
    uint32_t digitTimeoutMs = 3000;
};

struct Scenario;

class VirtualExchange {
public:
    enum class Answer { None, Busy, Ringback, Congestion };

    // What the line carries on the current call, from the off-hook on.
    struct Timeline {
        bool outgoing = false; // false: no call of the program's (the caller's audio plays)
        int64_t dialEndsFrame = INT64_MAX;   // the dial tone stops here
        int64_t answerFromFrame = INT64_MAX; // the answer starts here
        std::shared_ptr<const LineAudio> dial;
        std::shared_ptr<const LineAudio> quiet;
        std::shared_ptr<const LineAudio> answer;
    };

    // Builds the exchange's audio from the scenario (at adapter reset).
    void Configure(const Scenario& scenario);

    // The line went off-hook at `now`; outgoing: the program's own call (no
    // call coming in was answered).
    void OffHook(uint64_t now, bool outgoing);
    void OnHook();

    // The adapter's output: a stream opens, carries interleaved frames, closes.
    // Frames are timed from the stream's first frame, which plays at `now`.
    void BeginPlayback(int playback, uint32_t sampleRate, uint16_t channels);
    void Hear(int playback, const int16_t* interleaved, size_t frames, uint64_t now);
    void EndPlayback(int playback);

    // The call's timeline as of `now` (the timeouts carried out first).
    Timeline Snapshot(uint64_t now);
    // Renders stereo frames of the call from firstFrame after the off-hook.
    static void Render(const Timeline& timeline, int16_t* interleaved, size_t frames, int64_t firstFrame);

    // The digits taken on the current (or last) call, and its answer.
    const std::string& Digits() const { return m_digits; }
    Answer CurrentAnswer() const { return m_answer; }

private:
    struct Stream {
        uint32_t sampleRate = 0;
        uint16_t channels = 1;
        uint64_t startMs = 0;
        bool started = false;
        std::unique_ptr<DtmfDecoder> decoder;
    };
    void TakeDigit(char digit, uint64_t atMs);
    void Advance(uint64_t now);
    void Route(uint64_t atMs, Answer answer);

    ExchangeSettings m_settings;
    std::shared_ptr<const LineAudio> m_dial;
    std::shared_ptr<const LineAudio> m_quiet;
    std::shared_ptr<const LineAudio> m_busy;
    std::shared_ptr<const LineAudio> m_ringback;
    std::shared_ptr<const LineAudio> m_congestion;

    std::map<int, Stream> m_streams;

    bool m_offHook = false;
    bool m_outgoing = false;
    uint64_t m_offHookAt = 0;
    std::string m_digits;
    uint64_t m_firstDigitAt = 0;
    uint64_t m_lastDigitAt = 0;
    Answer m_answer = Answer::None;
    uint64_t m_answerAt = 0;
};

} // namespace parvane
