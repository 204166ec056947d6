#include "ui/qt/dialog_units.h"

#include <QFontMetrics>
#include <QString>

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width is taken over the 52 Latin letters and rounded half up, the way the
    // dialog templates' own system measures it, so that a layout lands on the same pixels.
    static const QString kLetters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int letters = metrics.horizontalAdvance(kLetters);
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
    if (m_baseX < 1)
        m_baseX = 1;
    if (m_baseY < 1)
        m_baseY = 1;
}

int DialogUnits::X(int units) const {
    return (units * m_baseX + 2) / 4;
}

int DialogUnits::Y(int units) const {
    return (units * m_baseY + 4) / 8;
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const {
    // Convert the edges, not the sizes, so that neighbours meet where the layout says.
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize DialogUnits::ToPixels(int width, int height) const {
    return QSize(X(width), Y(height));
}
