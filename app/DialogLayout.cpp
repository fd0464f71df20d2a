#include "app/DialogLayout.h"

#include "i18n/MultiLanguage.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace parvane {

namespace {

// Space kept between a widened text and its neighbour, in dialog units.
constexpr int kGapDialogUnits = 2;

std::vector<QWidget*> Controls(const QWidget* dialog)
{
    std::vector<QWidget*> controls;
    for (QObject* child : dialog->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget != nullptr && !widget->isWindow() && widget->property(kControlIdProperty).isValid() &&
            !widget->isHidden())
            controls.push_back(widget);
    }
    return controls;
}

QString Describe(const QWidget* widget)
{
    const int id = widget->property(kControlIdProperty).toInt();
    QString text;
    if (auto* label = qobject_cast<const QLabel*>(widget))
        text = label->text();
    else if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        text = button->text();
    return QStringLiteral("%1 %2 \"%3\"").arg(widget->metaObject()->className()).arg(id).arg(text);
}

int TextWidth(const QFontMetrics& metrics, const QString& text)
{
    int width = 0;
    for (const QString& line : text.split('\n'))
        width = std::max(width, metrics.horizontalAdvance(line));
    return width;
}

int LineCount(const QString& text)
{
    return static_cast<int>(text.count('\n')) + 1;
}

// The part of a control a text beside it must not cover.
QRect OccupiedRect(const QWidget* widget)
{
    const QRect rect = widget->geometry();
    auto* label = qobject_cast<const QLabel*>(widget);
    if (label == nullptr || !(label->alignment() & Qt::AlignHCenter))
        return rect;
    const int textWidth = std::min(rect.width(), TextWidth(label->fontMetrics(), label->text()));
    return QRect(rect.left() + (rect.width() - textWidth) / 2, rect.top(), textWidth, rect.height());
}

bool Overlaps(int top1, int bottom1, int top2, int bottom2)
{
    return top1 < bottom2 && top2 < bottom1;
}

// The room a text starting at rect.left() has to the right, up to the
// nearest control on its rows or the dialog's edge.
int RoomToTheRight(const QWidget* dialog, const QWidget* self, const QRect& rect, int gap)
{
    int limit = dialog->width() - gap;
    for (QWidget* other : Controls(dialog)) {
        if (other == self || qobject_cast<QGroupBox*>(other) != nullptr)
            continue;
        const QRect occupied = OccupiedRect(other);
        if (occupied.left() > rect.left() &&
            Overlaps(rect.top(), rect.bottom() + 1, occupied.top(), occupied.bottom() + 1))
            limit = std::min(limit, occupied.left() - gap);
    }
    return limit - rect.left();
}

// The lowest edge of controls above the rectangle that share its columns.
int CeilingAbove(const QWidget* dialog, const QWidget* self, const QRect& rect, int gap)
{
    int ceiling = gap;
    for (QWidget* other : Controls(dialog)) {
        if (other == self || qobject_cast<QGroupBox*>(other) != nullptr)
            continue;
        const QRect occupied = OccupiedRect(other);
        if (occupied.bottom() < rect.top() && occupied.left() < rect.right() && rect.left() < occupied.right())
            ceiling = std::max(ceiling, occupied.bottom() + 1 + gap);
    }
    return ceiling;
}

} // namespace

