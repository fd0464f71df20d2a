#include "app/HeadlessCapture.h"

namespace parvane {

HeadlessCapture::HeadlessCapture()
    : m_receiver([this](const int16_t* samples, int32_t bytes) {
          if (m_observer)
              m_observer(samples, bytes);
          m_analysis.AnalyseStereoBlock(samples, bytes);
      })
{
}

HeadlessCapture::~HeadlessCapture()
{
    StopCapture();
    if (CurrentAudioEngine() == m_engine.get())
        SetCurrentAudioEngine(nullptr);
}

void HeadlessCapture::StartCapture()
{
    // The previous engine was stopped by StopCapture; it goes now, and the
    // new one becomes the current engine (its blocks are the only ones the
    // receiver still takes).
    if (m_engine)
        m_engine->SetState(CAudioEngine::kStopAll);
    m_receiver.WaitIdle();
    m_engine.reset();
    m_engine = std::make_unique<CAudioEngine>(&m_receiver);
    // The analysis thread takes the new engine's blocks only once it is
    // current, so the analysis is set up for it first.
    m_analysis.SetSampleRate(m_engine->InputFormat().sampleRate);
    m_analysis.SetTimer(&m_engine->Timer());
    SetCurrentAudioEngine(m_engine.get());
}

void HeadlessCapture::StopCapture()
{
    if (!m_engine)
        return;
    m_engine->SetState(CAudioEngine::kStopInput);
    m_receiver.WaitIdle();
}

} // namespace parvane
