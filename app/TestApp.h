#pragma once
// CTestApp: the application object. It runs the main dialog modally; when
// the dialog closes, the program ends.

#include "app/CommonOptions.h"

#include <QApplication>

class CTestApp final : public QApplication {
    Q_OBJECT

public:
    CTestApp(int& argc, char** argv, parvane::CommonOptions options);

    // Runs the main dialog; returns false once it has closed.
    bool InitInstance();

private:
    parvane::CommonOptions m_options;
};
