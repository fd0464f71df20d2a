#include "display/Reflect.h"

#include <QPainter>

CReflect::CReflect(QWidget* parent) : CWaveShow(parent)
{
    m_bSpectrum = 1;
    m_analysis.SetCanvas(this);
}

void CReflect::ScaleChanged()
{
    m_analysis.SetScale(BinsPerBar(), PixelsPerBar());
}

void CReflect::DrawSpectrumBars(const std::vector<parvane::SpectrumBar>& bars)
{
    if (m_drawing.isNull())
        return;
    RestoreBackground();
    QPainter painter(&m_drawing);
    painter.setPen(m_tracePen);
    for (const auto& bar : bars)
        painter.drawLine(bar.x, bar.bottom, bar.x, bar.top);
    painter.end();
    update();
}

void CReflect::SetCaption(const std::string& text)
{
    if (CaptionStrip())
        CaptionStrip()->SetLeftText(QString::fromStdString(text));
}
