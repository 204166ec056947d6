#pragma once
// Helpers shared by the wizard's pages for placing controls the way their dialog templates
// place them.

#include <QRect>

class DialogUnits;
class QLabel;

// The size of every page: the larger of the two templates (320 x 239 units), as a wizard sheet
// makes all its pages as large as its largest, and 12 units more at the bottom, where the
// download page shows the whole patch's progress or what failed.
constexpr int kPageWidthUnits = 320;
constexpr int kPageHeightUnits = 251;

// Puts the side banner (control 1002, at 7, 7 in both templates, 109 x 193 units) on label,
// drawn for the label's screen.
void PlaceSideBanner(QLabel* label, const DialogUnits& units);

// A text that needs more lines than its box holds is given them above the box, where both
// templates leave room, so that nothing is cut and the control below stays where it is.
void GrowLabelUpwards(QLabel* label, const QRect& box, int topLimit);
