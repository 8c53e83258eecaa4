#pragma once

// A row with a date, or a date and time, edited with the style's date edit and its calendar
// pop-up. The closed value is the edit's text, in the desktop's short format with the full year.

#include "ui/controls/COptionTreeItem.h"

#include <cstdint>

#include <QDateTime>

class QDateTimeEdit;

namespace qarn {

class COptionTreeItemDate : public COptionTreeItem {
  public:
    enum Option : std::uint32_t {
        OptionDateTime = 0x1, // date and time instead of the date alone
        OptionTimeOnly = 0x2, // the time alone
    };

    COptionTreeItemDate() = default;

    // The editor; `format` overrides the desktop's short format ("yyyy-MM-dd"). False when the
    // item is not in a tree yet or has an editor already.
    bool CreateDateItem(std::uint32_t options = 0, const QString& format = {});

    void SetDate(const QDateTime& value);
    QDateTime GetDate() const;
    void SetRange(const QDateTime& minimum, const QDateTime& maximum);
    QString GetWindowText() const;
    QDateTimeEdit* GetEdit() const;

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    void RevertEdit() override;

  private:
    QDateTime m_atActivation;
};

} // namespace qarn
