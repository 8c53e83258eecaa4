#include "ui/DeviceListDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace qarn {

void DeviceListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const QWidget* view = option.widget;
    const QStyle* style = view != nullptr ? view->style() : QApplication::style();
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                               : QPalette::Inactive;
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
    QColor colour = option.palette.color(group, QPalette::Text);
    if (selected) {
        colour = option.palette.color(group, QPalette::HighlightedText);
    } else if (group != QPalette::Disabled) {
        const QVariant foreground = index.data(Qt::ForegroundRole);
        if (foreground.canConvert<QColor>())
            colour = foreground.value<QColor>();
    }
    // The same room around the text as the style gives a cell.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QRect room = option.rect.adjusted(margin, 0, -margin, 0);
    const QString text = index.data(Qt::DisplayRole).toString();
    painter->save();
    painter->setPen(colour);
    painter->setFont(option.font);
    // Cut at the cell's edge: the columns grow to their widest text, so only a column the user
    // made narrower cuts anything.
    painter->drawText(room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}

} // namespace qarn
