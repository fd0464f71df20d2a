#include "audio/BlockQueueReceiver.h"

#include <cstring>

BlockQueueReceiver::BlockQueueReceiver(Handler handler, size_t maxQueued)
    : m_handler(std::move(handler)), m_maxQueued(maxQueued == 0 ? 1 : maxQueued), m_thread([this] { Loop(); })
{
}

BlockQueueReceiver::~BlockQueueReceiver()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void BlockQueueReceiver::PostAudioInBlock(uint64_t engineSerial, const int16_t* samples, int32_t bytes)
{
    if (samples == nullptr || bytes <= 0)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_quit)
        return;
    if (m_queue.size() >= m_maxQueued) {
        ++m_dropped;
        return;
    }
    std::vector<int16_t> copy;
    if (!m_spare.empty()) {
        copy = std::move(m_spare.back());
        m_spare.pop_back();
    }
    copy.resize((static_cast<size_t>(bytes) + 1) / 2);
    std::memcpy(copy.data(), samples, static_cast<size_t>(bytes));
    m_queue.push_back(Block{engineSerial, std::move(copy), bytes});
    m_changed.notify_all();
}

void BlockQueueReceiver::Loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_quit || !m_queue.empty(); });
        if (m_quit)
            break;
        Block block = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        if (block.serial == CurrentAudioEngineSerial() && m_handler)
            m_handler(block.samples.data(), block.bytes);
        lock.lock();
        m_busy = false;
        ++m_handled;
        m_spare.push_back(std::move(block.samples));
        m_changed.notify_all();
    }
}

void BlockQueueReceiver::WaitIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_quit || (m_queue.empty() && !m_busy); });
}

uint64_t BlockQueueReceiver::HandledBlocks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handled;
}

uint64_t BlockQueueReceiver::DroppedBlocks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}
