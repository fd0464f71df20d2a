#pragma once
// Bindings of the toolkit-free audio code to Qt widgets, for the main dialog.

#include "audio/AnalysisOutput.h"

class QListWidget;
class QWidget;

namespace parvane {

// An AnalysisList over a QListWidget: rows are its items, the item data is
// kept under Qt::UserRole. The widget must outlive the binding.
class ListWidgetAnalysisList final : public AnalysisList {
public:
    explicit ListWidgetAnalysisList(QListWidget* list) : m_list(list) {}

    int GetCount() const override;
    int AddString(const std::string& text) override;
    int InsertString(int index, const std::string& text) override;
    int DeleteString(int index) override;
    int FindStringExact(const std::string& text) const override;
    std::string GetText(int index) const override;
    long GetItemData(int index) const override;
    void SetItemData(int index, long data) override;
    void SetTopIndex(int index) override;
    void ResetContent() override;

private:
    QListWidget* m_list;
};

// Shows the audio classes' messages as modal message boxes owned by nobody:
// "Fail to open device" with the default caption, the player's errors with
// the application's name. Call once on the GUI thread; the messages must then
// come from the GUI thread too (they do in the program).
void InstallAudioMessageBoxes();

} // namespace parvane
