#pragma once
#include <QString>

class QWidget;

namespace parvane {

// Environment variable: when set to a number of milliseconds, every message
// box of the program closes itself after that time (for unattended runs:
// tests, screenshots). The text of every box also goes to the debug output
// as "MessageBox: <text>".
inline constexpr const char* kMessageBoxTimeoutEnv = "PARVANE_MESSAGE_BOX_TIMEOUT_MS";

// A plain message box: OK button only, the application's name as caption.
// Returns when it is closed.
void ShowMessageBox(QWidget* parent, const QString& text);

} // namespace parvane
