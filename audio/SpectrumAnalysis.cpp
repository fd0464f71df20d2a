#include "audio/SpectrumAnalysis.h"

#include "audio/Fft.h"
#include "platform/DebugPrint.h"
#include "platform/Tick.h"

#include <algorithm>
#include <bit>
#include <cstdio>

namespace parvane {

SpectrumAnalysis::SpectrumAnalysis()
    : m_input(kMaxFrames, 0.0), m_real(kMaxFrames, 0.0), m_imag(kMaxFrames, 0.0), m_tick(&GetTickCount32)
{
}

void SpectrumAnalysis::SetScale(float binsPerBar, float pixelsPerBar)
{
    m_fBinsPerBar = binsPerBar;
    m_fPixelsPerBar = pixelsPerBar;
}

void SpectrumAnalysis::SetTickSource(std::function<uint32_t()> tick)
{
    m_tick = tick ? std::move(tick) : std::function<uint32_t()>(&GetTickCount32);
}

int SpectrumAnalysis::FindPeak(const double* power, int binCount)
{
    int peak = 0;
    double value = 0.0;
    for (int k = 0; k < binCount; ++k) {
        if (k != 0 && power[k] > value) {
            peak = k;
            value = power[k];
        }
    }
    return peak;
}

double SpectrumAnalysis::BinFrequency(uint32_t rate, int peak, int binCount)
{
    if (binCount <= 0)
        return 0.0;
    return static_cast<double>(rate) * 0.5 * peak / binCount;
}

std::string SpectrumAnalysis::FrequencyKey(double frequency)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.0f Hz", frequency);
    return text;
}

void SpectrumAnalysis::AnalyseStereoBlock(const int16_t* samples, int bytes)
{
    const uint32_t startTick = m_tick();
    if (samples == nullptr || bytes < 8)
        return; // not even two frames: nothing to transform
    // The transform takes a power of two frames; of any other block the
    // leading power of two is analysed, so the power spectrum is always the
    // one just transformed (never last block's, squared again).
    const int frames = static_cast<int>(std::bit_floor(static_cast<unsigned>(bytes / 4)));
    if (frames > kMaxFrames) {
        // The arrays hold kMaxFrames values; a longer block would overrun them.
        DebugPrint("AnalyseStereoBlock: block of %d frames is longer than %d, not analysed", frames, kMaxFrames);
        return;
    }
    for (int i = 0; i < frames; ++i)
        m_input[i] = static_cast<double>(samples[2 * i]);

    if (m_timer)
        m_timer->Start();
    FFT(static_cast<unsigned>(frames), false, m_input.data(), nullptr, m_real.data(), m_imag.data());
    if (m_timer)
        m_timer->Stop();

    const int binCount = frames / 2;
    for (int k = 0; k < binCount; ++k)
        m_real[k] = m_real[k] * m_real[k] + m_imag[k] * m_imag[k];

    const int peak = FindPeak(m_real.data(), binCount);
    if (m_observer)
        m_observer({m_real.data(), binCount, peak, BinFrequency(m_sampleRate, peak, binCount), m_input.data(), frames,
                    m_sampleRate});
    TrackDominantFrequency(m_real.data(), binCount, peak, startTick);
}

