#pragma once
// The audio manager's views in a window of their own ("Show spectrum" in the
// main dialog's context menu): the live spectrum bars of every block the
// analysis takes, with the strongest bar marked with its frequency in Hz and
// the 100 to 900 Hz band that Analyze Mode counts shaded, the waveform of
// the block, and under each its ruler and caption strip.
//
// It watches the analysis of the dialog's audio manager window, which
// outlives the engines it hosts, so it follows every Start. It only watches
// while it is shown: hidden or closed, the analysis has no observer and
// spends nothing on it, and the run never notices it.
//
//   auto* window = new CSpectrumWnd(dialog);
//   window->Attach(&audioManager->SpectrumView().Analysis());  // when there is one
//   window->show();

#include "audio/SpectrumAnalysis.h"
#include "display/WaveShow.h"

#include <QWidget>

#include <string>

// The spectrum view of the window: bars over 0 to kShownHz, the counted band
// shaded and the strongest bar marked (drawn in the marker colour and
// labelled with its frequency).
class CLiveSpectrumView : public CWaveShow {
public:
    static constexpr double kShownHz = 2400.0;

    explicit CLiveSpectrumView(QWidget* parent = nullptr);

    // Draws one block; returns the frequency marked (0 when none).
    double Show(const parvane::SpectrumBlock& block);
    double MarkedFrequency() const { return m_markedFrequency; }
    // x of the marker on the drawing surface; -1 when none.
    int MarkedX() const { return m_markedX; }
    // The frequency at x on the drawing surface.
    double FrequencyAt(int x) const;

    static QColor BandColour() { return QColor(128, 0, 128); }
    static QColor MarkerColour() { return QColor(255, 230, 0); }

private:
    double m_markedFrequency = 0.0;
    int m_markedX = -1;
};

// The waveform view of the window: the block's left channel.
class CLiveWaveView : public CWaveShow {
public:
    explicit CLiveWaveView(QWidget* parent = nullptr) : CWaveShow(parent) {}
    void Show(const parvane::SpectrumBlock& block);
};

class CSpectrumWnd : public QWidget {
public:
    explicit CSpectrumWnd(QWidget* parent = nullptr);
    ~CSpectrumWnd() override;

    // The analysis to watch (null: none yet, e.g. before the first Analyze
    // Start). Watched only while the window is shown.
    void Attach(parvane::SpectrumAnalysis* analysis);
    bool IsWatching() const;

    CLiveSpectrumView& SpectrumView() { return m_spectrum; }
    CLiveWaveView& WaveformView() { return m_waveform; }
    // Blocks shown since the window was made.
    int BlocksShown() const { return m_blocksShown; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Watch(bool on);
    void OnBlock(const parvane::SpectrumBlock& block);
    void Relayout();

    CLiveWaveView m_waveform;
    CLiveSpectrumView m_spectrum;
    parvane::SpectrumAnalysis* m_analysis = nullptr;
    bool m_watching = false;
    int m_blocksShown = 0;
    uint32_t m_scaledFor[2] = {0, 0}; // sample rate and frames of the scale set
};
