#include "app/AboutDlg.h"

#include "app/DialogLayout.h"
#include "i18n/MultiLanguage.h"

#include <QLabel>
#include <QPushButton>

namespace {

constexpr int kAboutWidthDu = 235;
constexpr int kAboutHeightDu = 55;
constexpr int kIdOk = 1;

} // namespace

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    if (parent != nullptr)
        setFont(parent->font());
    const parvane::DialogBaseUnits units = parvane::DialogBaseUnitsOf(font());
    auto place = [&](QWidget* widget, int id, int x, int y, int width, int height) {
        const QRect rect = parvane::DialogUnitsToPixels(QRect(x, y, width, height), units);
        widget->setGeometry(rect);
        widget->setProperty(parvane::kControlIdProperty, id);
        widget->setProperty("templateRect", rect);
    };
    setFixedSize(parvane::DialogUnitsToPixels(QRect(0, 0, kAboutWidthDu, kAboutHeightDu), units).size());

    auto* iconLabel = new QLabel(this);
    const QRect iconRect = parvane::DialogUnitsToPixels(QRect(11, 17, 0, 0), units);
    iconLabel->setPixmap(icon.pixmap(32, 32));
    iconLabel->setGeometry(iconRect.left(), iconRect.top(), 32, 32);

    auto* name = new QLabel(QStringLiteral("Parvane v1.0.0.3"), this);
    place(name, -1, 40, 10, 129, 8);
    auto* makers = new QLabel(QStringLiteral("Made by the Parvane developers. Free to use and share."), this);
    place(makers, -1, 40, 25, 188, 8);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    place(ok, kIdOk, 178, 7, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    parvane::FitStaticTexts(this, units);
}
