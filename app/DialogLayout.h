#pragma once
// Dialog templates laid out in dialog units, as the original platform does:
// the base units come from the dialog font (average width of the Latin
// letters, rounded, and the character height), and a rectangle of dialog
// units maps to pixels with x = du * width / 4 and y = du * height / 8.
//
// Texts of another language or another font may be wider than the rectangle
// the template gives them. FitStaticTexts widens such a static text into the
// free space beside it, or wraps it onto more lines growing upward (the
// statics of the main dialog are captions above or beside what they name);
// FindLayoutProblems lists what is still clipped or overlapping.

#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>

class QWidget;

namespace parvane {

struct DialogBaseUnits {
    int width = 0;  // average character width in pixels
    int height = 0; // character height in pixels
};

DialogBaseUnits DialogBaseUnitsOf(const QFont& font);

// A rectangle given in dialog units (x, y, width, height) in pixels.
QRect DialogUnitsToPixels(const QRect& dialogUnits, const DialogBaseUnits& units);

// Makes every visible QLabel child of the dialog show its whole text (see
// above). Centred labels are first narrowed to their text, keeping their
// centre. Call after each change of texts.
void FitStaticTexts(QWidget* dialog, const DialogBaseUnits& units);

// Visible controls (children carrying a control id) whose text does not fit
// or whose rectangles overlap, one line per problem; empty when the layout is
// clean. A group box may contain other controls.
QStringList FindLayoutProblems(const QWidget* dialog);

} // namespace parvane
