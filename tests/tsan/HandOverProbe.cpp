// Hand-overs from a thread of ours to the main thread through Qt's event
// queue, each done right or with one fault planted on purpose. Run under
// ThreadSanitizer with tools/tsan.supp: a right hand-over must stay silent
// (the annotations make it visible), a faulty one must be reported (the
// suppressions hide only what happens inside Qt).
//
//   event-clean, queued-clean    a posted event, a queued function, annotated
//   event-unannotated,           the same without the annotations: the
//   queued-unannotated           queue's own order is invisible
//   event-race, queued-race      a write after the hand-over, read by the receiver
//   freed-race                   a read after the hand-over of characters that
//                                the receiver has Qt free

#include "platform/HandOver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <string>
#include <thread>

namespace {

// Each hand-over is made many times in a row, so that the posting thread
// queues while the main thread is already taking events from the queue, the
// queued calls end on either thread, and a planted fault meets its reader in
// either order at least once.
constexpr int kBurst = 200;

int g_shared = 0; // written by the posting thread, read by the main thread

class ProbeEvent final : public QEvent {
public:
    explicit ProbeEvent(int value)
        : QEvent(EventType()), value(value), text(QString::fromUtf8("hand-over %1").arg(value))
    {
    }
    ~ProbeEvent() override { parvane::HandOverAcquire(this); }
    static QEvent::Type EventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    int value;
    QString text;
};

class Receiver final : public QObject {
public:
    int expected = 1;
    int received = 0;
    int seen = 0;

protected:
    bool event(QEvent* event) override
    {
        // Before the type is read: it was written on the posting thread.
        parvane::HandOverAcquire(event);
        if (event->type() != ProbeEvent::EventType())
            return QObject::event(event);
        auto* probe = static_cast<ProbeEvent*>(event);
        // Replaces the text inside libQt6Core (the copy assignment is not
        // inline), which frees its characters there.
        const QString replacement(100, QLatin1Char('-'));
        probe->text = replacement;
        seen += probe->value + g_shared + static_cast<int>(probe->text.size());
        if (++received == expected)
            QCoreApplication::quit();
        return true;
    }
};

// The function queued to the receiver, with a capture of its own.
auto QueuedCall(Receiver& receiver)
{
    return [&receiver, text = QString::fromUtf8("queued")] {
        receiver.seen += g_shared + static_cast<int>(text.size());
        if (++receiver.received == receiver.expected)
            QCoreApplication::quit();
    };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool posted = mode.rfind("event-", 0) == 0 || mode == "freed-race";
    const bool queued = mode.rfind("queued-", 0) == 0;
    if (!posted && !queued) {
        std::fprintf(stderr, "unknown mode \"%s\"\n", mode.c_str());
        return 2;
    }
    const bool annotated = mode.find("unannotated") == std::string::npos;
    const bool race = mode.find("-race") != std::string::npos;
    Receiver receiver;
    receiver.expected = kBurst;
    int afterwards = 0; // what the poster read after its hand-overs

    std::thread poster([&] {
        // Unannotated, only what the queue carries is handed over.
        if (!race && annotated)
            g_shared = 1;
        for (int i = 0; i < receiver.expected; ++i) {
            if (posted) {
                auto* event = new ProbeEvent(7);
                const QChar* characters = event->text.constData();
                if (annotated)
                    parvane::HandOverRelease(event);
                QCoreApplication::postEvent(&receiver, event);
                if (mode == "freed-race")
                    afterwards += characters[0].unicode(); // the receiver may have freed them
            } else if (annotated) {
                QMetaObject::invokeMethod(&receiver, parvane::HandOver(QueuedCall(receiver)), Qt::QueuedConnection);
            } else {
                QMetaObject::invokeMethod(&receiver, QueuedCall(receiver), Qt::QueuedConnection);
            }
            if (mode == "event-race" || mode == "queued-race")
                g_shared = 1; // after the hand-over: races with the receiver's read
        }
    });

    // A hand-over that never arrives fails the run instead of hanging it.
    QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(2); });
    const int status = app.exec();
    poster.join();
    if (status != 0 || receiver.received != receiver.expected) {
        std::fprintf(stderr, "%d of %d hand-overs arrived\n", receiver.received, receiver.expected);
        return 1;
    }
    std::printf("received %d, %d afterwards\n", receiver.seen, afterwards);
    return 0;
}
