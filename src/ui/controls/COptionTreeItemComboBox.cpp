#include "ui/controls/COptionTreeItemComboBox.h"

#include "ui/controls/COptionTree.h"

#include <algorithm>

#include <QComboBox>
#include <QCompleter>
#include <QLineEdit>
#include <QPainter>

namespace qarn {

bool COptionTreeItemComboBox::CreateComboItem(bool editable) {
    if (!CanCreateEditor())
        return false;
    auto* combo = new QComboBox;
    combo->setObjectName(QStringLiteral("ctl_%1").arg(GetID()));
    combo->setFrame(false);
    if (editable) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->completer()->setCompletionMode(QCompleter::InlineCompletion);
        combo->completer()->setCaseSensitivity(Qt::CaseInsensitive);
    }
    // A choice by the user, not one set by the owner; posted, because the combo box is still
    // inside its own handling, and the owner's handler may delete the row.
    QObject::connect(combo, &QComboBox::activated, Context(), [this] {
        GetTree()->UpdateTree();
        PostNotifyChanged();
    });
    AdoptEditor(combo);
    ApplyDropDownHeight();
    return true;
}

QComboBox* COptionTreeItemComboBox::GetCombo() const {
    return static_cast<QComboBox*>(Editor());
}

int COptionTreeItemComboBox::AddString(const QString& text, const QVariant& data) {
    QComboBox* combo = GetCombo();
    if (combo == nullptr)
        return -1;
    combo->addItem(text, data);
    ApplyDropDownHeight();
    return combo->count() - 1;
}

int COptionTreeItemComboBox::GetCount() const {
    return GetCombo() != nullptr ? GetCombo()->count() : 0;
}

void COptionTreeItemComboBox::SetCurSel(int index) {
    if (QComboBox* combo = GetCombo(); combo != nullptr) {
        combo->setCurrentIndex(index);
        GetTree()->UpdateTree();
    }
}

int COptionTreeItemComboBox::GetCurSel() const {
    return GetCombo() != nullptr ? GetCombo()->currentIndex() : -1;
}

QVariant COptionTreeItemComboBox::GetItemData(int index) const {
    return GetCombo() != nullptr ? GetCombo()->itemData(index) : QVariant();
}

QString COptionTreeItemComboBox::GetWindowText() const {
    return GetCombo() != nullptr ? GetCombo()->currentText() : QString();
}

void COptionTreeItemComboBox::SetDropDownHeight(int height) {
    m_dropDownHeight = std::max(1, height);
    ApplyDropDownHeight();
}

void COptionTreeItemComboBox::ApplyDropDownHeight() {
    QComboBox* combo = GetCombo();
    if (combo == nullptr)
        return;
    const int rowHeight = std::max(1, combo->fontMetrics().height() + 4);
    combo->setMaxVisibleItems(std::max(1, m_dropDownHeight / rowHeight));
}

void COptionTreeItemComboBox::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    painter.setPen(ValueTextColor());
    const QString shown =
        painter.fontMetrics().elidedText(GetWindowText(), Qt::ElideRight, rect.width());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void COptionTreeItemComboBox::OnActivate() {
    m_indexAtActivation = GetCurSel();
    m_textAtActivation = GetWindowText();
    COptionTreeItem::OnActivate();
}

void COptionTreeItemComboBox::RevertEdit() {
    QComboBox* combo = GetCombo();
    if (combo == nullptr)
        return;
    combo->setCurrentIndex(m_indexAtActivation);
    if (combo->isEditable())
        combo->setEditText(m_textAtActivation);
}

} // namespace qarn
