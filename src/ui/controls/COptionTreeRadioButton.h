#pragma once

// The radio row's editor: one radio button per choice, one per line of `lineHeight` pixels.
// The buttons take no focus of their own; the editor does, and moves the check with Up and
// Down. A click on a choice reports it through the callback.

#include <functional>
#include <vector>

#include <QWidget>

class QRadioButton;

namespace qarn {

class COptionTreeRadioButton : public QWidget {
    Q_OBJECT

  public:
    explicit COptionTreeRadioButton(int lineHeight);

    int AddChoice(const QString& text);
    int Count() const { return static_cast<int>(m_buttons.size()); }
    QRadioButton* Choice(int index) const;
    int Checked() const; // -1 when none is
    void SetChecked(int index);
    int LineHeight() const { return m_lineHeight; }
    // Called when a choice was clicked (by mouse or Space), after it is checked.
    void SetOnClicked(std::function<void(int)> onClicked) { m_onClicked = std::move(onClicked); }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    int m_lineHeight;
    std::vector<QRadioButton*> m_buttons;
    std::function<void(int)> m_onClicked;
};

} // namespace qarn
