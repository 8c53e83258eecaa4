#pragma once

// A row that holds a number in a range, edited with arrow buttons (held down they repeat), the
// Up and Down keys, and with OptionEdit by typing. Releasing an arrow button tells the owner at
// once (-1105); typed text is committed when the editor is left.
//
//     spinner->CreateSpinnerItem(COptionTreeItemSpinner::OptionEdit, 5000, 0, 65535);

#include "ui/controls/COptionTreeItem.h"

#include <cstdint>

namespace qarn {

class COptionTreeSpinnerButton;
class COptionTreeSpinnerEdit;

class COptionTreeItemSpinner : public COptionTreeItem {
  public:
    enum Option : std::uint32_t {
        OptionEdit = 0x400,     // the user may type: digits, '.' and ','
        OptionStep100 = 0x4000, // a step is 100 instead of 1
        OptionWrap = 0x40000,   // a step past one end goes to the other end
    };

    COptionTreeItemSpinner() = default;

    // The editor with its options, value and range; false when the item is not in a tree yet
    // or has an editor already.
    bool CreateSpinnerItem(std::uint32_t options, double value, double minimum, double maximum);

    // The edit's text read as a number, its leading part only: "12.5 m" -> 12.5, "" -> 0.
    double GetValue() const;
    // Writes the value with the item's number of decimals (0: "5000").
    void SetValue(double value);
    QString GetEditText() const;
    void SetEditText(const QString& text);
    void SetRange(double minimum, double maximum);
    double GetMinimum() const { return m_minimum; }
    double GetMaximum() const { return m_maximum; }
    void SetDecimals(int decimals);
    std::uint32_t GetOptions() const { return m_options; }

    // One step up (+1) or down (-1). A step past the range is refused, or wraps with
    // OptionWrap; from a value outside the range it lands on the nearer end. True when the
    // value changed.
    bool Step(int direction);
    // The arrow button was let go: the owner hears of the new value at once.
    void ButtonReleased();

    COptionTreeSpinnerButton* GetButton() const;
    COptionTreeSpinnerEdit* GetEdit() const;

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    void RevertEdit() override;

  private:
    std::uint32_t m_options = 0;
    double m_minimum = 0;
    double m_maximum = 0;
    int m_decimals = 0;
    QString m_atActivation;
};

} // namespace qarn
