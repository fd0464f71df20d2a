#pragma once
// Where the spectrum analysis writes its results.
//
// The analysis (SpectrumAnalysis, audio/SpectrumAnalysis.h) keeps four
// things of the main window up to date while a run is being analysed:
//
//   FrequencyList()  candidate list (the dialog's list 1022): one row per
//                    distinct frequency "%.0f Hz" between 100 and 900 Hz, in
//                    order of first sighting; item data = its count.
//   CountList()      count list (1024), row-aligned with the candidate list:
//                    the count of that row as "%ld".
//   ChangeLog()      change log (1023, hidden): one line per change of the
//                    dominant frequency, "(%.0f Hz) happened,Last Freq(%.0f Hz)
//                    keep %ld ms".
//   SetFrequencyText current-frequency label (1018): "%s: %.0f Hz" with
//                    FrequencyLabel().
//
// and reads two things: IsAnalysing() (the dialog's m_bAnalysing: nothing at
// all happens for a block while it is false) and FrequencyLabel() (the saved
// caption of control 1018, m_strFreqLabel).
//
// The lists are driven with exactly the list-box operations below, so a
// binding to a list widget is a line per operation (AudioQtBindings.h has one
// for QListWidget); MemoryAnalysisOutput keeps everything in memory for
// headless front ends and tests.
//
// Threads: every call comes from the thread that runs the analysis. In the
// program that is the GUI thread (the audio manager window hands each block
// over to it); a headless front end runs the analysis on a thread of its own
// (BlockQueueReceiver) and must not touch the output from elsewhere while a
// run is going, or must lock around it.
//
// Clearing the lists at Start is the owner's job, not the analysis's.

#include <atomic>
#include <string>
#include <vector>

namespace parvane {

// The list-box operations the analysis uses. Rows are 0-based; -1 means
// "none" wherever a row is returned.
class AnalysisList {
public:
    virtual ~AnalysisList() = default;
    virtual int GetCount() const = 0;
    // Appends a row; returns its index.
    virtual int AddString(const std::string& text) = 0;
    // Inserts a row before `index` (-1: at the end); returns its index.
    virtual int InsertString(int index, const std::string& text) = 0;
    // Removes a row; returns the number of rows left.
    virtual int DeleteString(int index) = 0;
    // The first row whose whole text equals `text` (case-sensitive), or -1.
    virtual int FindStringExact(const std::string& text) const = 0;
    virtual std::string GetText(int index) const = 0;
    virtual long GetItemData(int index) const = 0;
    virtual void SetItemData(int index, long data) = 0;
    // Scrolls so that `index` is the first visible row.
    virtual void SetTopIndex(int index) = 0;
    virtual void ResetContent() = 0;
};

class AnalysisOutput {
public:
    virtual ~AnalysisOutput() = default;
    virtual bool IsAnalysing() const = 0;
    virtual std::string FrequencyLabel() const = 0;
    virtual AnalysisList& FrequencyList() = 0;
    virtual AnalysisList& CountList() = 0;
    virtual AnalysisList& ChangeLog() = 0;
    virtual void SetFrequencyText(const std::string& text) = 0;
};

// ---- In-memory implementations ---------------------------------------------

class MemoryAnalysisList final : public AnalysisList {
public:
    struct Row {
        std::string text;
        long data = 0;
    };

    int GetCount() const override { return static_cast<int>(m_rows.size()); }
    int AddString(const std::string& text) override;
    int InsertString(int index, const std::string& text) override;
    int DeleteString(int index) override;
    int FindStringExact(const std::string& text) const override;
    std::string GetText(int index) const override;
    long GetItemData(int index) const override;
    void SetItemData(int index, long data) override;
    void SetTopIndex(int index) override { m_topIndex = index; }
    void ResetContent() override;

    const std::vector<Row>& Rows() const { return m_rows; }
    std::vector<std::string> Texts() const;
    int TopIndex() const { return m_topIndex; }

private:
    bool Valid(int index) const { return index >= 0 && index < GetCount(); }
    std::vector<Row> m_rows;
    int m_topIndex = 0;
};

class MemoryAnalysisOutput final : public AnalysisOutput {
public:
    // May be flipped from another thread than the one analysing (a run
    // control thread answering the call while blocks are analysed).
    std::atomic<bool> analysing{true};
    std::string frequencyLabel = "Frequency";
    std::string frequencyText;
    MemoryAnalysisList frequencies;
    MemoryAnalysisList counts;
    MemoryAnalysisList changes;

    bool IsAnalysing() const override { return analysing; }
    std::string FrequencyLabel() const override { return frequencyLabel; }
    AnalysisList& FrequencyList() override { return frequencies; }
    AnalysisList& CountList() override { return counts; }
    AnalysisList& ChangeLog() override { return changes; }
    void SetFrequencyText(const std::string& text) override { frequencyText = text; }

    // Empties the three lists, as the main dialog does at Start.
    void Clear();
};

} // namespace parvane
