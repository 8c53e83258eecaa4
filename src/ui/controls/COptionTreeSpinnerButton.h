#pragma once

// The spinner's editor: the number edit on the left and the up and down arrows on the right,
// painted by the style as a spin box. A press steps once; held, it steps again after the
// style's auto-repeat delay and then at its repeat rate.

#include <QStyleOptionSpinBox>
#include <QTimer>
#include <QWidget>

namespace qarn {

class COptionTreeItemSpinner;
class COptionTreeSpinnerEdit;

class COptionTreeSpinnerButton : public QWidget {
    Q_OBJECT

  public:
    COptionTreeSpinnerButton(COptionTreeItemSpinner* item, bool editable);

    COptionTreeSpinnerEdit* GetEdit() const { return m_edit; }
    // The rectangles of the two arrows, in the button's coordinates.
    QRect UpRect() const;
    QRect DownRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void Repeat();
    QStyleOptionSpinBox StyleOption() const;

    COptionTreeItemSpinner* m_item;
    COptionTreeSpinnerEdit* m_edit;
    QTimer m_repeat;
    int m_pressed = 0; // +1 up, -1 down, 0 none
};

} // namespace qarn
