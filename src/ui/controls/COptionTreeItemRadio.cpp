#include "ui/controls/COptionTreeItemRadio.h"

#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeRadioButton.h"

#include <QPainter>
#include <QRadioButton>
#include <QStyleOptionButton>

namespace qarn {

bool COptionTreeItemRadio::CreateRadioItem() {
    if (!CanCreateEditor())
        return false;
    auto* radios = new COptionTreeRadioButton(GetTree()->GetDefaultRowHeight());
    radios->setObjectName(QStringLiteral("ctl_%1").arg(GetID()));
    radios->SetOnClicked([this](int) {
        GetTree()->UpdateTree();
        Commit(true); // last: the owner may delete the row
    });
    AdoptEditor(radios);
    return true;
}

COptionTreeRadioButton* COptionTreeItemRadio::GetRadios() const {
    return static_cast<COptionTreeRadioButton*>(Editor());
}

int COptionTreeItemRadio::InsertNewRadio(const QString& text, bool checked) {
    COptionTreeRadioButton* radios = GetRadios();
    if (radios == nullptr)
        return -1;
    const int index = radios->AddChoice(text);
    if (checked)
        radios->SetChecked(index);
    SetItemHeight(radios->Count() * radios->LineHeight());
    GetTree()->UpdateTree();
    return index;
}

int COptionTreeItemRadio::GetCheckedRadio() const {
    return GetRadios() != nullptr ? GetRadios()->Checked() : -1;
}

void COptionTreeItemRadio::CheckRadio(int index) {
    if (COptionTreeRadioButton* radios = GetRadios(); radios != nullptr) {
        radios->SetChecked(index);
        GetTree()->UpdateTree();
    }
}

int COptionTreeItemRadio::GetRadioCount() const {
    return GetRadios() != nullptr ? GetRadios()->Count() : 0;
}

void COptionTreeItemRadio::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    const COptionTreeRadioButton* radios = GetRadios();
    if (radios == nullptr)
        return;
    // Each choice as the open editor draws it, so that activating the row moves nothing.
    for (int i = 0; i < radios->Count(); ++i) {
        const QRadioButton* button = radios->Choice(i);
        QStyleOptionButton option;
        option.initFrom(button);
        option.rect = QRect(rect.left(), rect.top() + i * radios->LineHeight(), rect.width(),
                            radios->LineHeight());
        option.text = button->text();
        option.state = button->isChecked() ? QStyle::State_On : QStyle::State_Off;
        if (!IsReadOnly() && GetTree()->isEnabled())
            option.state |= QStyle::State_Enabled;
        option.palette.setColor(QPalette::WindowText, ValueTextColor());
        option.palette.setColor(QPalette::ButtonText, ValueTextColor());
        button->style()->drawControl(QStyle::CE_RadioButton, &option, &painter, button);
    }
}

void COptionTreeItemRadio::OnActivate() {
    m_atActivation = GetCheckedRadio();
    COptionTreeItem::OnActivate();
}

void COptionTreeItemRadio::OnClickActivated(const QPoint& pos) {
    COptionTreeRadioButton* radios = GetRadios();
    if (radios == nullptr || radios->LineHeight() <= 0)
        return;
    const int line = (pos.y() - GetValueRect().top()) / radios->LineHeight();
    if (QRadioButton* button = radios->Choice(line); button != nullptr)
        button->click();
}

void COptionTreeItemRadio::RevertEdit() {
    CheckRadio(m_atActivation);
}

} // namespace qarn
