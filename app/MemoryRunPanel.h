#pragma once
// A RunPanel without a window: the result lists in memory, the figures set
// by the caller, the status line and the messages kept (and handed to
// optional callbacks). The headless front end and the tests drive the run
// control through it.

#include "app/RunControl.h"
#include "audio/AnalysisOutput.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace parvane {

class MemoryRunPanel final : public RunPanel {
public:
    // Called on the thread that sets the status (the worker's) or shows the
    // message (the control thread).
    std::function<void(const std::string& text)> onStatus;
    std::function<void(const std::string& text)> onMessage;

    // The figures, as typed into the dialog's edit boxes ("" = empty).
    void SetInput(RunInput input, const std::string& text);
    void SetAutoStop(bool checked) { m_autoStop = checked; }
    void SetAnalyzeBufferIndex(int index) { m_bufferIndex = index; }

    std::string Status() const;
    std::vector<std::string> Messages() const;
    bool StartEnabled() const { return m_startEnabled; }
    bool StopEnabled() const { return m_stopEnabled; }
    std::string FrequencyText() const;

    MemoryAnalysisList frequencies;
    MemoryAnalysisList counts;
    MemoryAnalysisList changes;

    // RunPanel
    void SetRunButtons(bool startEnabled, bool stopEnabled) override;
    void ShowMessage(const std::string& text) override;
    bool AutoStopChecked() const override { return m_autoStop; }
    int AnalyzeBufferIndex() const override { return m_bufferIndex; }
    AnalysisList& FrequencyList() override { return frequencies; }
    AnalysisList& CountList() override { return counts; }
    AnalysisList& ChangeLog() override { return changes; }
    void SetFrequencyText(const std::string& text) override;
    std::string InputText(RunInput input) const override;
    void SetStatusText(const std::string& text) override;

private:
    mutable std::mutex m_mutex;
    std::map<RunInput, std::string> m_inputs;
    std::string m_status;
    std::string m_frequencyText;
    std::vector<std::string> m_messages;
    bool m_autoStop = false;
    int m_bufferIndex = kDefaultAnalyzeBufferIndex;
    bool m_startEnabled = true;
    bool m_stopEnabled = false;
};

} // namespace parvane
