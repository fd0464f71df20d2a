#include "audio/AudioQtBindings.h"

#include "audio/AudioMessages.h"

#include <QApplication>
#include <QListWidget>
#include <QMessageBox>

namespace parvane {

int ListWidgetAnalysisList::GetCount() const
{
    return m_list->count();
}

int ListWidgetAnalysisList::AddString(const std::string& text)
{
    m_list->addItem(QString::fromStdString(text));
    return m_list->count() - 1;
}

int ListWidgetAnalysisList::InsertString(int index, const std::string& text)
{
    if (index < 0)
        return AddString(text);
    if (index > m_list->count())
        return -1;
    m_list->insertItem(index, QString::fromStdString(text));
    return index;
}

int ListWidgetAnalysisList::DeleteString(int index)
{
    if (index < 0 || index >= m_list->count())
        return -1;
    delete m_list->takeItem(index);
    return m_list->count();
}

int ListWidgetAnalysisList::FindStringExact(const std::string& text) const
{
    const QString wanted = QString::fromStdString(text);
    for (int i = 0; i < m_list->count(); ++i) {
        if (m_list->item(i)->text() == wanted)
            return i;
    }
    return -1;
}

std::string ListWidgetAnalysisList::GetText(int index) const
{
    const QListWidgetItem* item = m_list->item(index);
    return item ? item->text().toStdString() : std::string();
}

long ListWidgetAnalysisList::GetItemData(int index) const
{
    const QListWidgetItem* item = m_list->item(index);
    return item ? static_cast<long>(item->data(Qt::UserRole).toLongLong()) : -1;
}

void ListWidgetAnalysisList::SetItemData(int index, long data)
{
    if (QListWidgetItem* item = m_list->item(index))
        item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(data));
}

void ListWidgetAnalysisList::SetTopIndex(int index)
{
    if (QListWidgetItem* item = m_list->item(index))
        m_list->scrollToItem(item, QAbstractItemView::PositionAtTop);
}

void ListWidgetAnalysisList::ResetContent()
{
    m_list->clear();
}

void InstallAudioMessageBoxes()
{
    SetAudioMessageHandler([](const AudioMessage& message) {
        const QString caption = message.caption == AudioMessageCaption::Application
            ? QApplication::applicationName()
            : QStringLiteral("Error");
        QMessageBox box(message.icon == AudioMessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                        caption, QString::fromStdString(message.text), QMessageBox::Ok);
        box.exec();
    });
}

} // namespace parvane
