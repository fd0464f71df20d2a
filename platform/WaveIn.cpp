#include "platform/WaveIn.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace parvane {

const char* WaveResultText(WaveResult result)
{
    switch (result) {
    case WaveResult::Ok: return "";
    case WaveResult::BadDeviceId: return "no such audio input device";
    case WaveResult::DeviceFailed: return "the audio input device failed";
    case WaveResult::BadFormat: return "unsupported audio format";
    case WaveResult::InvalidHandle: return "the audio input is not open";
    case WaveResult::StillQueued: return "buffers are still queued";
    case WaveResult::Unprepared: return "the buffer is not prepared";
    case WaveResult::InvalidParameter: return "invalid buffer";
    case WaveResult::WrongThread: return "not allowed inside the capture callback";
    }
    return "";
}

struct WaveIn::Impl final : CaptureSink {
    explicit Impl(WaveIn* owner) : owner(owner) {}

    // ---- real-time side -------------------------------------------------
    void PushFrames(const int16_t* interleaved, size_t frames) override
    {
        if (!accepting.load(std::memory_order_acquire) || frames == 0)
            return;
        const size_t channels = format.channels;
        const size_t capacity = ring.size();
        const size_t write = ringWrite.load(std::memory_order_relaxed);
        const size_t read = ringRead.load(std::memory_order_acquire);
        const size_t freeFrames = (capacity - (write - read)) / channels;
        const size_t taken = std::min(frames, freeFrames);
        if (taken < frames)
            droppedFrames.fetch_add(frames - taken, std::memory_order_relaxed);
        size_t samples = taken * channels;
        size_t position = write % capacity;
        const size_t first = std::min(samples, capacity - position);
        std::memcpy(ring.data() + position, interleaved, first * sizeof(int16_t));
        std::memcpy(ring.data(), interleaved + first, (samples - first) * sizeof(int16_t));
        ringWrite.store(write + samples, std::memory_order_release);
        wake.notify_one();
    }

