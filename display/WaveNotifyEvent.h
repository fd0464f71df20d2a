#pragma once
// The completion notice of CWaveBox delivered as a Qt event: the player's
// thread posts a WaveNotifyEvent to a QObject, which handles it in event()
// on its own thread (the dialog's "MM_MCINOTIFY").

#include "display/WaveBox.h"
#include "platform/HandOver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

class WaveNotifyEvent final : public QEvent {
public:
    WaveNotifyEvent(int notifyFlag, uint32_t fileDeviceId)
        : QEvent(EventType()), m_notifyFlag(notifyFlag), m_fileDeviceId(fileDeviceId)
    {
    }
    // Made on the player's thread, read and deleted on the target's: see
    // PostingWaveNotify.
    ~WaveNotifyEvent() override { parvane::HandOverAcquire(this); }
    static QEvent::Type EventType()
    {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    int NotifyFlag() const
    {
        parvane::HandOverAcquire(this);
        return m_notifyFlag;
    }
    uint32_t FileDeviceId() const
    {
        parvane::HandOverAcquire(this);
        return m_fileDeviceId;
    }

private:
    int m_notifyFlag;
    uint32_t m_fileDeviceId;
};

// Posts the notice to `target`, which must outlive every play it is given to
// (close the CWaveBox before deleting the target).
class PostingWaveNotify final : public WaveBoxNotify {
public:
    explicit PostingWaveNotify(QObject* target) : m_target(target) {}
    void OnWaveNotify(int notifyFlag, uint32_t fileDeviceId) override
    {
        auto* event = new WaveNotifyEvent(notifyFlag, fileDeviceId);
        parvane::HandOverRelease(event);
        QCoreApplication::postEvent(m_target, event);
    }

private:
    QObject* m_target;
};
