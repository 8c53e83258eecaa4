#include "ui/controls/CmEdit.h"

#include <algorithm>
#include <cstdint>

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace qarn {

namespace {

// Adds x..y to a character set; nothing when x > y.
void AddRange(QString& set, QChar x, QChar y) {
    for (int code = x.unicode(); code <= y.unicode(); ++code)
        set += QChar(static_cast<char16_t>(code));
}

} // namespace

CmEdit::CmEdit(QWidget* parent) : QLineEdit(parent) {
    // Drops and dragged text would bring in text behind the mask's back; the edit's menu (with
    // its paste) is held off in contextMenuEvent.
    setAcceptDrops(false);
    setDragEnabled(false);
}

std::vector<CmEditChar> CmEdit::ParseMask(const QString& mask) {
    std::vector<CmEditChar> positions;
    const qsizetype length = mask.size();
    bool inClass = false;
    QString set;
    for (qsizetype i = 0; i < length;) {
        const QChar c = mask[i];
        const bool hasNext = i + 1 < length;
        if (!inClass) {
            if (c == QLatin1Char('[')) {
                inClass = true;
                set.clear();
                i += 1;
            } else if (c == QLatin1Char('\\') && hasNext && mask[i + 1] == QLatin1Char('[')) {
                positions.push_back(CmEditChar::Literal(QLatin1Char('[')));
                i += 2;
            } else {
                positions.push_back(CmEditChar::Literal(c));
                i += 1;
            }
        } else if (c == QLatin1Char(']')) {
            positions.push_back(CmEditChar::Input(set));
            inClass = false;
            i += 1;
        } else if (c != QLatin1Char('\\') && i + 2 < length && mask[i + 1] == QLatin1Char('-')) {
            AddRange(set, c, mask[i + 2]);
            i += 3;
        } else if (c == QLatin1Char('\\') && hasNext && mask[i + 1] == QLatin1Char(']')) {
            set += QLatin1Char(']');
            i += 2;
        } else {
            set += c;
            i += 1;
        }
    }
    // A class still open at the end of the mask ends there.
    if (inClass)
        positions.push_back(CmEditChar::Input(set));
    return positions;
}

void CmEdit::SetMask(const QString& mask) {
    m_positions = ParseMask(mask);
    Refresh();
    PlaceCaret(0, 0);
}

void CmEdit::SetEditText(const QString& text) {
    const Selection before = GetSel();
    for (CmEditChar& position : m_positions)
        position.Empty();
    SetSel(0, PositionCount());
    Insert(text);
    // Back to the selection of before, as far as it still fits, starting on an input position.
    const int n = PositionCount();
    int start = std::clamp(before.start, 0, n);
    while (start < n && !IsInput(start))
        ++start;
    SetSel(start, std::max(start, std::clamp(before.end, 0, n)));
}

QString CmEdit::GetInputText(int start, int count) const {
    const int n = PositionCount();
    if (start < 0 || start >= n)
        start = 0;
    const std::int64_t wanted = std::int64_t{start} + count;
    const int end = count < 0 || wanted > n ? n : static_cast<int>(wanted);
    QString text;
    for (int p = start; p < end; ++p) {
        const CmEditChar& position = m_positions[static_cast<size_t>(p)];
        if (position.IsInput() && !position.Char().isNull())
            text += position.Char();
    }
    return text;
}

CmEdit::Selection CmEdit::GetSel() const {
    if (hasSelectedText())
        return {selectionStart(), selectionEnd()};
    return {cursorPosition(), cursorPosition()};
}

void CmEdit::SetSel(int start, int end) {
    const int n = PositionCount();
    start = std::clamp(start, 0, n);
    end = std::clamp(end, start, n);
    if (start == end)
        setCursorPosition(start);
    else
        setSelection(start, end - start);
}

bool CmEdit::IsInput(int position) const {
    return position >= 0 && position < PositionCount() &&
           m_positions[static_cast<size_t>(position)].IsInput();
}

void CmEdit::Refresh() {
    QString shown;
    shown.reserve(PositionCount());
    for (const CmEditChar& position : m_positions)
        shown += position.Char().isNull() ? m_prompt : position.Char();
    if (shown == text())
        return;
    const Selection selection = GetSel();
    setText(shown);
    SetSel(selection.start, selection.end);
}

void CmEdit::Insert(const QString& text) {
    const int n = PositionCount();
    Selection selection = GetSel();
    if (selection.start >= n)
        return;
    if (selection.start == selection.end)
        selection.end = n;
    qsizetype k = 0;
    for (int p = selection.start; p < selection.end && k < text.size(); ++p) {
        CmEditChar& position = m_positions[static_cast<size_t>(p)];
        if (!position.IsInput())
            continue;
        while (k < text.size() && !text[k].isNull() && !position.Accepts(text[k]))
            ++k;
        if (k == text.size() || text[k].isNull())
            break;
        position.Enter(text[k]);
        ++k;
    }
    Refresh();
    SelectField(selection.start);
}

void CmEdit::EmptyRange(int start, int end) {
    for (int p = std::max(start, 0); p < std::min(end, PositionCount()); ++p)
        m_positions[static_cast<size_t>(p)].Empty();
}

std::vector<CmEdit::Field> CmEdit::Fields() const {
    std::vector<Field> fields;
    const int n = PositionCount();
    for (int p = 0; p < n;) {
        if (!IsInput(p)) {
            ++p;
            continue;
        }
        Field field{p, p};
        while (field.end < n && IsInput(field.end))
            ++field.end;
        fields.push_back(field);
        p = field.end;
    }
    return fields;
}

int CmEdit::FieldIndexOf(int position) const {
    const std::vector<Field> fields = Fields();
    const auto found = std::find_if(fields.begin(), fields.end(),
                                    [position](const Field& f) { return f.end > position; });
    return static_cast<int>(found - fields.begin());
}

void CmEdit::SelectFieldIndex(int index) {
    const std::vector<Field> fields = Fields();
    if (index < 0 || index >= static_cast<int>(fields.size()))
        return;
    SetSel(fields[static_cast<size_t>(index)].start, fields[static_cast<size_t>(index)].end);
}

void CmEdit::SelectField(int position) {
    const int n = PositionCount();
    int start = position < 0 || position >= n ? 0 : position;
    while (start < n && !IsInput(start))
        ++start;
    int end = start;
    while (end < n && IsInput(end))
        ++end;
    SetSel(start, end);
}

void CmEdit::PlaceCaret(int a, int b) {
    const int n = PositionCount();
    a = std::clamp(a, 0, n);
    if (a > b) {
        while (a > 0 && !IsInput(a))
            --a;
    }
    // Forwards also when there was no input position behind: the caret never rests on a
    // literal while an input position exists.
    while (a < n && !IsInput(a))
        ++a;
    SetSel(a, std::max(a, b));
}

void CmEdit::SelectPreviousField() {
    const int count = static_cast<int>(Fields().size());
    if (count == 0)
        return;
    // Before the first field comes the last one, as after the last field comes the first.
    const int previous = FieldIndexOf(GetSel().start) - 1;
    SelectFieldIndex(previous < 0 ? count - 1 : previous);
}

void CmEdit::SelectNextField() {
    const int count = static_cast<int>(Fields().size());
    if (count == 0)
        return;
    const int start = GetSel().start;
    int next = FieldIndexOf(start);
    // Inside a field the next one; on a literal the one right after it.
    if (IsInput(start))
        ++next;
    SelectFieldIndex(next >= count ? 0 : next);
}

void CmEdit::SelectLastField() {
    const int count = static_cast<int>(Fields().size());
    if (count > 0)
        SelectFieldIndex(count - 1);
}

void CmEdit::Type(QChar ch) {
    const int n = PositionCount();
    Selection selection = GetSel();
    if (selection.start >= n || ch == QChar(u'\b') || isReadOnly())
        return;
    while (selection.start < n && !IsInput(selection.start))
        ++selection.start;
    if (selection.start == n)
        return;
    SetSel(selection.start, std::max(selection.start, selection.end));
    Insert(QString(ch));
    if (m_positions[static_cast<size_t>(selection.start)].Accepts(ch))
        SelectField(selection.start + 1);
}

void CmEdit::OnLeft(bool shift, bool ctrl) {
    if (shift) {
        if (ctrl)
            cursorWordBackward(true);
        else
            cursorBackward(true);
        return;
    }
    if (ctrl) {
        SelectPreviousField();
        return;
    }
    Selection selection = GetSel();
    if (selection.start == selection.end)
        selection.start = std::max(selection.start - 1, 0);
    PlaceCaret(selection.start, -1);
}

void CmEdit::OnRight(bool shift, bool ctrl) {
    if (shift) {
        if (ctrl)
            cursorWordForward(true);
        else
            cursorForward(true);
        return;
    }
    if (ctrl) {
        SelectNextField();
        return;
    }
    Selection selection = GetSel();
    if (selection.start == selection.end && selection.end < PositionCount())
        ++selection.end;
    PlaceCaret(selection.end, selection.end);
}

void CmEdit::OnBackspace() {
    Selection selection = GetSel();
    if (isReadOnly())
        return;
    if (selection.start == selection.end) {
        int p = selection.start - 1;
        while (p >= 0 && !IsInput(p))
            --p;
        if (p >= 0) {
            m_positions[static_cast<size_t>(p)].Empty();
            selection.start = p;
        }
    } else {
        EmptyRange(selection.start, selection.end);
    }
    Refresh();
    PlaceCaret(selection.start, selection.start);
}

void CmEdit::OnDelete() {
    const Selection selection = GetSel();
    if (isReadOnly())
        return;
    if (selection.start == selection.end)
        EmptyRange(selection.start, selection.start + 1);
    else
        EmptyRange(selection.start, selection.end);
    Refresh();
    PlaceCaret(selection.start, selection.start);
}

// The keys that move, select and delete; true when the key was one of them.
bool CmEdit::OnNavigationKey(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        OnLeft(shift, ctrl);
        return true;
    case Qt::Key_Right:
    case Qt::Key_Down:
        OnRight(shift, ctrl);
        return true;
    case Qt::Key_Home:
        if (shift)
            home(true);
        else
            SelectField(0);
        return true;
    case Qt::Key_End:
        if (shift)
            end(true);
        else
            SelectLastField();
        return true;
    case Qt::Key_PageUp:
        SelectPreviousField();
        return true;
    case Qt::Key_PageDown:
        SelectNextField();
        return true;
    case Qt::Key_Backspace:
        OnBackspace();
        return true;
    case Qt::Key_Delete:
        OnDelete();
        return true;
    case Qt::Key_Shift:
    case Qt::Key_Control:
        return true;
    default:
        return false;
    }
}

