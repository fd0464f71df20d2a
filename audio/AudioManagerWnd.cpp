#include "audio/AudioManagerWnd.h"

#include "platform/DebugPrint.h"
#include "platform/HandOver.h"

#include <QCoreApplication>
#include <QPaintEvent>

#include <vector>

namespace {

// Carries a copy of the block: the engine refills its capture buffer while
// the event waits, and a window thread that lags would read a torn block.
class AudioInBlockEvent final : public QEvent {
public:
    AudioInBlockEvent(uint64_t serial, const int16_t* samples, int32_t bytes)
        : QEvent(CAudioManagerWnd::AudioInBlockEventType()), serial(serial),
          samples(samples, samples + (bytes > 0 ? bytes / 2 : 0)), bytes(bytes > 0 ? bytes : 0)
    {
    }
    // Qt deletes the event on the window's thread, delivered or not.
    ~AudioInBlockEvent() override { parvane::HandOverAcquire(this); }
    uint64_t serial;
    std::vector<int16_t> samples;
    int32_t bytes;
};

QRect Edges(int left, int top, int right, int bottom)
{
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

} // namespace

QEvent::Type CAudioManagerWnd::AudioInBlockEventType()
{
    static const QEvent::Type type =
        static_cast<QEvent::Type>(QEvent::registerEventType(QEvent::User + kAudioInBlockMessage));
    return type;
}

CAudioManagerWnd::Layout CAudioManagerWnd::ComputeLayout(const QRect& rect)
{
    const int oldLeft = rect.left();
    const int oldTop = rect.top();
    const int oldRight = rect.left() + rect.width();
    const int oldBottom = rect.top() + rect.height();
    int left = oldLeft;
    int right = oldRight;
    const int top = oldTop + 6;
    const int remainder = (right - left - 6) % 100;
    left += remainder / 2;
    right -= remainder / 2;
    const int height = oldBottom - oldTop;
    const int graphHeight = (height - 50) * 2 / 3;
    const int waveBottom = oldBottom - graphHeight - 34;
    Layout layout;
    layout.waveform = Edges(left, top, right, waveBottom);
    layout.spectrum = Edges(left, waveBottom + 5, right, waveBottom + graphHeight);
    return layout;
}

CAudioManagerWnd::CAudioManagerWnd(QWidget* parent) : QWidget(parent) {}

CAudioManagerWnd::~CAudioManagerWnd()
{
    if (m_pEngine) {
        m_pEngine->SetState(CAudioEngine::kStopAll);
        m_reflect.Analysis().SetTimer(nullptr);
        m_pEngine.reset(); // clears the current engine when it is this one
    }
    // The views are members: they go after this body, with their rulers and strips.
}

bool CAudioManagerWnd::Create(const QRect& rect, QWidget* parent, int id)
{
    setParent(parent);
    setGeometry(rect);
    setProperty("controlId", id);
    m_bCreated = true;
    show();
    return true;
}

void CAudioManagerWnd::SetAnalysisOutput(parvane::AnalysisOutput* output)
{
    m_reflect.Analysis().SetOutput(output);
}

int CAudioManagerWnd::Initialise(int /*direction*/, const QRect& rect)
{
    if (!m_bCreated)
        return 0;
    // The previous engine is stopped and freed here; blocks it posted and
    // that are still queued are dropped by their engine serial.
    if (m_pEngine) {
        m_pEngine->SetState(CAudioEngine::kStopAll);
        m_reflect.Analysis().SetTimer(nullptr);
        m_pEngine.reset();
    }
    m_pEngine = std::make_unique<CAudioEngine>(this);
    SetCurrentAudioEngine(m_pEngine.get());

    const Layout layout = ComputeLayout(rect);
    if (!m_waveShow.IsCreated()) {
        m_waveShow.Create(layout.waveform, this, 1000, false);
        m_reflect.Create(layout.spectrum, this, 1000, false);
    }
    m_reflect.Analysis().SetSampleRate(m_pEngine->InputFormat().sampleRate);
    m_reflect.Analysis().SetTimer(&m_pEngine->Timer());
    m_reflect.SetScale(0, static_cast<float>(m_pEngine->InputFormat().sampleRate * 0.5 / 100));
    return 1;
}

void CAudioManagerWnd::PostAudioInBlock(uint64_t engineSerial, const int16_t* samples, int32_t bytes)
{
    // Qt's queue hands the event over under a lock ThreadSanitizer does not
    // see; the release here pairs with the acquire where it is read and
    // where it is deleted.
    auto* event = new AudioInBlockEvent(engineSerial, samples, bytes);
    parvane::HandOverRelease(event);
    QCoreApplication::postEvent(this, event);
}

bool CAudioManagerWnd::event(QEvent* event)
{
    // A block was made on the capture thread, its type included; see
    // PostAudioInBlock.
    parvane::HandOverAcquire(event);
    if (event->type() == AudioInBlockEventType()) {
        const auto* block = static_cast<AudioInBlockEvent*>(event);
        OnAudioInBlock(block->serial, block->samples.data(), block->bytes);
        return true;
    }
    return QWidget::event(event);
}

int CAudioManagerWnd::OnAudioInBlock(uint64_t engineSerial, const int16_t* samples, int32_t bytes)
{
    // A block of an engine that has been replaced belongs to an ended run.
    if (!m_pEngine || engineSerial != m_pEngine->Serial())
        return 1;
    m_reflect.AnalyseStereoBlock(samples, bytes);
    return 1;
}

void CAudioManagerWnd::paintEvent(QPaintEvent*)
{
    // The children paint themselves.
}