    // ---- delivery thread ------------------------------------------------
    void DeliveryLoop()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!quit) {
            wake.wait_for(lock, std::chrono::milliseconds(10));
            if (quit)
                break;
            // Callbacks queue their buffers again, so keep filling while both
            // captured samples and queued buffers are there.
            for (;;) {
                std::vector<WaveBuffer*> handBack;
                if (started)
                    DrainRing(handBack);
                if (handBack.empty())
                    break;
                DeliverData(lock, handBack);
            }
            while (!requests.empty()) {
                Request request = std::move(requests.front());
                requests.pop_front();
                DeliverData(lock, request.buffers);
                doneSequence = request.sequence;
                idle.notify_all();
            }
        }
        // Nobody waits for requests posted after quit; hand them over anyway.
    }

    // Moves captured samples into the queued buffers. Buffers that become
    // full leave the queue and are appended to `completed`. With no buffer
    // queued the samples stay in the ring (it drops what does not fit when
    // it is full). Called with the lock.
    void DrainRing(std::vector<WaveBuffer*>& completed)
    {
        const size_t capacity = ring.size();
        size_t read = ringRead.load(std::memory_order_relaxed);
        const size_t write = ringWrite.load(std::memory_order_acquire);
        while (read < write) {
            if (queue.empty())
                break; // kept in the ring until a buffer is queued again
            WaveBuffer* buffer = queue.front();
            const size_t wanted = (buffer->bufferLength - buffer->bytesRecorded) / sizeof(int16_t);
            const size_t samples = std::min(wanted, write - read);
            size_t copied = 0;
            while (copied < samples) {
                const size_t position = (read + copied) % capacity;
                const size_t run = std::min(samples - copied, capacity - position);
                std::memcpy(buffer->data + buffer->bytesRecorded + copied * sizeof(int16_t),
                            ring.data() + position, run * sizeof(int16_t));
                copied += run;
            }
            buffer->bytesRecorded += static_cast<uint32_t>(samples * sizeof(int16_t));
            read += samples;
            if (buffer->bytesRecorded == buffer->bufferLength) {
                queue.pop_front();
                MarkDone(buffer);
                completed.push_back(buffer);
            }
        }
        ringRead.store(read, std::memory_order_release);
    }

    static void MarkDone(WaveBuffer* buffer)
    {
        buffer->flags = (buffer->flags & ~kWaveBufferInQueue) | kWaveBufferDone;
    }

    // Runs the callbacks for handed-back buffers without holding the lock,
    // so that a callback may queue its buffer again.
    void DeliverData(std::unique_lock<std::mutex>& lock, const std::vector<WaveBuffer*>& buffers)
    {
        if (buffers.empty() || callback == nullptr)
            return;
        lock.unlock();
        for (WaveBuffer* buffer : buffers)
            callback(owner, WaveInMessage::Data, instance, buffer);
        lock.lock();
    }

    // Hands back the buffer being filled (all == false) or every queued
    // buffer (all == true) through the delivery thread, after what is still
    // in the ring, and waits until the callbacks have run.
    void HandBack(std::unique_lock<std::mutex>& lock, bool all)
    {
        std::vector<WaveBuffer*> buffers;
        DrainRing(buffers); // what is still in the ring goes first
        const size_t left = ringWrite.load() - ringRead.load();
        if (left > 0) {
            droppedFrames.fetch_add(left / format.channels, std::memory_order_relaxed);
            ringRead.store(ringWrite.load());
        }
        while (!queue.empty()) {
            WaveBuffer* buffer = queue.front();
            queue.pop_front();
            MarkDone(buffer);
            buffers.push_back(buffer);
            if (!all)
                break;
        }
        if (buffers.empty())
            return;
        if (std::this_thread::get_id() == threadId) {
            // Called from a callback: deliver here rather than wait on ourselves.
            DeliverData(lock, buffers);
            return;
        }
        const uint64_t sequence = ++requestSequence;
        requests.push_back(Request{sequence, std::move(buffers)});
        wake.notify_one();
        idle.wait(lock, [&] { return doneSequence >= sequence || quit; });
    }

    // Stop (all == false: hands back the buffer being filled, only when
    // started) and Reset (all == true: every queued buffer, always).
    WaveResult Halt(bool all)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!open)
                return WaveResult::InvalidHandle;
        }
        StopStream();
        std::unique_lock<std::mutex> lock(mutex);
        if (!all && !started)
            return WaveResult::Ok;
        started = false;
        HandBack(lock, all);
        return WaveResult::Ok;
    }

    void StopStream()
    {
        accepting.store(false, std::memory_order_release);
        if (stream)
            stream->Stop();
    }

    struct Request {
        uint64_t sequence;
        std::vector<WaveBuffer*> buffers;
    };

    WaveIn* owner;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::unique_ptr<CaptureStream> stream;
    AudioFormat format;
    WaveInCallback callback = nullptr;
    void* instance = nullptr;
    std::deque<WaveBuffer*> queue;
    std::deque<Request> requests;
    uint64_t requestSequence = 0;
    uint64_t doneSequence = 0;
    bool open = false;
    bool started = false;
    bool quit = false;
    std::string lastError;
    std::thread thread;
    std::thread::id threadId;

    std::vector<int16_t> ring;
    std::atomic<size_t> ringWrite{0};
    std::atomic<size_t> ringRead{0};
    std::atomic<bool> accepting{false};
    std::atomic<uint64_t> droppedFrames{0};
};

WaveIn::WaveIn() : m_impl(std::make_unique<Impl>(this)) {}

WaveIn::~WaveIn()
{
    if (IsOpen()) {
        Reset();
        Close();
    }
}

