#pragma once
// The completion notice of CWaveBox delivered as a Qt event: the player's
// thread posts a WaveNotifyEvent to a QObject, which handles it in event()
// on its own thread (the dialog's "MM_MCINOTIFY").

#include "display/WaveBox.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

class WaveNotifyEvent final : public QEvent {
public:
    WaveNotifyEvent(int notifyFlag, uint32_t fileDeviceId)
        : QEvent(EventType()), m_notifyFlag(notifyFlag), m_fileDeviceId(fileDeviceId)
    {
    }
    static QEvent::Type EventType()
    {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    int NotifyFlag() const { return m_notifyFlag; }
    uint32_t FileDeviceId() const { return m_fileDeviceId; }

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
        QCoreApplication::postEvent(m_target, new WaveNotifyEvent(notifyFlag, fileDeviceId));
    }

private:
    QObject* m_target;
};