// Bar 0 at x = 0 covers the bins up to half a bar (DC only when it is weaker
// than the peak); bars 1 to 98 at x = trunc(k * pixelsPerBar) each take the
// next trunc(binsPerBar) bins, plus one more while trunc((k + 1.5) *
// binsPerBar) is still beyond the current bin; a last bar at
// x = trunc(100 * pixelsPerBar) takes what remains (there is no bar 99). A
// bar of value v reaches from the bottom up to trunc(h * (1 - v / P) + 2),
// P being the peak's power.
std::vector<SpectrumBar> SpectrumAnalysis::ComputeBars(const double* power, int binCount, int peak,
                                                       float binsPerBar, float pixelsPerBar, int height)
{
    std::vector<SpectrumBar> bars;
    if (binCount <= 0 || peak < 0 || peak >= binCount)
        return bars;
    const double peakPower = power[peak];
    auto bar = [&](int x, double value) {
        // A silent block has no peak power; its bars have no height.
        const double ratio = peakPower > 0.0 ? value / peakPower : 0.0;
        bars.push_back(SpectrumBar{x, static_cast<int>(height * (1.0 - ratio) + 2), height});
    };
    auto largest = [&](int from, int to, double value) {
        for (int i = std::max(from, 0); i < std::min(to, binCount); ++i)
            value = std::max(value, power[i]);
        return value;
    };

    const int wholeBins = static_cast<int>(binsPerBar);
    const int firstHalf = wholeBins / 2;
    bar(0, largest(1, firstHalf + 1, power[0] < peakPower ? power[0] : 0.0));

    int bin = firstHalf + 1;
    for (int k = 1; k <= 98; ++k) {
        double value = largest(bin, bin + wholeBins, 0.0);
        bin += wholeBins;
        if (static_cast<int>((k + 1.5) * binsPerBar) > bin) {
            value = largest(bin, bin + 1, value);
            ++bin;
        }
        bar(static_cast<int>(k * pixelsPerBar), value);
    }
    bar(static_cast<int>(100 * pixelsPerBar), largest(bin, binCount, 0.0));
    return bars;
}

void SpectrumAnalysis::TrackDominantFrequency(double* power, int binCount, int peak, uint32_t startTick)
{
    if (m_output == nullptr || !m_output->IsAnalysing())
        return;

    if (m_canvas != nullptr)
        m_canvas->DrawSpectrumBars(
            ComputeBars(power, binCount, peak, m_fBinsPerBar, m_fPixelsPerBar, m_canvas->DrawingHeight()));

    const double frequency = BinFrequency(m_sampleRate, peak, binCount);
    char text[256];

    if (frequency != m_dLastFrequency) {
        const long kept = static_cast<long>(static_cast<uint32_t>(m_tick() - m_dwLastChangeTick));
        std::snprintf(text, sizeof text, "(%.0f Hz) happened,Last Freq(%.0f Hz) keep %ld ms", frequency,
                      m_dLastFrequency, kept);
        DebugOutput(text);
        // Bounded as the candidate list is: past kMaxListRows lines the log
        // keeps what it has, and each change still goes to the trace.
        AnalysisList& changes = m_output->ChangeLog();
        if (changes.GetCount() < kMaxListRows)
            changes.SetTopIndex(changes.AddString(text));
    }

    std::snprintf(text, sizeof text, "%s: %.0f Hz", m_output->FrequencyLabel().c_str(), frequency);
    if (m_canvas != nullptr)
        m_canvas->SetCaption(text);
    m_output->SetFrequencyText(text);

    AnalysisList& frequencies = m_output->FrequencyList();
    if (frequencies.GetCount() >= kMaxListRows) {
        DebugOutput("List is full");
    } else if (frequency >= kLowestCounted && frequency <= kHighestCounted) {
        const std::string key = FrequencyKey(frequency);
        AnalysisList& counts = m_output->CountList();
        const int row = frequencies.FindStringExact(key);
        if (row < 0) {
            const int added = frequencies.AddString(key);
            frequencies.SetTopIndex(added);
            frequencies.SetItemData(added, 1);
            counts.AddString("1");
        } else {
            const long count = frequencies.GetItemData(row) + 1;
            frequencies.SetItemData(row, count);
            std::snprintf(text, sizeof text, "Freq(%.0f Hz) Counts = %ld", frequency, count);
            DebugOutput(text);
            std::snprintf(text, sizeof text, "%ld", count);
            counts.DeleteString(row);
            counts.InsertString(row, text);
        }
    }

    if (m_dwLastChangeTick == 0)
        m_dwLastChangeTick = startTick;
    if (frequency != m_dLastFrequency)
        m_dwLastChangeTick = startTick;
    m_dLastFrequency = frequency;
}

} // namespace parvane
