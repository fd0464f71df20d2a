#pragma once
// The spectrum analysis of captured blocks, free of any toolkit: transform,
// power, peak, the dominant frequency and its tracking into the candidate and
// count lists, the change log and the label (written through AnalysisOutput),
// and the geometry of the spectrum bars (drawn through SpectrumCanvas).
//
// The spectrum view CReflect (display/Reflect.h) owns one and feeds it every
// block on the GUI thread; a headless front end owns one directly and feeds
// it from its own thread. One instance is used by one thread at a time.

#include "audio/AnalysisOutput.h"
#include "audio/PerformanceTimer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace parvane {

// One bar of the spectrum graph: a vertical line at x from `bottom` (the
// drawing height) up to `top`.
struct SpectrumBar {
    int x = 0;
    int top = 0;
    int bottom = 0;
    bool operator==(const SpectrumBar&) const = default;
};

// The surface the bars are drawn on: the spectrum view.
class SpectrumCanvas {
public:
    virtual ~SpectrumCanvas() = default;
    // Height of the drawing rectangle in pixels.
    virtual int DrawingHeight() const = 0;
    // Copies the background grid over the drawing surface, draws the bars
    // with the trace pen and schedules a repaint.
    virtual void DrawSpectrumBars(const std::vector<SpectrumBar>& bars) = 0;
    // The left text of the caption strip.
    virtual void SetCaption(const std::string& text) = 0;
};

// What one analysed block looked like, for a window that shows it live.
struct SpectrumBlock {
    const double* power = nullptr;   // bins 0 .. binCount-1
    int binCount = 0;
    int peak = 0;                    // the strongest bin above DC
    double peakFrequency = 0.0;      // Hz
    const double* samples = nullptr; // the left channel, `frames` values
    int frames = 0;
    uint32_t sampleRate = 0;
};

class SpectrumAnalysis {
public:
    // Largest block the analysis accepts, in frames.
    static constexpr int kMaxFrames = 32768;
    // The candidate list and the change log take no more rows than this.
    static constexpr int kMaxListRows = 32768;
    // Frequencies in this range (inclusive) are counted.
    static constexpr double kLowestCounted = 100.0;
    static constexpr double kHighestCounted = 900.0;

    SpectrumAnalysis();

    // Where results go; null: nothing is written (as while not analysing).
    void SetOutput(AnalysisOutput* output) { m_output = output; }
    AnalysisOutput* Output() const { return m_output; }
    // Where bars are drawn; null: no bars (headless).
    void SetCanvas(SpectrumCanvas* canvas) { m_canvas = canvas; }
    // The input sample rate in Hz (the engine's; 48000 unless told).
    void SetSampleRate(uint32_t rate) { m_sampleRate = rate; }
    uint32_t SampleRate() const { return m_sampleRate; }
    // The timer that measures each transform (the engine's); null: none.
    void SetTimer(CPerformanceTimer* timer) { m_timer = timer; }
    // Bar geometry, from the view's scale: (frames per block * 0.5) / 100
    // bins and (drawing width) / 100 pixels per bar.
    void SetScale(float binsPerBar, float pixelsPerBar);
    float BinsPerBar() const { return m_fBinsPerBar; }
    float PixelsPerBar() const { return m_fPixelsPerBar; }
    // Sees every analysed block (whether or not the run is analysing yet)
    // on the analysing thread, after its peak is found; empty: none, and
    // nothing is spent on it.
    void SetBlockObserver(std::function<void(const SpectrumBlock&)> observer) { m_observer = std::move(observer); }
    bool HasBlockObserver() const { return static_cast<bool>(m_observer); }
    // The millisecond tick (GetTickCount32 unless a test injects a clock).
    void SetTickSource(std::function<uint32_t()> tick);

    // Analyses one block of 16-bit stereo frames, `bytes` long; only the left
    // channel is used. Blocks of more than kMaxFrames frames are refused
    // with a trace line; of a block whose frame count is not a power of two
    // the leading power of two frames are analysed.
    void AnalyseStereoBlock(const int16_t* samples, int bytes);

    // Draws the bars and updates the lists for a power spectrum of
    // `binCount` bins whose strongest bin is `peak`; `startTick` is the tick
    // at which the block's analysis began.
    void TrackDominantFrequency(double* power, int binCount, int peak, uint32_t startTick);

    double LastFrequency() const { return m_dLastFrequency; }
    uint32_t LastChangeTick() const { return m_dwLastChangeTick; }
    // Transform output of the last block; the real part holds the power of
    // bins 0..N/2-1 after analysis.
    const double* RealSpectrum() const { return m_real.data(); }
    const double* ImaginarySpectrum() const { return m_imag.data(); }

    // ---- The rules, usable on their own ------------------------------------
    // The strongest bin above DC: ties go to the lowest, all-zero gives 0.
    static int FindPeak(const double* power, int binCount);
    // rate * 0.5 * peak / binCount; 0 for an empty spectrum.
    static double BinFrequency(uint32_t rate, int peak, int binCount);
    // The bars of the spectrum graph (see the .cpp for the rule).
    static std::vector<SpectrumBar> ComputeBars(const double* power, int binCount, int peak, float binsPerBar,
                                                float pixelsPerBar, int height);
    // "%.0f Hz"
    static std::string FrequencyKey(double frequency);

private:
    std::vector<double> m_input;
    std::vector<double> m_real;
    std::vector<double> m_imag;
    double m_dLastFrequency = 0.0;
    uint32_t m_dwLastChangeTick = 0;
    float m_fBinsPerBar = 0.0f;
    float m_fPixelsPerBar = 0.0f;
    uint32_t m_sampleRate = 48000;
    AnalysisOutput* m_output = nullptr;
    SpectrumCanvas* m_canvas = nullptr;
    CPerformanceTimer* m_timer = nullptr;
    std::function<uint32_t()> m_tick;
    std::function<void(const SpectrumBlock&)> m_observer;
};

} // namespace parvane