void CmEdit::keyPressEvent(QKeyEvent* event) {
    if (OnNavigationKey(event)) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Announces returnPressed and passes the key on to the window (a default button).
        QLineEdit::keyPressEvent(event);
        return;
    }
    // A character typed with Ctrl, Alt or Meta is a command, not text (Ctrl+Alt is AltGr).
    const Qt::KeyboardModifiers held = event->modifiers();
    const bool altGr = (held & Qt::ControlModifier) && (held & Qt::AltModifier);
    const bool command =
        !altGr && (held & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const QString text = event->text();
    const bool printable = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.isPrint() || c.isSurrogate();
    });
    if (printable && !command) {
        for (QChar ch : text)
            Type(ch);
        event->accept();
        return;
    }
    // Everything else (Escape, function keys, Ctrl+V, Insert, ...) belongs to the window, never
    // to the edit's own key handling, which would paste or undo around the mask.
    event->ignore();
}

void CmEdit::keyReleaseEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
        OnEnterReleased();
        event->accept();
        return;
    }
    QLineEdit::keyReleaseEvent(event);
}

// Enter moves on to the next field; from the last field on to the window's next control.
void CmEdit::OnEnterReleased() {
    SelectField(GetSel().start);
    const int end = GetSel().end;
    if (end + 1 <= PositionCount()) {
        SelectField(end + 1);
        return;
    }
    focusNextChild();
    // The only control that takes the focus: round to its first field.
    if (hasFocus())
        SelectField(0);
}

