#include "ui/qt/page_layout.h"

#include <QLabel>
#include <algorithm>

#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_application.h"

void PlaceSideBanner(QLabel* label, const DialogUnits& units) {
    const QRect box = units.ToPixels(7, 7, 109, 193);
    // The banner keeps its shape: it fills the box's height or width, whichever it meets first.
    QSize size(kSideBannerWidth, kSideBannerHeight);
    size.scale(box.size(), Qt::KeepAspectRatio);
    label->setGeometry(QRect(box.topLeft(), size));
    label->setPixmap(SideBanner(size, label->devicePixelRatioF()));
}

void GrowLabelUpwards(QLabel* label, const QRect& box, int topLimit) {
    QRect placed = box;
    const int needed = label->heightForWidth(box.width());
    if (needed > box.height())
        placed.setTop(std::max(topLimit, box.bottom() + 1 - needed));
    label->setGeometry(placed);
}
