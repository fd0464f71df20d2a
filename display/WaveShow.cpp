#include "display/WaveShow.h"

#include "audio/AudioEngine.h"
#include "audio/AudioGlobals.h"

#include <QPainter>

namespace {

// A rectangle given as left, top, right, bottom with the right and bottom
// edges excluded.
QRect Edges(int left, int top, int right, int bottom)
{
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

} // namespace

CWaveShow::CWaveShow(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CWaveShow::~CWaveShow()
{
    delete m_pScrollBar.data();
    delete m_pCaption.data();
    delete m_pTimeLine.data();
}

bool CWaveShow::Create(const QRect& rect, QWidget* parent, int id, bool withScrollBar)
{
    if (m_bCreated)
        return false;
    m_nId = id;
    m_bHasScrollBar = withScrollBar;
    m_pTimeLine = new CTimeLine;
    m_pTimeLine->Create(RulerRect(rect), parent, 1010);
    m_pCaption = new CWaveAllView;
    m_pCaption->Create(CaptionRect(rect), parent, 1020);
    if (withScrollBar) {
        m_pScrollBar = new QScrollBar(Qt::Horizontal, parent);
        m_pScrollBar->setGeometry(ScrollBarRect(rect));
        m_pScrollBar->setEnabled(true);
        m_pScrollBar->show();
    }

    setParent(parent);
    setGeometry(ViewRect(rect));
    OnCreate();
    show();
    return true;
}

QRect CWaveShow::RulerRect(const QRect& rect) const
{
    const int bottom = rect.top() + rect.height();
    const int rulerBottom = bottom - (m_bHasScrollBar ? 40 : 20);
    return Edges(rect.left() - 1, rulerBottom - CTimeLine::kHeight, rect.left() + rect.width() + 2, rulerBottom);
}

QRect CWaveShow::CaptionRect(const QRect& rect) const
{
    const int bottom = rect.top() + rect.height();
    return Edges(rect.left(), bottom - CWaveAllView::kHeight, rect.left() + rect.width(), bottom);
}

QRect CWaveShow::ScrollBarRect(const QRect& rect) const
{
    const int bottom = rect.top() + rect.height();
    return Edges(rect.left() - 1, bottom - 38, rect.left() + rect.width() + 2, bottom - 20);
}

QRect CWaveShow::ViewRect(const QRect& rect) const
{
    return Edges(rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height() + 5);
}

bool CWaveShow::Place(const QRect& rect)
{
    if (!m_bCreated)
        return false;
    if (m_pTimeLine)
        m_pTimeLine->setGeometry(RulerRect(rect));
    if (m_pCaption)
        m_pCaption->setGeometry(CaptionRect(rect));
    if (m_pScrollBar)
        m_pScrollBar->setGeometry(ScrollBarRect(rect));
    setGeometry(ViewRect(rect));
    MakeSurfaces();
    SetScale(m_fOffset, m_fHzPerBar);
    update();
    return true;
}

void CWaveShow::MakeSurfaces()
{
    const int reserved =
        CTimeLine::kHeight + CWaveAllView::kHeight + (m_bHasScrollBar ? kScrollBarHeight : 0) + 1;
    m_rcDraw = QRect(0, 0, width(), std::max(1, height() - reserved + 4));
    m_nDrawWidth = m_rcDraw.width();
    m_background = QPixmap(std::max(1, m_rcDraw.width()), m_rcDraw.height());
    m_drawing = QPixmap(m_background.size());
    DrawGrid();
    RestoreBackground();
}

void CWaveShow::OnCreate()
{
    lower(); // the ruler, the strip and the scroll bar stay visible over the view
    MakeSurfaces();
    m_tracePen = QPen(TraceColour(), 2, Qt::SolidLine);
    m_bCreated = true;
    SetScale(0, 1);
}

void CWaveShow::SetScale(float offset, float hzPerBar)
{
    const CAudioEngine* engine = CurrentAudioEngine();
    const uint32_t blockAlign = engine ? engine->InputBlockAlign() : 4;
    m_nFramesPerBlock = static_cast<int>(CaptureBlockBytes / static_cast<int32_t>(blockAlign));
    m_nChannels = engine ? engine->InputFormat().channels : 2;
    if (m_pTimeLine)
        m_pTimeLine->SetRange(offset + 100 * hzPerBar);
    m_fOffset = offset;
    m_fHzPerBar = hzPerBar;
    m_fBinsPerBar = static_cast<float>(m_nFramesPerBlock * 0.5 / 100);
    m_fPixelsPerBar = static_cast<float>(m_nDrawWidth) / 100;
    if (m_pCaption)
        m_pCaption->SetRightText(CWaveAllView::UnitText(10));
    if (m_pScrollBar) {
        m_pScrollBar->setRange(0, 10);
        m_pScrollBar->setValue(5);
    }
    ScaleChanged();
}

// Black, the scale texts in white, a dotted grey grid (vertical lines every
// 2 * trunc(width / 100) pixels, horizontal ones every eighth of the height
// either side of the middle) and short light ticks at the left edge.
void CWaveShow::DrawGrid()
{
    QPainter painter(&m_background);
    const int a = m_rcDraw.left();
    const int t = m_rcDraw.top();
    const int r = m_rcDraw.right() + 1;
    const int b = m_rcDraw.bottom() + 1;
    const int h = b - t;
    painter.fillRect(m_rcDraw, Qt::black);

    painter.setFont(QFont("Arial", 8));
    painter.setPen(Qt::white);
    const auto text = [&](int x, int y, const char* label) {
        painter.drawText(QRect(x, y, 40, 20), Qt::AlignLeft | Qt::AlignTop, label);
    };
    text(a + 2, t + 2, "1.0");
    text(a + 2, h / 4 + 2, "0.5");
    text(a + 2, h / 2 + 2, "0.0");
    text(a + 2, h / 2 + h / 4 + 2, "0.5");
    text(a + 2, b - 15, "1.0");

    QPen dotted(GridColour(), 1, Qt::CustomDashLine);
    dotted.setDashPattern({1, 1});
    painter.setPen(dotted);
    float perHundred = static_cast<float>(r - a) / 100;
    if (static_cast<int>(perHundred) < 2)
        perHundred = 2.0f;
    const int step = 2 * static_cast<int>(perHundred);
    for (int offset = step; offset < r; offset += step)
        painter.drawLine(a + offset, t, a + offset, b);
    const int eighth = h / 8;
    for (int k = 0; k * eighth < h / 2; ++k) {
        painter.drawLine(a, h / 2 + k * eighth, r, h / 2 + k * eighth);
        painter.drawLine(a, h / 2 - k * eighth, r, h / 2 - k * eighth);
        if (eighth == 0)
            break;
    }

    painter.setPen(QPen(TickColour(), 1));
    for (int y : {t, h / 4, h / 2, h / 2 + h / 4, b - 1})
        painter.drawLine(a, y, a + 6, y);
}

void CWaveShow::RestoreBackground()
{
    QPainter painter(&m_drawing);
    painter.drawPixmap(0, 0, m_background);
}

void CWaveShow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_drawing);
}
