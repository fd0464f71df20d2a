#pragma once
// Drawing shared by the pictures of what was heard on a line: parvane-cli's
// --plot and the live spectrum window. The colour map and decibel scale of a
// spectrogram, and the strip of the stretches in which the tone was heard
// with their on times in the bars and their off times in the gaps.
//
// Qt Gui only (QImage, QPainter), so the headless front end can draw with it
// on the offscreen platform without linking the widgets.
//
//   const QColor c = parvane::draw::Heat(parvane::draw::DbLevel(db, -10, -100));
//   parvane::draw::DrawFrequencyRuler(painter, area, 2400, 400, 100, 900, text, hzToY);
//   parvane::draw::DrawHeardStrip(painter, lane, stretches, msToX);

#include <QColor>
#include <QRect>

#include <functional>
#include <vector>

class QPainter;

namespace parvane::draw {

// Black through blue, red and yellow to white for 0..1 (clamped).
QColor Heat(double level);

// Where `db` lies between `floorDb` (0, black) and `topDb` (1, white).
double DbLevel(double db, double topDb, double floorDb);

// 10 log10 of a power, with a floor so that an empty bin stays finite.
double PowerDb(double power);

// A stretch in which the tone was heard, in ms on the strip's time axis
// (end excluded). `cut`: it reaches past an end of what is shown, so its on
// time is longer than drawn.
struct StripStretch {
    int beginMs = 0;
    int endMs = 0;
    bool cut = false;
};

inline const QColor kHeardColour(80, 220, 60);
inline const QColor kStripColour(45, 45, 52);

// The frequency ruler left of `area`: a tick and its number every `stepHz`
// from 0 to `topHz`, in `text`; and the edges of the counted band
// (`bandLowHz`, `bandHighHz`) as dashed lines across `area`. `hzToY` maps
// a frequency to a y of the picture.
void DrawFrequencyRuler(QPainter& painter, const QRect& area, int topHz, int stepHz, double bandLowHz,
                        double bandHighHz, const QColor& text, const std::function<int(double)>& hzToY);

// Fills `lane`, draws each stretch as a bar with its on time inside and the
// off time between two stretches in the gap (where the number fits).
// `msToX` maps a time of the strip to an x of the picture.
void DrawHeardStrip(QPainter& painter, const QRect& lane, const std::vector<StripStretch>& stretches,
                    const std::function<int(int)>& msToX);

} // namespace parvane::draw