WaveResult WaveIn::Open(int deviceId, const AudioFormat& format, WaveInCallback callback, void* instance)
{
    Impl& d = *m_impl;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.open)
            return WaveResult::InvalidHandle;
    }
    if (format.bitsPerSample != 16 || format.channels == 0 || format.sampleRate == 0)
        return WaveResult::BadFormat;
    if (deviceId < 0)
        return WaveResult::BadDeviceId;
    const int deviceCount = static_cast<int>(AudioInputDeviceNames().size());
    if (deviceId >= deviceCount)
        return WaveResult::BadDeviceId;

    d.format = format;
    // Two seconds of audio fit between the backend and the delivery thread.
    d.ring.assign(static_cast<size_t>(format.sampleRate) * format.channels * 2, 0);
    d.ringWrite = 0;
    d.ringRead = 0;
    d.droppedFrames = 0;
    std::string error;
    d.stream = OpenCaptureDevice(deviceId, format, &d, &error);
    if (!d.stream) {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.lastError = error;
        return WaveResult::DeviceFailed;
    }
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.callback = callback;
        d.instance = instance;
        d.queue.clear();
        d.requests.clear();
        d.open = true;
        d.started = false;
        d.quit = false;
    }
    d.thread = std::thread([&d] { d.DeliveryLoop(); });
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.threadId = d.thread.get_id();
    }
    if (callback)
        callback(this, WaveInMessage::Open, instance, nullptr);
    return WaveResult::Ok;
}

WaveResult WaveIn::Prepare(WaveBuffer* buffer)
{
    if (buffer == nullptr || buffer->data == nullptr || buffer->bufferLength == 0)
        return WaveResult::InvalidParameter;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (!m_impl->open)
        return WaveResult::InvalidHandle;
    buffer->flags |= kWaveBufferPrepared;
    return WaveResult::Ok;
}

WaveResult WaveIn::Unprepare(WaveBuffer* buffer)
{
    if (buffer == nullptr)
        return WaveResult::InvalidParameter;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (buffer->flags & kWaveBufferInQueue)
        return WaveResult::StillQueued;
    buffer->flags &= ~kWaveBufferPrepared;
    return WaveResult::Ok;
}

WaveResult WaveIn::AddBuffer(WaveBuffer* buffer)
{
    Impl& d = *m_impl;
    if (buffer == nullptr || buffer->data == nullptr || buffer->bufferLength == 0)
        return WaveResult::InvalidParameter;
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.open)
        return WaveResult::InvalidHandle;
    if (!(buffer->flags & kWaveBufferPrepared))
        return WaveResult::Unprepared;
    if ((buffer->flags & kWaveBufferInQueue) || buffer->bufferLength % d.format.BytesPerFrame() != 0)
        return WaveResult::InvalidParameter;
    buffer->bytesRecorded = 0;
    buffer->flags = (buffer->flags & ~kWaveBufferDone) | kWaveBufferInQueue;
    d.queue.push_back(buffer);
    return WaveResult::Ok;
}

WaveResult WaveIn::Start()
{
    Impl& d = *m_impl;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (!d.open)
            return WaveResult::InvalidHandle;
        if (d.started)
            return WaveResult::Ok;
        d.started = true;
    }
    d.accepting.store(true, std::memory_order_release);
    std::string error;
    if (!d.stream->Start(&error)) {
        d.accepting.store(false, std::memory_order_release);
        std::lock_guard<std::mutex> lock(d.mutex);
        d.started = false;
        d.lastError = error;
        return WaveResult::DeviceFailed;
    }
    return WaveResult::Ok;
}

WaveResult WaveIn::Stop()
{
    return m_impl->Halt(false);
}

WaveResult WaveIn::Reset()
{
    return m_impl->Halt(true);
}

WaveResult WaveIn::Close()
{
    Impl& d = *m_impl;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (!d.open)
            return WaveResult::InvalidHandle;
        if (!d.queue.empty())
            return WaveResult::StillQueued;
        if (std::this_thread::get_id() == d.threadId)
            return WaveResult::WrongThread;
    }
    d.StopStream();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.quit = true;
        d.started = false;
        d.wake.notify_all();
        d.idle.notify_all();
    }
    if (d.thread.joinable())
        d.thread.join();
    d.stream.reset();
    WaveInCallback callback = nullptr;
    void* instance = nullptr;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.open = false;
        callback = d.callback;
        instance = d.instance;
        d.callback = nullptr;
        d.instance = nullptr;
    }
    if (callback)
        callback(this, WaveInMessage::Close, instance, nullptr);
    return WaveResult::Ok;
}

bool WaveIn::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->open;
}

std::string WaveIn::LastError() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->lastError;
}

uint64_t WaveIn::DroppedFrames() const
{
    return m_impl->droppedFrames.load();
}

} // namespace parvane
