#include "ui/controls/PopUpPlacement.h"

#include <algorithm>

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace qarn {

void ShowPopUpBelow(QWidget* popup, const QRect& anchor) {
    popup->adjustSize();
    QPoint place = anchor.bottomLeft() + QPoint(0, 1);
    if (const QScreen* screen = QGuiApplication::screenAt(anchor.center()); screen != nullptr) {
        const QRect room = screen->availableGeometry();
        if (place.y() + popup->height() > room.bottom())
            place.setY(anchor.top() - popup->height() - 1);
        place.setX(std::clamp(place.x(), room.left(),
                              std::max(room.left(), room.right() - popup->width())));
    }
    popup->move(place);
    popup->show();
}

} // namespace qarn
