#pragma once
// The caption strip along the bottom of a view: an 18-pixel blue band with
// the current reading on the left and the unit on the right.

#include <QString>
#include <QWidget>

class CWaveAllView : public QWidget {
public:
    static constexpr int kHeight = 18;

    explicit CWaveAllView(QWidget* parent = nullptr);

    bool Create(const QRect& rect, QWidget* parent, int id);
    int Id() const { return m_nId; }

    void SetLeftText(const QString& text);
    void SetRightText(const QString& text);
    const QString& LeftText() const { return m_strLeft; }
    const QString& RightText() const { return m_strRight; }

    // "单位：%.0fHz"
    static QString UnitText(double hertz);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_strLeft;
    QString m_strRight;
    QColor m_brush{50, 70, 230};
    int m_nId = 0;
};
