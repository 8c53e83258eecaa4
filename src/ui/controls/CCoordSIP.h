#pragma once

// A small pad of keys for entering coordinates with the mouse or a touch screen: the digits,
// N S E W, '<' and '>' to move the caret, and 'X' to delete. It floats below its edit as a
// window that never takes the focus, so the keys reach the edit as if typed.

#include <QFrame>

class QLineEdit;

namespace qarn {

class CCoordSIP : public QFrame {
    Q_OBJECT

  public:
    // The pad's keys in order, four rows of five; a blank is an empty place.
    static constexpr const char* kKeys = "0123456789NSEW<>X   ";

    explicit CCoordSIP(QLineEdit* target);

    // Shows the pad right below `anchor` (global coordinates), inside the screen.
    void ShowBelow(const QRect& anchor);

  private:
    void Press(QChar key);

    QLineEdit* m_target;
};

} // namespace qarn
