#include "ui/controls/COptionTreeItemEdit.h"

#include "ui/controls/COptionTree.h"

#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>

namespace qarn {

bool COptionTreeItemEdit::CreateEditItem(std::uint32_t options) {
    if (!CanCreateEditor())
        return false;
    m_options = options;
    QWidget* editor = nullptr;
    if (Multiline()) {
        auto* edit = new QPlainTextEdit;
        edit->setFrameStyle(QFrame::NoFrame);
        edit->setTabChangesFocus(true);
        edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        editor = edit;
    } else {
        auto* edit = new QLineEdit;
        edit->setFrame(false);
        if ((options & OptionPassword) != 0)
            edit->setEchoMode(QLineEdit::Password);
        if ((options & OptionNumerical) != 0)
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[0-9]*")), edit));
        editor = edit;
    }
    editor->setObjectName(QStringLiteral("ctl_%1").arg(GetID()));
    AdoptEditor(editor);
    return true;
}

void COptionTreeItemEdit::SetEditText(const QString& text) {
    if (auto* line = qobject_cast<QLineEdit*>(Editor()); line != nullptr)
        line->setText(text);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(Editor()); plain != nullptr)
        plain->setPlainText(text);
    else
        return;
    GetTree()->UpdateTree();
}

QString COptionTreeItemEdit::GetEditText() const {
    if (const auto* line = qobject_cast<const QLineEdit*>(Editor()); line != nullptr)
        return line->text();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(Editor()); plain != nullptr)
        return plain->toPlainText();
    return {};
}

void COptionTreeItemEdit::DrawValue(QPainter& painter, const QRect& rect) {
    COptionTreeItem::DrawValue(painter, rect);
    painter.setPen(ValueTextColor());
    QString text = GetEditText();
    if ((m_options & OptionPassword) != 0 && !Multiline())
        text = QString(text.size(), QChar(0x25CF));
    if (Multiline()) {
        const int margin = GetTree()->GetMargin() / 2;
        painter.drawText(rect.adjusted(0, margin, 0, -margin),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
        return;
    }
    const QString shown = painter.fontMetrics().elidedText(text, Qt::ElideRight, rect.width());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void COptionTreeItemEdit::OnActivate() {
    m_atActivation = GetEditText();
    COptionTreeItem::OnActivate();
    if (auto* line = qobject_cast<QLineEdit*>(Editor()); line != nullptr)
        line->selectAll();
}

void COptionTreeItemEdit::RevertEdit() {
    SetEditText(m_atActivation);
}

bool COptionTreeItemEdit::CommitsOnEnter() const {
    return !Multiline() || (m_options & OptionWantReturn) == 0;
}

void COptionTreeItemEdit::SetItemHeight(int height) {
    // The editor follows at the next layout, which places it over the new value rectangle.
    COptionTreeItem::SetItemHeight(height);
    if (GetTree() != nullptr)
        GetTree()->UpdateTree();
}

} // namespace qarn
