#include "ui/controls/COptionTreeItemCheckBox.h"

#include "ui/controls/COptionTree.h"

#include <QCheckBox>
#include <QPainter>
#include <QStyleOptionButton>

namespace qarn {

bool COptionTreeItemCheckBox::CreateCheckBoxItem(bool checked) {
    if (!CanCreateEditor())
        return false;
    auto* box = new QCheckBox;
    box->setObjectName(QStringLiteral("ctl_%1").arg(GetID()));
    box->setAutoFillBackground(true);
    box->setBackgroundRole(QPalette::Base);
    box->setChecked(checked);
    QObject::connect(box, &QCheckBox::clicked, Context(), [this] {
        ShowState();
        NotifyChanged(); // last: the owner may delete the row
    });
    AdoptEditor(box);
    ShowState();
    return true;
}

QCheckBox* COptionTreeItemCheckBox::GetCheckBox() const {
    return static_cast<QCheckBox*>(Editor());
}

void COptionTreeItemCheckBox::SetCheck(bool checked) {
    if (QCheckBox* box = GetCheckBox(); box != nullptr) {
        box->setChecked(checked);
        ShowState();
    }
}

bool COptionTreeItemCheckBox::GetCheck() const {
    return GetCheckBox() != nullptr && GetCheckBox()->isChecked();
}

void COptionTreeItemCheckBox::SetCheckText(const QString& checked, const QString& unchecked) {
    m_checkedText = checked;
    m_uncheckedText = unchecked;
    ShowState();
}

QString COptionTreeItemCheckBox::GetWindowText() const {
    return GetCheck() ? m_checkedText : m_uncheckedText;
}

void COptionTreeItemCheckBox::ShowState() {
    if (QCheckBox* box = GetCheckBox(); box != nullptr) {
        box->setText(GetWindowText());
        GetTree()->UpdateTree();
    }
}

void COptionTreeItemCheckBox::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    const QCheckBox* box = GetCheckBox();
    if (box == nullptr)
        return;
    // Drawn as the open editor draws it, so that activating the row moves nothing.
    QStyleOptionButton option;
    option.initFrom(box);
    option.rect = rect;
    option.text = GetWindowText();
    option.state = QStyle::State_None;
    option.state |= GetCheck() ? QStyle::State_On : QStyle::State_Off;
    if (!IsReadOnly() && GetTree()->isEnabled())
        option.state |= QStyle::State_Enabled;
    option.palette.setColor(QPalette::WindowText, ValueTextColor());
    option.palette.setColor(QPalette::ButtonText, ValueTextColor());
    box->style()->drawControl(QStyle::CE_CheckBox, &option, &painter, box);
}

void COptionTreeItemCheckBox::OnActivate() {
    m_atActivation = GetCheck();
    COptionTreeItem::OnActivate();
}

void COptionTreeItemCheckBox::OnClickActivated(const QPoint& /*pos*/) {
    // The whole value is the check box: the click that opened it also toggles it.
    if (QCheckBox* box = GetCheckBox(); box != nullptr)
        box->click();
}

void COptionTreeItemCheckBox::RevertEdit() {
    SetCheck(m_atActivation);
}

} // namespace qarn
