#include "audio/AnalysisOutput.h"

namespace parvane {

int MemoryAnalysisList::AddString(const std::string& text)
{
    m_rows.push_back(Row{text, 0});
    return GetCount() - 1;
}

int MemoryAnalysisList::InsertString(int index, const std::string& text)
{
    if (index < 0 || index > GetCount())
        return index < 0 ? AddString(text) : -1;
    m_rows.insert(m_rows.begin() + index, Row{text, 0});
    return index;
}

int MemoryAnalysisList::DeleteString(int index)
{
    if (!Valid(index))
        return -1;
    m_rows.erase(m_rows.begin() + index);
    return GetCount();
}

int MemoryAnalysisList::FindStringExact(const std::string& text) const
{
    for (int i = 0; i < GetCount(); ++i) {
        if (m_rows[i].text == text)
            return i;
    }
    return -1;
}

std::string MemoryAnalysisList::GetText(int index) const
{
    return Valid(index) ? m_rows[index].text : std::string();
}

long MemoryAnalysisList::GetItemData(int index) const
{
    return Valid(index) ? m_rows[index].data : -1;
}

void MemoryAnalysisList::SetItemData(int index, long data)
{
    if (Valid(index))
        m_rows[index].data = data;
}

void MemoryAnalysisList::ResetContent()
{
    m_rows.clear();
    m_topIndex = 0;
}

std::vector<std::string> MemoryAnalysisList::Texts() const
{
    std::vector<std::string> texts;
    texts.reserve(m_rows.size());
    for (const Row& row : m_rows)
        texts.push_back(row.text);
    return texts;
}

void MemoryAnalysisOutput::Clear()
{
    frequencies.ResetContent();
    counts.ResetContent();
    changes.ResetContent();
}

} // namespace parvane
