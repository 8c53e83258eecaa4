#pragma once

// One of the four number fields of COptionTreeIPAddressCtrl. It takes digits only, keeps its
// value within 0 to 255, and hands the caret to its neighbours (see the control).

#include <QLineEdit>

namespace qarn {

class COptionTreeIPAddressCtrl;

class COptionTreeIPAddressEdit : public QLineEdit {
    Q_OBJECT

  public:
    COptionTreeIPAddressEdit(COptionTreeIPAddressCtrl* control, int index);

    // 0 to 255, or -1 when the field is blank.
    int Value() const;
    // The field was entered because the previous one filled up: a '.' typed next is the user
    // ending the full field by habit, not a request to skip this one.
    void EnteredByFilling() { m_swallowDot = true; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void Clamp();

    COptionTreeIPAddressCtrl* m_control;
    int m_index;
    bool m_swallowDot = false;
};

} // namespace qarn
