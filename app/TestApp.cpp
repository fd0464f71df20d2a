#include "app/TestApp.h"

#include "app/TestDlg.h"
#include "audio/AudioQtBindings.h"

#include <QPalette>
#include <QProxyStyle>
#include <QToolTip>

namespace {

// The Start button's tip comes up 10 ms after the mouse rests on it.
class ToolTipStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_ToolTip_WakeUpDelay)
            return 10;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

CTestApp::CTestApp(int& argc, char** argv, parvane::CommonOptions options)
    : QApplication(argc, argv), m_options(std::move(options))
{
    setApplicationName(QStringLiteral("Parvane"));
    setStyle(new ToolTipStyle);
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipText, Qt::black);
    tips.setColor(QPalette::ToolTipBase, Qt::white);
    QToolTip::setPalette(tips);
    parvane::InstallAudioMessageBoxes();
}

bool CTestApp::InitInstance()
{
    CTestDlg dialog;
    setWindowIcon(dialog.windowIcon());
    dialog.SetVendorId(m_options.vendorId);
    MainDialog = &dialog;
    dialog.OnInitDialog();
    dialog.exec();
    return false;
}
