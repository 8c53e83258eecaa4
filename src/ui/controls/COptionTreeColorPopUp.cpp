#include "ui/controls/COptionTreeColorPopUp.h"

#include "app/Resources.h"
#include "ui/controls/PopUpPlacement.h"

#include <algorithm>
#include <array>

#include <QApplication>
#include <QColorDialog>
#include <QGridLayout>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace qarn {

namespace {

constexpr unsigned kAutomaticText = 2106;
constexpr unsigned kMoreColoursText = 2107;
constexpr int kColumns = 8;
constexpr int kSwatch = 14;

// Forty colours in rows from dark to light, the choice an office program offers.
constexpr std::array<QRgb, 40> kColours = {
    0x000000, 0x993300, 0x333300, 0x003300, 0x003366, 0x000080, 0x333399, 0x333333,
    0x800000, 0xFF6600, 0x808000, 0x008000, 0x008080, 0x0000FF, 0x666699, 0x808080,
    0xFF0000, 0xFF9900, 0x99CC00, 0x339966, 0x33CCCC, 0x3366FF, 0x800080, 0x999999,
    0xFF00FF, 0xFFCC00, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x00CCFF, 0x993366, 0xC0C0C0,
    0xFF99CC, 0xFFCC99, 0xFFFF99, 0xCCFFCC, 0xCCFFFF, 0x99CCFF, 0xCC99FF, 0xFFFFFF,
};

QIcon Swatch(const QColor& colour) {
    QPixmap pixmap(kSwatch, kSwatch);
    pixmap.fill(colour);
    QPainter painter(&pixmap);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(0, 0, kSwatch - 1, kSwatch - 1);
    return QIcon(pixmap);
}

} // namespace

COptionTreeColorPopUp::COptionTreeColorPopUp(QWidget* parent, const QColor& current,
                                             const QColor& automatic, Done done)
    : QFrame(parent, Qt::Popup), m_current(current), m_done(std::move(done)) {
    setObjectName(QStringLiteral("colorPopUp"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    auto* automaticButton = new QPushButton(Swatch(automatic), ResourceString(kAutomaticText));
    automaticButton->setObjectName(QStringLiteral("automatic"));
    connect(automaticButton, &QPushButton::clicked, this, [this, automatic] { Pick(automatic); });
    layout->addWidget(automaticButton);

    auto* grid = new QGridLayout;
    grid->setSpacing(2);
    for (std::size_t i = 0; i < kColours.size(); ++i) {
        const QColor colour = QColor::fromRgb(kColours[i]);
        auto* button = new QToolButton;
        button->setObjectName(QStringLiteral("colour_%1").arg(colour.name().mid(1)));
        button->setIcon(Swatch(colour));
        button->setIconSize(QSize(kSwatch, kSwatch));
        button->setAutoRaise(true);
        button->setCheckable(true);
        button->setChecked(colour == current);
        button->setToolTip(QStringLiteral("RGB (%1, %2, %3)")
                               .arg(colour.red())
                               .arg(colour.green())
                               .arg(colour.blue()));
        connect(button, &QToolButton::clicked, this, [this, colour] { Pick(colour); });
        const int index = static_cast<int>(i);
        grid->addWidget(button, index / kColumns, index % kColumns);
    }
    layout->addLayout(grid);

    auto* more = new QPushButton(ResourceString(kMoreColoursText));
    more->setObjectName(QStringLiteral("moreColours"));
    connect(more, &QPushButton::clicked, this, &COptionTreeColorPopUp::MoreColours);
    layout->addWidget(more);
}

void COptionTreeColorPopUp::ShowBelow(const QRect& anchor) {
    ShowPopUpBelow(this, anchor);
}

void COptionTreeColorPopUp::Pick(const QColor& color) {
    m_picked = color;
    close();
}

void COptionTreeColorPopUp::MoreColours() {
    // The dialog is a window of its own; the pop-up makes way for it and reports its result.
    QWidget* owner = parentWidget();
    const QColor start = m_current;
    Done done = std::exchange(m_done, nullptr);
    m_reported = true;
    close();
    const QString title = ResourceString(kMoreColoursText).remove(QChar(0x2026)).trimmed();
    auto* dialog = new QColorDialog(start, owner);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(title);
    connect(dialog, &QColorDialog::finished, dialog, [dialog, done](int result) {
        if (done)
            done(result == QDialog::Accepted ? std::optional<QColor>(dialog->selectedColor())
                                             : std::nullopt);
    });
    dialog->open();
}

void COptionTreeColorPopUp::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    if (m_reported)
        return;
    m_reported = true;
    // After the pop-up has gone: the owner's handler may open windows or delete the row.
    if (Done done = std::exchange(m_done, nullptr); done)
        QTimer::singleShot(0, parentWidget(), [done, picked = m_picked] { done(picked); });
}

} // namespace qarn
