#include "display/TimeLine.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

CTimeLine::CTimeLine(QWidget* parent) : QWidget(parent), m_font("Arial", 8)
{
    m_background = palette().color(QPalette::Button);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CTimeLine::Create(const QRect& rect, QWidget* parent, int id)
{
    m_nId = id;
    setParent(parent);
    setGeometry(rect);
    m_rcClient = QRect(0, 0, rect.width(), rect.height());
    m_surface = QPixmap(std::max(1, rect.width()), std::max(1, rect.height()));
    DrawRuler();
    show();
    return true;
}

void CTimeLine::SetRange(float range)
{
    m_fRange = range;
    m_fUnit = range / 100;
    m_nTickSpace = m_rcClient.width() / 100;
    DrawRuler();
    update();
}

void CTimeLine::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (event->size() == m_rcClient.size())
        return;
    m_rcClient = QRect(QPoint(0, 0), event->size());
    m_surface = QPixmap(std::max(1, width()), std::max(1, height()));
    m_nTickSpace = m_rcClient.width() / 100;
    DrawRuler();
}

// Ticks from the top edge down: every 10th h / 1.8 long with its label, every
// other 5th h / 2.5, the rest h / 5. Labels count in tenths of the range per
// hundred ticks: unit * k / 10.
void CTimeLine::DrawRuler()
{
    m_ticks.clear();
    m_labels.clear();
    if (m_surface.isNull())
        return;
    QPainter painter(&m_surface);
    painter.fillRect(m_rcClient, m_background);
    painter.setFont(m_font);
    painter.setPen(Qt::black);
    const int top = m_rcClient.top();
    const int height = m_rcClient.height();
    const int left = m_rcClient.left();
    for (int k = 0; k < kTicks; ++k) {
        const int x = left + k * m_nTickSpace;
        int bottom;
        if (k % 10 == 0) {
            bottom = top + static_cast<int>(height / 1.8);
            const QString text = QString::asprintf("%.0f", m_fUnit * k / 10);
            const int y = height / 2 - 3;
            painter.drawText(QRect(x - 16, y, 64, height), Qt::AlignLeft | Qt::AlignTop, text);
            m_labels.push_back(Label{x - 16, y, text});
        } else if (k % 5 == 0) {
            bottom = top + static_cast<int>(height / 2.5);
        } else {
            bottom = top + height / 5;
        }
        painter.drawLine(x, top, x, bottom);
        m_ticks.push_back(Tick{x, top, bottom});
    }
}

void CTimeLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_surface);
}
