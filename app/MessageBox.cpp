#include "app/MessageBox.h"

#include "platform/DebugPrint.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdlib>

namespace parvane {

void ShowMessageBox(QWidget* parent, const QString& text)
{
    DebugPrint("MessageBox: %s", text.toUtf8().constData());
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
    if (const char* timeout = std::getenv(kMessageBoxTimeoutEnv); timeout != nullptr && *timeout != '\0')
        QTimer::singleShot(std::max(0, std::atoi(timeout)), &box, &QMessageBox::accept);
    box.exec();
}

} // namespace parvane
