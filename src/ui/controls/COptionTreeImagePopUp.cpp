#include "ui/controls/COptionTreeImagePopUp.h"

#include "ui/controls/PopUpPlacement.h"

#include <algorithm>

#include <QApplication>
#include <QGridLayout>
#include <QTimer>
#include <QToolButton>

namespace qarn {

COptionTreeImagePopUp::COptionTreeImagePopUp(QWidget* parent, const std::vector<QPixmap>& images,
                                             const QStringList& texts, int selected, int columns,
                                             Done done)
    : QFrame(parent, Qt::Popup), m_done(std::move(done)) {
    setObjectName(QStringLiteral("imagePopUp"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(2);
    columns = std::max(1, columns);
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int index = static_cast<int>(i);
        auto* button = new QToolButton;
        button->setObjectName(QStringLiteral("image_%1").arg(index));
        button->setIcon(QIcon(images[i]));
        button->setIconSize(images[i].deviceIndependentSize().toSize());
        button->setAutoRaise(true);
        button->setCheckable(true);
        button->setChecked(index == selected);
        if (index < texts.size())
            button->setToolTip(texts.at(index));
        connect(button, &QToolButton::clicked, this, [this, index] {
            m_picked = index;
            close();
        });
        grid->addWidget(button, index / columns, index % columns);
    }
}

void COptionTreeImagePopUp::ShowBelow(const QRect& anchor) {
    ShowPopUpBelow(this, anchor);
}

void COptionTreeImagePopUp::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    // After the pop-up has gone: the owner's handler may open windows or delete the row.
    if (Done done = std::exchange(m_done, nullptr); done)
        QTimer::singleShot(0, parentWidget(), [done, picked = m_picked] { done(picked); });
}

} // namespace qarn
