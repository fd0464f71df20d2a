#pragma once
// CAboutDlg: the About box (template 100): the program's icon, its name and
// version, the makers' line and an OK button.

#include <QDialog>
#include <QIcon>

class CAboutDlg final : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
};
