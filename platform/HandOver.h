#pragma once
// Marks a hand-over from one thread to another that goes through a lock
// ThreadSanitizer cannot see (Qt's event queue takes a futex inside
// libQt6Core, which is not built with ThreadSanitizer). The sending thread
// calls HandOverRelease(object) once it has written the object for the last
// time; the receiving thread calls HandOverAcquire(object) before it reads,
// runs or deletes it. Everything the sender wrote before the release is then
// ordered before what the receiver does after the acquire, and a write after
// the release, or a read without the acquire, is still reported.
//
// Outside ThreadSanitizer builds both compile to nothing.

#if defined(__SANITIZE_THREAD__)
#define PARVANE_HANDOVER_ANNOTATED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PARVANE_HANDOVER_ANNOTATED 1
#endif
#endif

#if defined(PARVANE_HANDOVER_ANNOTATED)
extern "C" {
void __tsan_acquire(void* addr);
void __tsan_release(void* addr);
}
#endif

#include <type_traits>
#include <utility>

namespace parvane {

inline void HandOverRelease([[maybe_unused]] const void* object) noexcept
{
#if defined(PARVANE_HANDOVER_ANNOTATED)
    __tsan_release(const_cast<void*>(object));
#endif
}

inline void HandOverAcquire([[maybe_unused]] const void* object) noexcept
{
#if defined(PARVANE_HANDOVER_ANNOTATED)
    __tsan_acquire(const_cast<void*>(object));
#endif
}

// A function object queued to another thread (QMetaObject::invokeMethod with
// Qt::QueuedConnection). Qt moves it into the queued call on the posting
// thread and runs it on the receiving thread; whichever of the two lets go
// of the queued call last destroys it (a reference count inside Qt decides).
// Each move releases the new copy; running acquires it and releases it again
// when the function returns, and destroying acquires it, so what the
// function captured is handed over in the open both ways.
template <typename F>
class HandedOver {
public:
    explicit HandedOver(F function) : m_function(std::move(function)) { HandOverRelease(this); }
    HandedOver(HandedOver&& other) : m_function((HandOverAcquire(&other), std::move(other.m_function)))
    {
        HandOverRelease(this);
    }
    HandedOver(const HandedOver& other) : m_function((HandOverAcquire(&other), other.m_function))
    {
        HandOverRelease(this);
    }
    HandedOver& operator=(const HandedOver&) = delete;
    HandedOver& operator=(HandedOver&&) = delete;
    ~HandedOver() { HandOverAcquire(this); }

    void operator()()
    {
        HandOverAcquire(this);
        m_function();
        HandOverRelease(this);
    }

private:
    F m_function;
};

template <typename F>
HandedOver<std::decay_t<F>> HandOver(F&& function)
{
    return HandedOver<std::decay_t<F>>(std::forward<F>(function));
}

} // namespace parvane
