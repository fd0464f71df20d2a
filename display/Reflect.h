#pragma once
// The spectrum view: a waveform view whose trace is the bar graph of each
// block's power spectrum. The analysis itself (transform, peak, tracking and
// the lists it keeps) is the toolkit-free SpectrumAnalysis it owns; this
// class only draws what the analysis hands it.

#include "audio/SpectrumAnalysis.h"
#include "display/WaveShow.h"

class CReflect : public CWaveShow, public parvane::SpectrumCanvas {
public:
    explicit CReflect(QWidget* parent = nullptr);

    // Analyses one block of 16-bit stereo frames (see SpectrumAnalysis).
    void AnalyseStereoBlock(const int16_t* samples, int bytes) { m_analysis.AnalyseStereoBlock(samples, bytes); }

    parvane::SpectrumAnalysis& Analysis() { return m_analysis; }
    const parvane::SpectrumAnalysis& Analysis() const { return m_analysis; }

    // ---- SpectrumCanvas ---------------------------------------------------
    int DrawingHeight() const override { return m_rcDraw.height(); }
    void DrawSpectrumBars(const std::vector<parvane::SpectrumBar>& bars) override;
    void SetCaption(const std::string& text) override;

protected:
    void ScaleChanged() override;

private:
    parvane::SpectrumAnalysis m_analysis;
};