void CmEdit::mousePressEvent(QMouseEvent* event) {
    // Only the left button: the middle button's paste of the selection would skip the mask.
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QLineEdit::mousePressEvent(event);
    const int start = GetSel().start;
    PlaceCaret(start, start);
}

void CmEdit::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
    // A dragged selection that crosses a literal shrinks to the field where it starts.
    const Selection selection = GetSel();
    const int n = PositionCount();
    for (int p = selection.start + 1; p <= selection.end && p < n; ++p) {
        if (!IsInput(p)) {
            SelectField(selection.start);
            break;
        }
    }
}

void CmEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const int n = PositionCount();
    // The field under the caret; a caret behind the last character counts as on it.
    int caret = std::min(cursorPosition(), n - 1);
    if (caret < 0)
        return;
    while (caret > 0 && IsInput(caret) && IsInput(caret - 1))
        --caret;
    SelectField(caret);
}

void CmEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    SelectField(0);
}

void CmEdit::contextMenuEvent(QContextMenuEvent* event) {
    // The edit's menu would offer paste; there is none, and the event ends here.
    event->accept();
}

void CmEdit::inputMethodEvent(QInputMethodEvent* event) {
    // Composed characters (dead keys, input methods) are typed like keys; nothing else of the
    // input method reaches the text.
    for (QChar ch : event->commitString()) {
        if (ch.isPrint() || ch.isSurrogate())
            Type(ch);
    }
    event->accept();
}

} // namespace qarn
