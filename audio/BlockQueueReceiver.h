#pragma once
// The headless receiver of captured blocks: copies each block on the capture
// thread and hands the copies, in order, to a handler on a thread of its own
// (typically SpectrumAnalysis::AnalyseStereoBlock). Blocks of engines that
// are no longer current are dropped, as in the window.
//
//   BlockQueueReceiver receiver([&](const int16_t* s, int32_t n) { analysis.AnalyseStereoBlock(s, n); });
//   auto engine = std::make_unique<CAudioEngine>(&receiver);
//   SetCurrentAudioEngine(engine.get());
//   ...
//   engine->SetState(CAudioEngine::kStopInput);
//   receiver.WaitIdle();

#include "audio/AudioEngine.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class BlockQueueReceiver final : public AudioBlockReceiver {
public:
    using Handler = std::function<void(const int16_t* samples, int32_t bytes)>;

    // At most `maxQueued` blocks wait; further ones are dropped (and counted)
    // until the handler catches up.
    explicit BlockQueueReceiver(Handler handler, size_t maxQueued = 16);
    ~BlockQueueReceiver() override; // finishes the block in hand, drops the rest

    void PostAudioInBlock(uint64_t engineSerial, const int16_t* samples, int32_t bytes) override;

    // Waits until every queued block has been handled.
    void WaitIdle();
    uint64_t HandledBlocks() const;
    uint64_t DroppedBlocks() const;

private:
    struct Block {
        uint64_t serial;
        std::vector<int16_t> samples;
        int32_t bytes;
    };
    void Loop();

    Handler m_handler;
    size_t m_maxQueued;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block> m_queue;
    std::vector<std::vector<int16_t>> m_spare; // recycled block memory
    bool m_busy = false;
    bool m_quit = false;
    uint64_t m_handled = 0;
    uint64_t m_dropped = 0;
    std::thread m_thread;
};
