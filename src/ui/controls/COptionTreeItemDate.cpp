#include "ui/controls/COptionTreeItemDate.h"

#include "ui/controls/COptionTree.h"

#include <QDateTimeEdit>
#include <QLocale>
#include <QPainter>

namespace qarn {

namespace {

// The desktop's short format, but never a two-digit year: "M/d/yy" -> "M/d/yyyy".
QString ShortFormat(std::uint32_t options) {
    const QLocale locale;
    QString format;
    if ((options & COptionTreeItemDate::OptionTimeOnly) != 0)
        return locale.timeFormat(QLocale::ShortFormat);
    if ((options & COptionTreeItemDate::OptionDateTime) != 0)
        format = locale.dateTimeFormat(QLocale::ShortFormat);
    else
        format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy")))
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return format;
}

} // namespace

bool COptionTreeItemDate::CreateDateItem(std::uint32_t options, const QString& format) {
    if (!CanCreateEditor())
        return false;
    auto* edit = new QDateTimeEdit(QDateTime::currentDateTime());
    edit->setObjectName(QStringLiteral("ctl_%1").arg(GetID()));
    edit->setFrame(false);
    edit->setDisplayFormat(format.isEmpty() ? ShortFormat(options) : format);
    edit->setCalendarPopup((options & OptionTimeOnly) == 0);
    QObject::connect(edit, &QDateTimeEdit::dateTimeChanged, Context(),
                     [this] { GetTree()->UpdateTree(); });
    AdoptEditor(edit);
    return true;
}

QDateTimeEdit* COptionTreeItemDate::GetEdit() const {
    return static_cast<QDateTimeEdit*>(Editor());
}

void COptionTreeItemDate::SetDate(const QDateTime& value) {
    if (QDateTimeEdit* edit = GetEdit(); edit != nullptr)
        edit->setDateTime(value);
}

QDateTime COptionTreeItemDate::GetDate() const {
    return GetEdit() != nullptr ? GetEdit()->dateTime() : QDateTime();
}

void COptionTreeItemDate::SetRange(const QDateTime& minimum, const QDateTime& maximum) {
    if (QDateTimeEdit* edit = GetEdit(); edit != nullptr)
        edit->setDateTimeRange(minimum, maximum);
}

QString COptionTreeItemDate::GetWindowText() const {
    return GetEdit() != nullptr ? GetEdit()->text() : QString();
}

void COptionTreeItemDate::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    painter.setPen(ValueTextColor());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, GetWindowText());
}

void COptionTreeItemDate::OnActivate() {
    m_atActivation = GetDate();
    COptionTreeItem::OnActivate();
}

void COptionTreeItemDate::RevertEdit() {
    SetDate(m_atActivation);
}

} // namespace qarn
