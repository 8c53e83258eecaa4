#include "ui/controls/COptionTreeItemMaskedEdit.h"

#include "ui/controls/CCoordSIP.h"
#include "ui/controls/COptionTree.h"
#include "ui/controls/CmEdit.h"

#include <algorithm>

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

namespace qarn {

COptionTreeItemMaskedEdit::COptionTreeItemMaskedEdit() = default;

COptionTreeItemMaskedEdit::~COptionTreeItemMaskedEdit() = default;

bool COptionTreeItemMaskedEdit::CreateMaskedEditItem(std::uint32_t options) {
    if (!CanCreateEditor())
        return false;
    m_options = options;
    auto* edit = new CmEdit;
    edit->setObjectName(QStringLiteral("ctl_%1").arg(GetID()));
    edit->setFrame(false);
    AdoptEditor(edit);
    return true;
}

CmEdit* COptionTreeItemMaskedEdit::GetEdit() const {
    return static_cast<CmEdit*>(Editor());
}

void COptionTreeItemMaskedEdit::SetMask(const QString& mask) {
    if (CmEdit* edit = GetEdit(); edit != nullptr) {
        edit->SetMask(mask);
        GetTree()->UpdateTree();
    }
}

void COptionTreeItemMaskedEdit::SetEditText(const QString& text) {
    if (CmEdit* edit = GetEdit(); edit != nullptr) {
        edit->SetEditText(text);
        GetTree()->UpdateTree();
    }
}

QString COptionTreeItemMaskedEdit::GetInputText(int start, int count) const {
    const CmEdit* edit = GetEdit();
    return edit != nullptr ? edit->GetInputText(start, count) : QString();
}

QString COptionTreeItemMaskedEdit::GetWindowText() const {
    const CmEdit* edit = GetEdit();
    return edit != nullptr ? edit->text() : QString();
}

void COptionTreeItemMaskedEdit::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    painter.setPen(ValueTextColor());
    const QString shown =
        painter.fontMetrics().elidedText(GetWindowText(), Qt::ElideRight, rect.width());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void COptionTreeItemMaskedEdit::OnActivate() {
    m_atActivation = GetWindowText();
    COptionTreeItem::OnActivate();
    if ((GetTree()->GetOptions() & COptionTree::OptionCoordinatePad) != 0 && GetEdit() != nullptr) {
        if (m_pad == nullptr)
            m_pad = new CCoordSIP(GetEdit());
        PlacePad();
    }
}

void COptionTreeItemMaskedEdit::PlacePad() {
    CmEdit* edit = GetEdit();
    if (m_pad == nullptr || edit == nullptr || !IsActivated())
        return;
    m_pad->ShowBelow(QRect(edit->mapToGlobal(QPoint(0, 0)), edit->size()));
}

void COptionTreeItemMaskedEdit::OnMove() {
    COptionTreeItem::OnMove();
    if (m_pad != nullptr && m_pad->isVisible())
        PlacePad();
}

void COptionTreeItemMaskedEdit::OnCommit() {
    if (m_pad != nullptr)
        m_pad->hide();
    COptionTreeItem::OnCommit();
}

void COptionTreeItemMaskedEdit::OnDestroyEditor() {
    if (m_pad != nullptr)
        m_pad->hide();
    m_pad = nullptr; // a child of the edit: it goes with it
    COptionTreeItem::OnDestroyEditor();
}

void COptionTreeItemMaskedEdit::RevertEdit() {
    CmEdit* edit = GetEdit();
    if (edit == nullptr)
        return;
    // Empty, then each position typed back where it was: SetEditText alone would close the
    // gaps of a half-filled value ("00 _a" would come back as "0a __").
    edit->SetEditText(QString());
    const QString empty = edit->text();
    const QChar prompt = edit->PromptChar();
    for (qsizetype i = 0; i < std::min(empty.size(), m_atActivation.size()); ++i) {
        const QChar ch = m_atActivation.at(i);
        if (empty.at(i) != prompt || ch == prompt)
            continue;
        edit->setSelection(static_cast<int>(i), 1);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(edit, &key);
    }
}

} // namespace qarn
