// The Qt side of the language packs: filling the language combo box and
// rewriting a dialog's caption, control texts and item texts.
#include "i18n/MultiLanguage.h"

#include "platform/DebugPrint.h"

#include <QComboBox>
#include <QGroupBox>
#include <QMetaProperty>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

std::optional<int> ControlIdOf(const QWidget* widget)
{
    const QVariant value = widget->property(parvane::kControlIdProperty);
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const int id = value.toInt(&ok);
    return ok ? std::optional<int>(id) : std::nullopt;
}

// The dialog's controls in window order: depth first, each parent before its
// children, children in creation order. Windows of their own (popups,
// other dialogs) are not part of the dialog.
void CollectControls(const QObject* parent, std::vector<QWidget*>& controls)
{
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget == nullptr || widget->isWindow())
            continue;
        if (ControlIdOf(widget))
            controls.push_back(widget);
        CollectControls(widget, controls);
    }
}

void SetControlText(QWidget* control, const QString& text)
{
    if (auto* groupBox = qobject_cast<QGroupBox*>(control)) {
        groupBox->setTitle(text);
        return;
    }
    const QMetaObject* meta = control->metaObject();
    for (const char* name : {"text", "plainText"}) {
        const int index = meta->indexOfProperty(name);
        if (index >= 0 && meta->property(index).isWritable()) {
            control->setProperty(name, text);
            return;
        }
    }
    control->setWindowTitle(text);
}

// Replaces the items of a combo box with the pack's items 0, 1, ... up to the
// first missing one, when the pack has an item 0. The selection index is kept
// (0 when there were items but none was selected); an index past the new
// items leaves nothing selected.
void LocaliseComboItems(CMultiLanguage& language, QComboBox* combo, int dialogId, int controlId)
{
    if (combo->property(parvane::kProgramFilledItemsProperty).toBool())
        return;
    QString item = QString::fromStdString(language.GetItemText(dialogId, controlId, 0));
    if (item.isEmpty())
        return;
    const QSignalBlocker blocker(combo);
    const bool hadItems = combo->count() > 0;
    const int selection = hadItems ? std::max(combo->currentIndex(), 0) : -1;
    combo->clear();
    for (int i = 1; !item.isEmpty(); ++i) {
        combo->addItem(item);
        item = QString::fromStdString(language.GetItemText(dialogId, controlId, i));
    }
    combo->setCurrentIndex(selection < combo->count() ? selection : -1);
}

// Renames the existing tabs from the pack's items 0, 1, ... up to the first
// missing one; tabs are never added or removed.
template <typename Tabs>
void LocaliseTabItems(CMultiLanguage& language, Tabs* tabs, int dialogId, int controlId)
{
    const QSignalBlocker blocker(tabs);
    for (int i = 0; i < tabs->count(); ++i) {
        const std::string text = language.GetItemText(dialogId, controlId, i);
        if (text.empty())
            break;
        tabs->setTabText(i, QString::fromStdString(text));
    }
}

} // namespace

void CMultiLanguage::FillLanguageCombo(QComboBox* combo) const
{
    if (combo == nullptr)
        return;
    const QSignalBlocker blocker(combo);
    const int selection = combo->currentIndex();
    for (const std::string& name : m_names)
        combo->addItem(QString::fromStdString(name));
    combo->setCurrentIndex(selection);
}

void CMultiLanguage::LocaliseDialog(QWidget* window, int dialogId)
{
    if (window == nullptr)
        return;
    DebugOutput(GetCurrentFile());
    const std::string caption = GetCaptionText(dialogId);
    if (!caption.empty())
        window->setWindowTitle(QString::fromStdString(caption));

    std::vector<QWidget*> controls;
    CollectControls(window, controls);
    for (QWidget* control : controls) {
        const int controlId = *ControlIdOf(control);
        const std::string text = GetControlText(dialogId, controlId);
        if (!text.empty()) {
            SetControlText(control, QString::fromStdString(text));
            continue;
        }
        if (auto* combo = qobject_cast<QComboBox*>(control))
            LocaliseComboItems(*this, combo, dialogId, controlId);
        else if (auto* tabWidget = qobject_cast<QTabWidget*>(control))
            LocaliseTabItems(*this, tabWidget, dialogId, controlId);
        else if (auto* tabBar = qobject_cast<QTabBar*>(control))
            LocaliseTabItems(*this, tabBar, dialogId, controlId);
    }
}
