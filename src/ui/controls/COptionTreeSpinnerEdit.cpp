#include "ui/controls/COptionTreeSpinnerEdit.h"

#include "app/Resources.h"
#include "ui/controls/COptionTreeItemSpinner.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

namespace qarn {

namespace {

constexpr unsigned kUndo = 2110;
constexpr unsigned kCut = 2111;
constexpr unsigned kDelete = 2112;
constexpr unsigned kCopy = 2113;
constexpr unsigned kPaste = 2114;
constexpr unsigned kSelectAll = 2115;

bool Allowed(QChar c) {
    return c.isDigit() || c == u'.' || c == u',';
}

} // namespace

COptionTreeSpinnerEdit::COptionTreeSpinnerEdit(COptionTreeItemSpinner* item, bool editable,
                                               QWidget* parent)
    : QLineEdit(parent), m_item(item), m_editable(editable) {
    setFrame(false);
    setReadOnly(!editable);
}

void COptionTreeSpinnerEdit::InsertFiltered(const QString& text) {
    QString kept;
    for (const QChar c : text)
        if (Allowed(c))
            kept += c;
    if (!kept.isEmpty())
        insert(kept);
}

void COptionTreeSpinnerEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        m_item->Step(event->key() == Qt::Key_Up ? 1 : -1);
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        if (m_editable)
            InsertFiltered(QApplication::clipboard()->text());
        return;
    }
    const QString text = event->text();
    const bool printable = text.size() == 1 && text.at(0).isPrint();
    if (printable && (!m_editable || !Allowed(text.at(0))))
        return; // a letter is no number; without typing nothing is
    QLineEdit::keyPressEvent(event);
}

QMenu* COptionTreeSpinnerEdit::CreateContextMenu() {
    auto* menu = new QMenu(this);
    const bool selection = hasSelectedText();
    auto add = [&](unsigned id, bool enabled, auto action) {
        QAction* entry = menu->addAction(ResourceString(id), this, action);
        entry->setEnabled(enabled);
        return entry;
    };
    add(kUndo, m_editable && isUndoAvailable(), [this] { undo(); });
    menu->addSeparator();
    add(kCut, m_editable && selection, [this] { cut(); });
    add(kCopy, selection, [this] { copy(); });
    add(kPaste, m_editable && !QApplication::clipboard()->text().isEmpty(),
        [this] { InsertFiltered(QApplication::clipboard()->text()); });
    add(kDelete, m_editable && selection, [this] { del(); });
    menu->addSeparator();
    add(kSelectAll, m_editable && !text().isEmpty(), [this] { selectAll(); });
    return menu;
}

void COptionTreeSpinnerEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

} // namespace qarn
