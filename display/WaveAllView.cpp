#include "display/WaveAllView.h"

#include <QPainter>

CWaveAllView::CWaveAllView(QWidget* parent) : QWidget(parent), m_strRight(UnitText(1)) {}

QString CWaveAllView::UnitText(double hertz)
{
    return QString::asprintf("\u5355\u4F4D\uFF1A%.0fHz", hertz);
}

bool CWaveAllView::Create(const QRect& rect, QWidget* parent, int id)
{
    m_nId = id;
    setParent(parent);
    setGeometry(rect);
    show();
    return true;
}

void CWaveAllView::SetLeftText(const QString& text)
{
    m_strLeft = text;
    update();
}

void CWaveAllView::SetRightText(const QString& text)
{
    m_strRight = text;
    update();
}

void CWaveAllView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_brush);
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 0, width(), height()), Qt::AlignLeft | Qt::AlignTop, m_strLeft);
    painter.drawText(QRect(width() - 100, 0, 100, height()), Qt::AlignLeft | Qt::AlignTop, m_strRight);
}
