#pragma once
#include "i18n/IniReader.h"

#include <mutex>
#include <string>
#include <vector>

class QComboBox;
class QWidget;

// The language packs: "*.ini" files in the directory "Lang" beside the
// program, listed in file-name order. A file is a pack when it has a display
// name in [Language] Language. Keys, all in [WindowText] unless noted:
//   IDS_<dialog>_0000             caption of the dialog
//   IDS_<dialog>_<control>        text of a control (-1: every control without an id)
//   IDS_<dialog>_<control>_<item> item texts of a combo box or tab control, from 0
//   MESSAGE_<n>                   message texts (printf-style formats, see MessageFormat.h)
//   TOOLTIP_<n>                   tooltip texts
//   MENU_<n>, SPECTRUM_<n>        context-menu items, texts of the spectrum window
//   SURVEY_<n>                    texts of the survey window
//   [Help] FileName               help document, relative to the "Help" directory
// A missing key and an empty value are the same: empty text.
//
// All lookups may be called from any thread: the user-interface thread
// switching packs and the verification worker reading messages at the same
// time is safe.
//
// How LocaliseDialog (in parvane_i18n_qt) finds the controls of a dialog:
// every widget inside the dialog that carries the int property "controlId"
// (kControlIdProperty) is a control with that id; widgets without it are not
// touched (their children still are). Controls that have no id of their own
// (static texts, group boxes) carry controlId -1, so a pack's IDS_<dialog>_-1
// reaches all of them. Kinds:
//   QComboBox              item texts replace the items (see below); with the
//                          bool property "programFilledItems" (kProgramFilledItemsProperty)
//                          set true, the items are the program's and pack items
//                          are ignored
//   QTabWidget, QTabBar    item texts rename the existing tabs, never add any
//   QGroupBox              the control text is its title
//   anything with a "text" property (QLabel, buttons, QLineEdit) gets it there;
//   QPlainTextEdit/QTextEdit through "plainText"; any other widget (a list)
//   through its window title, which is not shown for a child widget.
// Combo and tab changes are made with the widget's signals blocked, as the
// programmatic changes they are; connect user choices to QComboBox::activated.
namespace parvane {
inline constexpr char kControlIdProperty[] = "controlId";
inline constexpr char kProgramFilledItemsProperty[] = "programFilledItems";
} // namespace parvane

class CMultiLanguage {
public:
    // Packs in GetModuleDir() + "Lang"; the pack named "English" (letter case
    // ignored) is current, else the first pack found.
    CMultiLanguage();
    // Packs in another directory (path without a trailing '/').
    explicit CMultiLanguage(std::string directory);
    virtual ~CMultiLanguage() = default;

    CMultiLanguage(const CMultiLanguage&) = delete;
    CMultiLanguage& operator=(const CMultiLanguage&) = delete;

    // Qt side (link parvane_i18n_qt): appends the display names, in list
    // order, to the combo box; rewrites a dialog's caption and controls.
    void FillLanguageCombo(QComboBox* combo) const;
    void LocaliseDialog(QWidget* window, int dialogId);

    // Makes the pack with this display name current (the name must be one of
    // GetLanguageNames() exactly; the first file whose name matches with case
    // ignored is taken). False, with the current pack unchanged, when the name
    // is unknown or its file has gone since start-up.
    bool SetLanguage(const std::string& name);

    std::string GetMessageText(int n);
    std::string GetTooltipText(int n);
    // "MENU_%d": the texts of the main dialog's context menu beyond About
    // (0: Show spectrum, 1: Survey the line).
    std::string GetMenuText(int n);
    // "SPECTRUM_%d": the texts of the spectrum window (0: its caption).
    std::string GetSpectrumText(int n);
    // "SURVEY_%d": the texts of the survey window (0: its caption).
    std::string GetSurveyText(int n);
    std::string GetHelpFileName();
    std::string GetCaptionText(int dialogId);
    std::string GetControlText(int dialogId, int controlId);
    std::string GetItemText(int dialogId, int controlId, int item);

    // Fixed after construction: packs added later are seen after a restart.
    const std::vector<std::string>& GetLanguageNames() const { return m_names; }
    const std::vector<std::string>& GetLanguagePaths() const { return m_paths; }
    const std::string& GetDirectory() const { return m_strDirectory; }
    // The pack the main dialog starts in, as an index into GetLanguageNames():
    // the first one named "English" (case ignored), else the second pack
    // found, else the first; -1 when there is none.
    int StartUpPackIndex() const;
    std::string GetCurrentName() const;
    std::string GetCurrentFile() const;

private:
    struct Pack {
        std::string path;
        std::string name;
    };
    // The packs of the directory as they are now, in file-name order.
    std::vector<Pack> FindPacks();
    void Enumerate();
    std::string LookUp(const std::string& key, const char* section);

    mutable std::mutex m_mutex; // guards the reader and the current pack
    CIniReader m_reader;
    std::string m_strCurrentFile;
    std::string m_strDirectory;
    std::string m_strCurrentName;
    std::vector<std::string> m_names;
    std::vector<std::string> m_paths;
};
