#pragma once
// The ruler under a waveform or spectrum view: a 20-pixel strip with 101
// ticks and a numeric label on every 10th. Drawn into an off-screen pixmap
// whenever its range changes and copied to the screen in paintEvent.

#include <QFont>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <vector>

class CTimeLine : public QWidget {
public:
    static constexpr int kHeight = 20;
    static constexpr int kTicks = 101;

    struct Tick {
        int x = 0;
        int top = 0;
        int bottom = 0;
    };
    struct Label {
        int x = 0; // left edge of the text
        int y = 0; // top edge of the text
        QString text;
    };

    explicit CTimeLine(QWidget* parent = nullptr);

    // Places the ruler at `rect` (left, top, right, bottom, the right and
    // bottom edges excluded) in `parent` and shows it.
    bool Create(const QRect& rect, QWidget* parent, int id);
    int Id() const { return m_nId; }

    // range = `range`, unit = range / 100, tick spacing = client width / 100;
    // redraws.
    void SetRange(float range);
    float Range() const { return m_fRange; }
    float Unit() const { return m_fUnit; }
    int TickSpacing() const { return m_nTickSpace; }

    // What the last drawing drew.
    const std::vector<Tick>& Ticks() const { return m_ticks; }
    const std::vector<Label>& Labels() const { return m_labels; }
    const QPixmap& Surface() const { return m_surface; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void DrawRuler();

    float m_fRange = 5.0f;
    float m_fUnit = 0.05f;
    QRect m_rcClient;
    int m_nTickSpace = 0;
    QPixmap m_surface;
    QColor m_background;
    QFont m_font;
    int m_nId = 0;
    std::vector<Tick> m_ticks;
    std::vector<Label> m_labels;
};