DialogBaseUnits DialogBaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{(letters / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& du, const DialogBaseUnits& units)
{
    const int left = du.x() * units.width / 4;
    const int top = du.y() * units.height / 8;
    const int right = (du.x() + du.width()) * units.width / 4;
    const int bottom = (du.y() + du.height()) * units.height / 8;
    return QRect(left, top, right - left, bottom - top);
}

void FitStaticTexts(QWidget* dialog, const DialogBaseUnits& units)
{
    const int gap = kGapDialogUnits * units.width / 4;
    // Centred labels first, so that the others see how much they really take.
    for (QWidget* widget : Controls(dialog)) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (label == nullptr || !(label->alignment() & Qt::AlignHCenter))
            continue;
        const QRect template_ = label->property("templateRect").toRect();
        const QRect base = template_.isValid() ? template_ : label->geometry();
        label->setGeometry(base);
    }
    for (QWidget* widget : Controls(dialog)) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (label == nullptr || (label->alignment() & Qt::AlignHCenter))
            continue;
        // Start again from the template's rectangle at every change of texts.
        const QRect template_ = label->property("templateRect").toRect();
        QRect rect = template_.isValid() ? template_ : label->geometry();
        label->setWordWrap(false);
        const QFontMetrics metrics = label->fontMetrics();
        const int needed = TextWidth(metrics, label->text());
        const int lines = LineCount(label->text());
        if (needed <= rect.width() && lines * metrics.height() <= rect.height()) {
            label->setGeometry(rect);
            continue;
        }
        const int room = RoomToTheRight(dialog, label, rect, gap);
        if (needed <= room) {
            rect.setWidth(std::max(rect.width(), needed));
        } else {
            rect.setWidth(std::max(rect.width(), room));
            label->setWordWrap(true);
        }
        const int height = label->wordWrap() ? label->heightForWidth(rect.width()) : lines * metrics.height();
        if (height > rect.height()) {
            // Grow upward, as far as the control above allows, then downward.
            const int bottom = rect.bottom();
            const int ceiling = CeilingAbove(dialog, label, rect, gap);
            const int top = std::max(ceiling, bottom + 1 - height);
            rect.setTop(top);
            if (rect.height() < height)
                rect.setHeight(height);
        }
        label->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        label->setGeometry(rect);
    }
}

QStringList FindLayoutProblems(const QWidget* dialog)
{
    QStringList problems;
    const std::vector<QWidget*> controls = Controls(dialog);
    for (QWidget* widget : controls) {
        const QRect rect = widget->geometry();
        const QFontMetrics metrics = widget->fontMetrics();
        if (!dialog->rect().contains(rect))
            problems << Describe(widget) + QStringLiteral(" lies outside the dialog");
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            const bool fits = label->wordWrap()
                                  ? label->heightForWidth(rect.width()) <= rect.height()
                                  : TextWidth(metrics, label->text()) <= rect.width() &&
                                        LineCount(label->text()) * metrics.height() <= rect.height();
            if (!fits)
                problems << Describe(widget) + QStringLiteral(" is clipped");
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            int indicator = 0;
            if (qobject_cast<QRadioButton*>(widget) != nullptr || qobject_cast<QCheckBox*>(widget) != nullptr) {
                QStyleOptionButton option;
                option.initFrom(button);
                const bool radio = qobject_cast<QRadioButton*>(widget) != nullptr;
                indicator = button->style()->pixelMetric(radio ? QStyle::PM_ExclusiveIndicatorWidth
                                                               : QStyle::PM_IndicatorWidth,
                                                         &option, button) +
                            button->style()->pixelMetric(radio ? QStyle::PM_RadioButtonLabelSpacing
                                                               : QStyle::PM_CheckBoxLabelSpacing,
                                                         &option, button);
            }
            const QString text = QString(button->text()).remove('&');
            if (indicator + metrics.horizontalAdvance(text) > rect.width() || metrics.height() > rect.height())
                problems << Describe(widget) + QStringLiteral(" is clipped");
        } else if (qobject_cast<QLineEdit*>(widget) != nullptr || qobject_cast<QComboBox*>(widget) != nullptr) {
            if (metrics.height() + 4 > rect.height())
                problems << Describe(widget) + QStringLiteral(" is too low for its text");
        }
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t k = i + 1; k < controls.size(); ++k) {
            QWidget* a = controls[i];
            QWidget* b = controls[k];
            const bool aBox = qobject_cast<QGroupBox*>(a) != nullptr;
            const bool bBox = qobject_cast<QGroupBox*>(b) != nullptr;
            if (aBox && a->geometry().contains(b->geometry()))
                continue;
            if (bBox && b->geometry().contains(a->geometry()))
                continue;
            if (OccupiedRect(a).intersects(OccupiedRect(b)))
                problems << Describe(a) + QStringLiteral(" overlaps ") + Describe(b);
        }
    }
    return problems;
}

} // namespace parvane
