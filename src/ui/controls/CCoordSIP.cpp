#include "ui/controls/CCoordSIP.h"

#include "ui/controls/PopUpPlacement.h"

#include <algorithm>

#include <QApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

namespace qarn {

namespace {

constexpr int kColumns = 5;

} // namespace

CCoordSIP::CCoordSIP(QLineEdit* target)
    : QFrame(target, Qt::ToolTip | Qt::FramelessWindowHint), m_target(target) {
    setObjectName(QStringLiteral("coordinatePad"));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(2, 2, 2, 2);
    grid->setSpacing(1);
    const QString keys = QString::fromLatin1(kKeys);
    for (int i = 0; i < keys.size(); ++i) {
        const QChar key = keys.at(i);
        if (key == u' ')
            continue;
        auto* button = new QToolButton(this);
        button->setText(QString(key));
        button->setObjectName(QStringLiteral("key_%1").arg(key));
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRaise(false);
        button->setMinimumSize(24, 22);
        connect(button, &QToolButton::clicked, this, [this, key] { Press(key); });
        grid->addWidget(button, i / kColumns, i % kColumns);
    }
}

void CCoordSIP::ShowBelow(const QRect& anchor) {
    ShowPopUpBelow(this, anchor);
    raise();
}

void CCoordSIP::Press(QChar key) {
    // The edit handles the keys exactly as typed ones, masks included.
    Qt::Key code = Qt::Key_unknown;
    QString text;
    if (key == u'<')
        code = Qt::Key_Left;
    else if (key == u'>')
        code = Qt::Key_Right;
    else if (key == u'X')
        code = Qt::Key_Delete;
    else
        text = QString(key);
    if (!text.isEmpty())
        code = static_cast<Qt::Key>(key.toUpper().unicode());
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QApplication::sendEvent(m_target, &press);
    QApplication::sendEvent(m_target, &release);
}

} // namespace qarn
