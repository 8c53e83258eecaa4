#pragma once

// A single-line edit whose text is governed by a mask, for values of fixed shape such as a MAC
// address. The mask divides the text into positions: a literal always shows its own character,
// an input position takes one character of its set and shows the prompt '_' while empty. The
// text therefore always has one character per position, and never holds a character that the
// mask does not allow: the control does all typing, deleting and caret movement itself, and has
// no paste, no drop and no context menu.
//
// Mask syntax: "[...]" is one input position with the characters listed ("a-f" is a range,
// "\]" a ']'); "\[" is a literal '['; any other character is a literal.
//
//     SetMask("[0-9a-f][0-9a-f] [0-9a-f][0-9a-f]")    shows "__ __"
//     SetEditText("1a 2b")                              shows "1a 2b"
//     GetInputText()                                    gives "1a2b"
//
// A field is a run of input positions. Typing fills the caret's position and moves on, skipping
// literals; the rest of the current field stays selected, so the next character replaces it.
// A read-only edit (setReadOnly) moves and selects but neither types nor deletes.

#include "ui/controls/CmEditChar.h"

#include <vector>

#include <QLineEdit>

namespace qarn {

class CmEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit CmEdit(QWidget* parent = nullptr);

    // Replaces every position by those of `mask`, all input positions empty.
    void SetMask(const QString& mask);
    // Empties every input position and fills them from `text` in order; characters that fit no
    // position are skipped. The selection is kept where it can be.
    void SetEditText(const QString& text);
    // The characters entered in the positions [start, start + count), without literals and
    // prompts. A start out of range means 0; a negative count, or one past the end, means up to
    // the end.
    QString GetInputText(int start = 0, int count = -1) const;

    // The positions the mask describes, in order.
    static std::vector<CmEditChar> ParseMask(const QString& mask);
    int PositionCount() const { return static_cast<int>(m_positions.size()); }
    QChar PromptChar() const { return m_prompt; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

  private:
    // The selection as [start, end), start <= end; an empty one is the caret.
    struct Selection {
        int start;
        int end;
    };
    // One run of input positions, [start, end).
    struct Field {
        int start;
        int end;
    };

    Selection GetSel() const;
    void SetSel(int start, int end);
    bool IsInput(int position) const;
    // Rewrites the shown text from the positions, keeping the selection.
    void Refresh();
    // Fills input positions from `text` inside the selection, then selects the field there.
    void Insert(const QString& text);
    void EmptyRange(int start, int end);

    std::vector<Field> Fields() const;
    // The index of the field that holds `position` or, on a literal, of the next field; the
    // number of fields when none follows.
    int FieldIndexOf(int position) const;
    void SelectFieldIndex(int index);
    // Selects from the first input position at or after `position` to the end of its field;
    // the end of the text stands for the first field.
    void SelectField(int position);
    // Puts the caret on an input position: with a > b backwards from a (forwards when none is
    // there), with a == b forwards; then selects [a, max(a, b)).
    void PlaceCaret(int a, int b);
    void SelectPreviousField();
    void SelectNextField();
    void SelectLastField();

    void Type(QChar ch);
    bool OnNavigationKey(QKeyEvent* event);
    void OnLeft(bool shift, bool ctrl);
    void OnRight(bool shift, bool ctrl);
    void OnBackspace();
    void OnDelete();
    void OnEnterReleased();

    std::vector<CmEditChar> m_positions;
    QChar m_prompt = QLatin1Char('_');
};

} // namespace qarn
