#include "app/MemoryRunPanel.h"

namespace parvane {

void MemoryRunPanel::SetInput(RunInput input, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inputs[input] = text;
}

std::string MemoryRunPanel::InputText(RunInput input) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_inputs.find(input);
    return it == m_inputs.end() ? std::string() : it->second;
}

void MemoryRunPanel::SetStatusText(const std::string& text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = text;
    }
    if (onStatus)
        onStatus(text);
}

std::string MemoryRunPanel::Status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

void MemoryRunPanel::ShowMessage(const std::string& text)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(text);
    }
    if (onMessage)
        onMessage(text);
}

std::vector<std::string> MemoryRunPanel::Messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

void MemoryRunPanel::SetRunButtons(bool startEnabled, bool stopEnabled)
{
    m_startEnabled = startEnabled;
    m_stopEnabled = stopEnabled;
}

void MemoryRunPanel::SetFrequencyText(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frequencyText = text;
}

std::string MemoryRunPanel::FrequencyText() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frequencyText;
}

} // namespace parvane
