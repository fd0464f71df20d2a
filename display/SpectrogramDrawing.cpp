#include "display/SpectrogramDrawing.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace parvane::draw {

QColor Heat(double level)
{
    level = std::clamp(level, 0.0, 1.0);
    static const double stops[][4] = {{0.0, 0, 0, 0},     {0.3, 20, 20, 140}, {0.55, 170, 20, 120},
                                      {0.75, 240, 90, 0}, {0.9, 255, 220, 0}, {1.0, 255, 255, 255}};
    for (size_t i = 1; i < std::size(stops); ++i) {
        if (level <= stops[i][0]) {
            const double t = (level - stops[i - 1][0]) / (stops[i][0] - stops[i - 1][0]);
            return QColor(static_cast<int>(stops[i - 1][1] + t * (stops[i][1] - stops[i - 1][1])),
                          static_cast<int>(stops[i - 1][2] + t * (stops[i][2] - stops[i - 1][2])),
                          static_cast<int>(stops[i - 1][3] + t * (stops[i][3] - stops[i - 1][3])));
        }
    }
    return Qt::white;
}

double DbLevel(double db, double topDb, double floorDb)
{
    if (topDb <= floorDb)
        return 0.0;
    return std::clamp((db - floorDb) / (topDb - floorDb), 0.0, 1.0);
}

double PowerDb(double power)
{
    return 10.0 * std::log10(std::max(power, 1e-20));
}

void DrawFrequencyRuler(QPainter& painter, const QRect& area, int topHz, int stepHz, double bandLowHz,
                        double bandHighHz, const QColor& text, const std::function<int(double)>& hzToY)
{
    painter.save();
    painter.setPen(text);
    for (int hertz = 0; stepHz > 0 && hertz <= topHz; hertz += stepHz) {
        const int y = hzToY(hertz);
        painter.drawLine(area.left() - 5, y, area.left() - 1, y);
        painter.drawText(QRect(2, y - 8, area.left() - 9, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(hertz));
    }
    painter.setPen(QPen(QColor(255, 255, 255, 160), 1, Qt::DashLine));
    for (const double edge : {bandLowHz, bandHighHz})
        painter.drawLine(area.left(), hzToY(edge), area.right(), hzToY(edge));
    painter.restore();
}

void DrawHeardStrip(QPainter& painter, const QRect& lane, const std::vector<StripStretch>& stretches,
                    const std::function<int(int)>& msToX)
{
    painter.fillRect(lane, kStripColour);
    painter.save();
    painter.setClipRect(lane);
    for (size_t i = 0; i < stretches.size(); ++i) {
        const StripStretch& stretch = stretches[i];
        const int left = std::max(lane.left(), msToX(stretch.beginMs));
        const int right = std::max(left + 1, std::min(lane.right() + 1, msToX(stretch.endMs)));
        const QRect bar(left, lane.top() + 3, right - left, lane.height() - 6);
        painter.fillRect(bar, kHeardColour);
        const QString on = QString::number(stretch.endMs - stretch.beginMs) + (stretch.cut ? QStringLiteral("+") : QString());
        if (painter.fontMetrics().horizontalAdvance(on) + 2 <= bar.width()) {
            painter.setPen(Qt::black);
            painter.drawText(bar, Qt::AlignCenter, on);
        }
        if (i + 1 < stretches.size()) {
            const int next = msToX(stretches[i + 1].beginMs);
            const QString off = QString::number(stretches[i + 1].beginMs - stretch.endMs);
            const QRect gap(right, lane.top(), next - right, lane.height());
            if (painter.fontMetrics().horizontalAdvance(off) + 2 <= gap.width()) {
                painter.setPen(QColor(190, 190, 190));
                painter.drawText(gap, Qt::AlignCenter, off);
            }
        }
    }
    painter.restore();
}

} // namespace parvane::draw
