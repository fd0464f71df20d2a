#pragma once
// The live picture of the line audio in a window of its own ("Show spectrum"
// in the main dialog's context menu): a scrolling spectrogram of the last ten
// seconds, 0 to 2400 Hz (or the band chosen in the window's selector) in
// dBFS so that the noise floor shows, with the 100 to 900 Hz band Analyze
// Mode counts marked and the strongest frequency now with its level; beside
// it the run's candidates with their counts, most counted first; under it the
// strip of the stretches in which the tone detector hears the tone most
// counted so far, with their on and off times; under that the bars of the
// current block, the strongest one marked.
//
// It watches the analysis of the dialog's audio manager window, which
// outlives the engines it hosts, so it follows every Start. It only watches
// while it is shown: hidden or closed, the analysis has no observer and
// spends nothing on it, and the run never notices it.
//
//   auto* window = new CSpectrumWnd(dialog);
//   window->SetTexts(texts);                                   // from the language pack
//   window->Attach(&audioManager->SpectrumView().Analysis());  // when there is one
//   window->show();

#include "audio/SpectrumAnalysis.h"
#include "display/WaveShow.h"
#include "vexlin/ToneFrameAnalyzer.h"

#include <QImage>
#include <QWidget>

class QComboBox;

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

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

// What the window says, from the language pack; English until told.
struct SpectrumTexts {
    QString waiting = QStringLiteral("Waiting for an Analyze Mode run");
    QString strongest = QStringLiteral("Strongest now");
    QString band = QStringLiteral("100 to 900 Hz: the band Analyze Mode counts");
    QString heard = QStringLiteral("Tone heard (on and off times in ms)");
    QString noTone = QStringLiteral("No tone heard yet");
    QString unit = QStringLiteral("Unit: 10 Hz");
    QString candidates = QStringLiteral("Candidates");
    QString shown = QStringLiteral("Frequencies shown");
};

// One row of the run's candidate list: its text ("450 Hz") and its count.
struct SpectrumCandidate {
    QString frequency;
    long count = 0;
    bool operator==(const SpectrumCandidate&) const = default;
};

// The spectrogram with the heard-tone strip. Each column is the Hann-windowed
// transform of kTransformPoints samples, kHop samples after the one before;
// the picture is composed into Surface() when audio arrives and copied to
// the screen in one piece.
class CSpectrogramView : public QWidget {
public:
    static constexpr int kTransformPoints = 2048;
    static constexpr int kHop = 1024;
    static constexpr int kHistoryMs = 10000;
    static constexpr double kTopDbfs = -10.0;    // white
    static constexpr double kFloorDbfs = -110.0; // black
    static constexpr int kRulerWidth = 44;
    static constexpr int kTitleHeight = 22;
    static constexpr int kStripHeight = 24;
    static constexpr int kCandidatesWidth = 128;
    // The bands the window offers; the history holds the widest.
    static constexpr int kShownChoicesHz[] = {1000, 2400, 4000};
    static constexpr double kHighestKeptHz = 4000.0;

    explicit CSpectrogramView(QWidget* parent = nullptr);

    // The left channel of one block and the frequency of its strongest bin.
    void Feed(const parvane::SpectrumBlock& block);
    void SetTexts(const SpectrumTexts& texts);
    // The top of the band shown (up to kHighestKeptHz); the history is kept,
    // so a change shows the last ten seconds at once.
    void SetShownHz(double hertz);
    double ShownHz() const { return m_shownHz; }
    // The run's candidates, most counted first (as many as fit are drawn),
    // drawn with the next block fed.
    void SetCandidates(std::vector<SpectrumCandidate> candidates);
    const std::vector<SpectrumCandidate>& Candidates() const { return m_candidates; }

    const QImage& Surface() const { return m_surface; }
    // Where the spectrogram and the strip lie on the surface.
    QRect SpectrogramArea() const;
    QRect StripArea() const;
    QRect CandidatesArea() const;
    // The row of a frequency and the column of a time of the stream (ms
    // since the first sample fed), as drawn now.
    int YOf(double hertz) const;
    int XOf(double streamMs) const;
    double NowMs() const;
    // The tone the strip is about (Hz, 0: none yet); the strongest frequency
    // now and its level.
    int ToneHz() const { return m_toneHz; }
    double StrongestHz() const { return m_strongestHz; }
    double StrongestDbfs() const { return m_strongestDbfs; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void AddColumn(const double* samples);
    void FollowTone(double peakHz, double peakDbfs);
    void Compose();
    void DrawCandidates(QPainter& painter);
    int ShownRows() const;

    SpectrumTexts m_texts;
    std::vector<SpectrumCandidate> m_candidates;
    double m_shownHz = CLiveSpectrumView::kShownHz;
    uint32_t m_sampleRate = 0;
    int64_t m_samplesFed = 0;
    std::vector<double> m_pending;   // samples not yet in a column
    std::vector<double> m_window, m_input, m_real, m_imag;
    QImage m_history;                // one pixel per column and bin up to kHighestKeptHz, newest on the right
    int m_columns = 0;               // columns in m_history so far
    std::vector<float> m_lastColumn; // dBFS per bin
    double m_strongestHz = 0.0;
    double m_strongestDbfs = -200.0;
    // The tone of the strip: the block peak in the counted band heard most.
    std::map<int, int> m_peakCounts; // rounded Hz -> blocks
    int m_toneHz = 0;
    std::unique_ptr<parvane::vexlin::ToneFrameAnalyzer> m_detector;
    int64_t m_detectorStartMs = 0;   // stream ms of the detector's first frame
    std::vector<parvane::vexlin::ToneFrameAnalyzer::Frame> m_frames;
    std::vector<int16_t> m_samples16;
    struct Stretch {
        int64_t beginMs, endMs;
    };
    std::deque<Stretch> m_stretches;  // stream ms
    int64_t m_lastToneMs = -1000000;
    QImage m_surface;
};

class CSpectrumWnd : public QWidget {
public:
    explicit CSpectrumWnd(QWidget* parent = nullptr);
    ~CSpectrumWnd() override;

    // The analysis to watch (null: none yet, e.g. before the first Analyze
    // Start). Watched only while the window is shown.
    void Attach(parvane::SpectrumAnalysis* analysis);
    bool IsWatching() const;
    // The texts of the window and its views (the dialog's language pack).
    void SetTexts(const SpectrumTexts& texts);

    CLiveSpectrumView& SpectrumView() { return m_spectrum; }
    QComboBox& BandSelector() { return *m_band; }
    CSpectrogramView& Spectrogram() { return m_spectrogram; }
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
    void ReadCandidates();

    SpectrumTexts m_texts;
    CSpectrogramView m_spectrogram;
    CLiveSpectrumView m_spectrum;
    QComboBox* m_band = nullptr;
    parvane::SpectrumAnalysis* m_analysis = nullptr;
    bool m_watching = false;
    int m_blocksShown = 0;
};
