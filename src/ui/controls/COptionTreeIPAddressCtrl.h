#pragma once

// The editor of an IP-address row: four number fields of 0 to 255 side by side, with the dots
// between them painted by the control. Typing moves on by itself: '.' or a blank ends a field,
// the third digit fills it; Left, Right and Backspace cross into the neighbouring field at its
// edge, and a pasted dotted address spreads over the fields.

#include <array>
#include <cstdint>

#include <QWidget>

namespace qarn {

class COptionTreeIPAddressEdit;

class COptionTreeIPAddressCtrl : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kFields = 4;

    explicit COptionTreeIPAddressCtrl(QWidget* parent = nullptr);

    // The address in host order (first field in bits 31 to 24), as the owner writes it.
    void SetAddress(std::uint32_t address);
    // The address in host order, blank fields as 0; the number of fields that are not blank.
    int GetAddress(std::uint32_t& address) const;
    void ClearAddress();
    bool IsBlank() const;
    // Field values, -1 for a blank field.
    std::array<int, kFields> GetFields() const;
    COptionTreeIPAddressEdit* Field(int index) const { return m_fields.at(index); }

    // Puts the focus into field `index` (0 to 3) with its text selected, or with the caret at
    // its start or end.
    enum class Caret { SelectAll, Start, End };
    void FocusField(int index, Caret caret);
    // Spreads a pasted text from field `index` on: "10.0.0.1" fills four fields, "12" one.
    void PasteText(int index, const QString& text);

  signals:
    void AddressChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    std::array<COptionTreeIPAddressEdit*, kFields> m_fields{};
};

} // namespace qarn
