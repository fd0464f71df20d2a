#pragma once
// The child window that hosts the audio engine in the program. The main
// dialog creates it once inside its (hidden) frame control and calls
// Initialise at every Start; each Initialise makes a new CAudioEngine, which
// starts capturing at once. Captured blocks reach the window as posted
// events ("WM_AUDIO_IN_BLOCK") and are analysed by the spectrum view on the
// GUI thread; results go to the AnalysisOutput the dialog binds with
// SetAnalysisOutput.
//
//   m_pAudioManager = new CAudioManagerWnd;
//   m_pAudioManager->Create(frameRect, frame, 101);
//   m_pAudioManager->SetAnalysisOutput(this);      // the dialog implements AnalysisOutput
//   m_pAudioManager->Initialise(6, frameRect);     // at every Analyze Start
//   ...
//   CurrentAudioEngine()->SetState(CAudioEngine::kStopInput);   // Stop

#include "audio/AudioEngine.h"
#include "display/Reflect.h"
#include "display/WaveShow.h"

#include <QEvent>
#include <QRect>
#include <QWidget>

#include <memory>

class CAudioManagerWnd : public QWidget, public AudioBlockReceiver {
public:
    // The block message: WM_USER + 231.
    static constexpr int kAudioInBlockMessage = 0x0400 + 231;
    static QEvent::Type AudioInBlockEventType();

    struct Layout {
        QRect waveform; // left, top, right, bottom as QRect (right/bottom excluded)
        QRect spectrum;
    };
    // The arithmetic of Initialise: the frame rectangle is narrowed so that
    // its usable width is a multiple of 100 plus 6, the waveform view takes
    // the top and the spectrum view the space below it.
    static Layout ComputeLayout(const QRect& rect);

    explicit CAudioManagerWnd(QWidget* parent = nullptr);
    // Stops capture (SetState(0)), frees the engine and clears the current
    // engine, then the views.
    ~CAudioManagerWnd() override;

    // Places the window at `rect` in `parent` and shows it.
    bool Create(const QRect& rect, QWidget* parent, int id);
    bool IsCreated() const { return m_bCreated; }

    // Where the analysis writes (the main dialog); may be changed any time on
    // the GUI thread.
    void SetAnalysisOutput(parvane::AnalysisOutput* output);

    // Stops and frees the previous engine, makes a new one that captures at
    // once, lays out the views inside `rect` (created on the first call) and
    // sets the spectrum scale. 1, or 0 when the window was not created.
    int Initialise(int direction, const QRect& rect);

    CAudioEngine* Engine() const { return m_pEngine.get(); }
    CWaveShow& WaveformView() { return m_waveShow; }
    CReflect& SpectrumView() { return m_reflect; }

    // AudioBlockReceiver: posts a copy of the block to this window (any thread).
    void PostAudioInBlock(uint64_t engineSerial, const int16_t* samples, int32_t bytes) override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Analyses a block of the current engine; 1.
    int OnAudioInBlock(uint64_t engineSerial, const int16_t* samples, int32_t bytes);

    CWaveShow m_waveShow;
    CReflect m_reflect;
    std::unique_ptr<CAudioEngine> m_pEngine;
    bool m_bCreated = false;
};
