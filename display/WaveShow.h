#pragma once
// The waveform view: a child window with a fixed background grid and two
// off-screen pixmaps (the grid, drawn once, and the drawing surface, a copy
// of the grid plus the current trace), so the screen is only ever updated by
// one copy in paintEvent. It owns a ruler (CTimeLine) and a caption strip
// (CWaveAllView), siblings placed in the bottom of its rectangle, and
// optionally a horizontal scroll bar. The spectrum view CReflect derives
// from it.

#include "display/TimeLine.h"
#include "display/WaveAllView.h"

#include <QPen>
#include <QPixmap>
#include <QPointer>
#include <QScrollBar>
#include <QWidget>

class CWaveShow : public QWidget {
public:
    static constexpr int kScrollBarHeight = 18;

    explicit CWaveShow(QWidget* parent = nullptr);
    ~CWaveShow() override; // deletes the ruler, the caption strip and the scroll bar

    // Creates the ruler and the caption strip (and, with `withScrollBar`, the
    // scroll bar) as children of `parent` inside the bottom of `rect`, then
    // the view itself over the whole of `rect`, 5 pixels taller, below its
    // siblings. `rect` is (left, top, right, bottom), the right and bottom
    // edges excluded.
    bool Create(const QRect& rect, QWidget* parent, int id, bool withScrollBar = false);
    bool IsCreated() const { return m_bCreated; }
    // Moves the view, its ruler, strip and scroll bar to `rect` (as Create
    // places them) and rebuilds the surfaces for the new size: the grid is
    // drawn again and the scale kept. False before Create.
    bool Place(const QRect& rect);
    int Id() const { return m_nId; }

    // Takes the block geometry from CaptureBlockBytes and the current
    // engine's input format; ruler range = offset + 100 * hzPerBar.
    void SetScale(float offset, float hzPerBar);

    int FramesPerBlock() const { return m_nFramesPerBlock; }
    int Channels() const { return m_nChannels; }
    int DrawingWidth() const { return m_nDrawWidth; }
    float HzPerBar() const { return m_fHzPerBar; }
    float BinsPerBar() const { return m_fBinsPerBar; }
    float PixelsPerBar() const { return m_fPixelsPerBar; }
    const QRect& DrawingRect() const { return m_rcDraw; }
    bool IsSpectrum() const { return m_bSpectrum != 0; }

    CTimeLine* Ruler() const { return m_pTimeLine; }
    CWaveAllView* CaptionStrip() const { return m_pCaption; }
    QScrollBar* ScrollBar() const { return m_pScrollBar; }
    const QPixmap& BackgroundSurface() const { return m_background; }
    const QPixmap& DrawingSurface() const { return m_drawing; }

    // Grid colours and the trace pen.
    static QColor GridColour() { return QColor(100, 100, 100); }
    static QColor TickColour() { return QColor(220, 220, 220); }
    static QColor TraceColour() { return QColor(75, 230, 20); }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Called at the end of SetScale (CReflect passes the scale on).
    virtual void ScaleChanged() {}
    // Copies the grid over the drawing surface.
    void RestoreBackground();

    QPen m_tracePen;
    QPixmap m_background;
    QPixmap m_drawing;
    QRect m_rcDraw;
    unsigned char m_bSpectrum = 0;

private:
    void OnCreate();
    // The drawing rectangle and both surfaces for the current size, the
    // grid drawn and copied.
    void MakeSurfaces();
    void DrawGrid();
    // Where Create and Place put the pieces for a view rectangle.
    QRect RulerRect(const QRect& rect) const;
    QRect CaptionRect(const QRect& rect) const;
    QRect ScrollBarRect(const QRect& rect) const;
    QRect ViewRect(const QRect& rect) const;

    QPointer<CTimeLine> m_pTimeLine;
    QPointer<CWaveAllView> m_pCaption;
    QPointer<QScrollBar> m_pScrollBar;
    QColor m_brush{128, 0, 128};
    bool m_bHasScrollBar = false;
    int m_nFramesPerBlock = 0;
    int m_nDrawWidth = 0;
    float m_fOffset = 0.0f;
    float m_fHzPerBar = 0.0f;
    float m_fBinsPerBar = 0.0f;
    float m_fPixelsPerBar = 0.0f;
    int m_nChannels = 0;
    bool m_bCreated = false;
    int m_nId = 0;
};
