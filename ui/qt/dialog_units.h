#pragma once
// Dialog units, the coordinates the launcher's page layouts were drawn in: a horizontal unit is
// a quarter of the dialog font's average character width, a vertical unit an eighth of its
// height. Converting through the font in use keeps the layout's proportions whatever the font
// and the screen density.

#include <QFont>
#include <QRect>
#include <QSize>

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    QRect ToPixels(int x, int y, int width, int height) const;
    QSize ToPixels(int width, int height) const;

  private:
    int X(int units) const;
    int Y(int units) const;

    // Pixels per four horizontal units and per eight vertical units.
    int m_baseX;
    int m_baseY;
};
