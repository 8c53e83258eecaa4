// The masked edit as a user drives it: keys typed into a shown, focused control, and what it then
// shows, what the program reads back, and where the caret or selection is. The mouse, the focus
// and the ways around the mask (paste, menu) follow the table.

#include "ui/controls/CmEdit.h"

#include <optional>
#include <string>
#include <string_view>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

namespace qarn {
namespace {

const char* const kMac = "[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] "
                         "[0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef] [0-9abcdef][0-9abcdef]";
const char* const kLetter = "[!-z]";
const char* const kMacText = "00 1a 2b 3c 4d 5e";
const char* const kMacEmpty = "__ __ __ __ __ __";
const char* const kNone = nullptr;

// A window with the masked edit and a plain edit after it in the tab order.
class MaskedEditTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&m_window);
        m_edit = new CmEdit(&m_window);
        m_next = new QLineEdit(&m_window);
        layout->addWidget(m_edit);
        layout->addWidget(m_next);
        m_window.show();
        m_window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
    }

    void Focus() {
        m_edit->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(m_edit->hasFocus());
    }

    // Runs a key script: characters are typed; "{Key}" or "{Ctrl+Key}", "{Shift+Key}" press a key,
    // "{{}" types a '{'.
    void Press(std::string_view script) {
        for (size_t i = 0; i < script.size(); ++i) {
            if (script[i] != '{') {
                QTest::keyClick(m_edit, script[i]);
                continue;
            }
            const size_t close = script.find('}', i);
            ASSERT_NE(close, std::string_view::npos) << script;
            PressNamed(script.substr(i + 1, close - i - 1));
            i = close;
        }
    }

    void PressNamed(std::string_view name) {
        Qt::KeyboardModifiers modifiers;
        for (auto [prefix, modifier] : {std::pair{std::string_view("Ctrl+"), Qt::ControlModifier},
                                        std::pair{std::string_view("Shift+"), Qt::ShiftModifier}}) {
            if (name.starts_with(prefix)) {
                modifiers |= modifier;
                name.remove_prefix(prefix.size());
            }
        }
        const std::pair<std::string_view, Qt::Key> keys[] = {
            {"Left", Qt::Key_Left},     {"Right", Qt::Key_Right},
            {"Up", Qt::Key_Up},         {"Down", Qt::Key_Down},
            {"Home", Qt::Key_Home},     {"End", Qt::Key_End},
            {"PgUp", Qt::Key_PageUp},   {"PgDn", Qt::Key_PageDown},
            {"Enter", Qt::Key_Return},  {"Backspace", Qt::Key_Backspace},
            {"Delete", Qt::Key_Delete}, {"Insert", Qt::Key_Insert},
            {"V", Qt::Key_V},           {"Z", Qt::Key_Z},
            {"A", Qt::Key_A},
        };
        if (name.size() == 1) {
            QTest::keyClick(m_edit, name[0], modifiers);
            return;
        }
        for (auto [keyName, key] : keys) {
            if (keyName == name) {
                QTest::keyClick(m_edit, key, modifiers);
                return;
            }
        }
        FAIL() << "unknown key " << name;
    }

    std::pair<int, int> Selection() const {
        if (m_edit->hasSelectedText())
            return {m_edit->selectionStart(), m_edit->selectionEnd()};
        return {m_edit->cursorPosition(), m_edit->cursorPosition()};
    }

    // The x coordinate at which a click puts the caret before character `index`.
    int XBefore(int index) const {
        const int y = m_edit->height() / 2;
        for (int x = 0; x < m_edit->width(); ++x) {
            if (m_edit->cursorPositionAt(QPoint(x, y)) == index)
                return x;
        }
        ADD_FAILURE() << "no x for index " << index;
        return 0;
    }
    QPoint At(int index) const { return {XBefore(index) + 1, m_edit->height() / 2}; }

    QWidget m_window;
    CmEdit* m_edit = nullptr;
    QLineEdit* m_next = nullptr;
};

struct KeyCase {
    const char* name;
    const char* mask;
    const char* text; // given with SetEditText after the focus, or kNone
    const char* keys;
    const char* shown;
    const char* input;
    std::pair<int, int> selection;
};

const KeyCase kKeyCases[] = {
    // clang-format off
    // name, mask, text, keys,
    //     shown, input, selection
    // The MAC address: six fields of two lower-case hexadecimal digits.
    {"mac_empty_shows_prompts", kMac, kNone, "",
        kMacEmpty, "", {0, 2}},
    {"mac_text_skips_spaces", kMac, kMacText, "",
        kMacText, "001a2b3c4d5e", {0, 2}},
    {"mac_upper_case_ignored", kMac, kNone, "A",
        kMacEmpty, "", {0, 2}},
    {"mac_digit_moves_on", kMac, kNone, "a",
        "a_ __ __ __ __ __", "a", {1, 2}},
    {"mac_full_field_skips_space", kMac, kNone, "ab",
        "ab __ __ __ __ __", "ab", {3, 5}},
    {"mac_typed_in_full", kMac, kNone, "001a2b3c4d5e",
        kMacText, "001a2b3c4d5e", {0, 2}},
    {"mac_typing_on_wraps_to_first", kMac, kNone, "001a2b3c4d5eff",
        "ff 1a 2b 3c 4d 5e", "ff1a2b3c4d5e", {3, 5}},
    {"mac_typed_over_text", kMac, kMacText, "9",
        "90 1a 2b 3c 4d 5e", "901a2b3c4d5e", {1, 2}},
    {"mac_invalid_keeps_selection", kMac, kMacText, "{Ctrl+Right}g",
        kMacText, "001a2b3c4d5e", {3, 5}},
    {"mac_delete_third_digit", kMac, kMacText, "{Ctrl+Right}{Left}{Delete}",
        "00 _a 2b 3c 4d 5e", "00a2b3c4d5e", {3, 3}},
    {"mac_delete_selected_field", kMac, kMacText, "{Ctrl+Right}{Delete}",
        "00 __ 2b 3c 4d 5e", "002b3c4d5e", {3, 3}},
    {"mac_backspace_steps_over_space", kMac, kMacText, "{Ctrl+Right}{Left}{Backspace}",
        "0_ 1a 2b 3c 4d 5e", "01a2b3c4d5e", {1, 1}},
    {"mac_backspace_selected_field", kMac, kMacText, "{Backspace}",
        "__ 1a 2b 3c 4d 5e", "1a2b3c4d5e", {0, 0}},
    {"mac_backspace_at_start", kMac, kMacText, "{Left}{Backspace}",
        kMacText, "001a2b3c4d5e", {0, 0}},
    {"mac_delete_across_fields", kMac, kMacText,
        "{Left}{Shift+Right}{Shift+Right}{Shift+Right}{Shift+Right}{Delete}",
        "__ _a 2b 3c 4d 5e", "a2b3c4d5e", {0, 0}},
    {"mac_refilled_after_delete", kMac, kMacText, "{Ctrl+Right}{Delete}ff",
        "00 ff 2b 3c 4d 5e", "00ff2b3c4d5e", {6, 8}},
    {"mac_left_goes_back_over_space", kMac, kMacText, "{End}{Left}{Left}f",
        "00 1a 2b 3c 4f 5e", "001a2b3c4f5e", {15, 17}},
    {"mac_left_stops_at_start", kMac, kNone, "{Left}{Left}{Up}",
        kMacEmpty, "", {0, 0}},
    {"mac_right_from_field_to_next", kMac, kNone, "{Right}",
        kMacEmpty, "", {3, 3}},
    {"mac_right_stops_at_end", kMac, kMacText, "{End}{Right}{Right}{Down}f",
        kMacText, "001a2b3c4d5e", {17, 17}},
    {"mac_end", kMac, kNone, "{End}",
        kMacEmpty, "", {15, 17}},
    {"mac_home", kMac, kNone, "{End}{Home}",
        kMacEmpty, "", {0, 2}},
    {"mac_ctrl_right_next_field", kMac, kNone, "{Ctrl+Right}{Ctrl+Down}",
        kMacEmpty, "", {6, 8}},
    {"mac_ctrl_right_wraps", kMac, kNone, "{End}{Ctrl+Right}",
        kMacEmpty, "", {0, 2}},
    {"mac_page_down_and_up", kMac, kNone, "{PgDn}{PgDn}{PgUp}",
        kMacEmpty, "", {3, 5}},
    // Before the first field: round to the last, as after the last comes the first.
    {"mac_ctrl_left_first_field", kMac, kNone, "{Ctrl+Left}",
        kMacEmpty, "", {15, 17}},
    {"mac_ctrl_up_first_field", kMac, kNone, "{Ctrl+Up}",
        kMacEmpty, "", {15, 17}},
    {"mac_page_up_first_field", kMac, kNone, "{PgUp}",
        kMacEmpty, "", {15, 17}},
    {"mac_page_up_caret_at_start", kMac, kNone, "{Left}{PgUp}",
        kMacEmpty, "", {15, 17}},
    {"mac_ctrl_left_from_end", kMac, kNone, "{End}{Right}{Ctrl+Left}",
        kMacEmpty, "", {15, 17}},
    {"mac_shift_extends", kMac, kNone, "{Left}{Shift+Right}{Shift+Right}{Shift+Right}",
        kMacEmpty, "", {0, 3}},
    {"mac_enter_next_field", kMac, kNone, "a{Enter}b",
        "a_ b_ __ __ __ __", "ab", {4, 5}},
    {"mac_paste_keys_do_nothing", kMac, kNone, "{Ctrl+V}{Shift+Insert}{Ctrl+Z}{Ctrl+A}",
        kMacEmpty, "", {0, 2}},
    // The letter: one position taking 0x21 to 0x7A.
    {"letter_empty", kLetter, "", "",
        "_", "", {0, 1}},
    {"letter_set", kLetter, "Q", "",
        "Q", "Q", {0, 1}},
    {"letter_typed", kLetter, kNone, "Z",
        "Z", "Z", {0, 1}},
    {"letter_retyped_replaces", kLetter, kNone, "ab",
        "b", "b", {0, 1}},
    {"letter_range_start", kLetter, kNone, "!",
        "!", "!", {0, 1}},
    {"letter_range_end", kLetter, kNone, "z",
        "z", "z", {0, 1}},
    {"letter_above_range", kLetter, kNone, "{{}",
        "_", "", {0, 1}},
    {"letter_space_ignored", kLetter, kNone, " ",
        "_", "", {0, 1}},
    {"letter_backspace", kLetter, "x", "{Backspace}",
        "_", "", {0, 0}},
    {"letter_delete_at_caret", kLetter, "x", "{Left}{Delete}",
        "_", "", {0, 0}},
    {"letter_keys_at_end_stay", kLetter, "x", "{Right}{Right}{Ctrl+Left}{PgDn}",
        "x", "x", {0, 1}},
    {"letter_text_skips_invalid", kLetter, " {Q", "",
        "Q", "Q", {0, 1}},
    // Other masks.
    {"escaped_brackets", "\\[[0-9]]", kNone, "x5",
        "[5]", "5", {3, 3}},
    {"unterminated_class", "[0-9", kNone, "7",
        "7", "7", {0, 1}},
    {"reversed_range_takes_nothing", "[z-a]", kNone, "amz",
        "_", "", {0, 1}},
    {"escaped_bracket_in_class", "[\\]x]", kNone, "]",
        "]", "]", {0, 1}},
    {"leading_literal_keeps_caret_off", "+[0-9][0-9]", kNone, "{Left}{Left}{Backspace}4",
        "+4_", "4", {2, 3}},
    {"leading_literal_ctrl_left", "+[0-9][0-9]", kNone, "{Left}{Ctrl+Left}{PgUp}",
        "+__", "", {1, 3}},
    {"literals_only", "a-b", kNone, "x{Left}{Ctrl+Left}{PgUp}{End}{Backspace}{Delete}{Right}",
        "a-b", "", {3, 3}},
    {"empty_mask", "", kNone, "x{Left}{Ctrl+Left}{PgUp}{PgDn}{Backspace}{Delete}{Enter}",
        "", "", {0, 0}},
    {"text_without_valid_characters", kMac, "GHIJ xyz", "",
        kMacEmpty, "", {0, 2}},
    {"text_fills_what_fits", kMac, "0g1", "",
        "01 __ __ __ __ __", "01", {0, 2}},
    // clang-format on
};

TEST_F(MaskedEditTest, KeysTypedShowAndGive) {
    for (const KeyCase& c : kKeyCases) {
        SCOPED_TRACE(c.name);
        m_next->setFocus();
        m_edit->SetMask(QString::fromUtf8(c.mask));
        Focus();
        if (c.text != kNone)
            m_edit->SetEditText(QString::fromUtf8(c.text));
        Press(c.keys);
        EXPECT_EQ(m_edit->text().toStdString(), c.shown);
        EXPECT_EQ(m_edit->GetInputText(0, -1).toStdString(), c.input);
        EXPECT_EQ(Selection(), c.selection);
    }
}

TEST_F(MaskedEditTest, InputTextOfARange) {
    m_edit->SetMask(kMac);
    m_edit->SetEditText(kMacText);
    struct Range {
        int start;
        int count;
        const char* input;
    };
    const Range ranges[] = {{3, 2, "1a"},
                            {2, 3, "1a"},
                            {15, 100, "5e"},
                            {16, 1, "e"},
                            {0, 0, ""},
                            {-5, 2, "00"},
                            {17, -1, "001a2b3c4d5e"},
                            {3, -7, "1a2b3c4d5e"},
                            {5, INT32_MAX, "2b3c4d5e"}};
    for (const Range& r : ranges) {
        SCOPED_TRACE(std::to_string(r.start) + "," + std::to_string(r.count));
        EXPECT_EQ(m_edit->GetInputText(r.start, r.count).toStdString(), r.input);
    }
}

TEST_F(MaskedEditTest, SetEditTextKeepsTheSelection) {
    m_edit->SetMask(kMac);
    Focus();
    Press("{Ctrl+Right}{Ctrl+Right}");
    m_edit->SetEditText(kMacText);
    EXPECT_EQ(Selection(), std::pair(6, 8));
    m_edit->SetMask(kLetter);
    EXPECT_EQ(Selection(), std::pair(0, 0));
    m_edit->SetEditText("q");
    EXPECT_EQ(m_edit->text(), QStringLiteral("q"));
}

TEST_F(MaskedEditTest, SetEditTextStopsAtANulCharacter) {
    m_edit->SetMask(kMac);
    m_edit->SetEditText(QString::fromUtf8("00\0"
                                          "11",
                                          5));
    EXPECT_EQ(m_edit->text(), QStringLiteral("00 __ __ __ __ __"));
}

TEST_F(MaskedEditTest, ReadOnlyMovesButNeverChanges) {
    m_edit->SetMask(kMac);
    m_edit->SetEditText(kMacText);
    m_edit->setReadOnly(true);
    Focus();
    Press("ff{Backspace}{Ctrl+Right}{Delete}{Left}{Delete}");
    EXPECT_EQ(m_edit->text(), QString::fromUtf8(kMacText));
    EXPECT_EQ(Selection(), std::pair(3, 3));
}

TEST_F(MaskedEditTest, FocusSelectsTheFirstField) {
    m_edit->SetMask(kMac);
    m_edit->SetEditText(kMacText);
    m_next->setFocus();
    QTest::keyClick(m_next, Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_TRUE(m_edit->hasFocus());
    EXPECT_EQ(Selection(), std::pair(0, 2));
}

TEST_F(MaskedEditTest, EnterInTheLastFieldMovesToTheNextControl) {
    m_edit->SetMask(kMac);
    Focus();
    Press("{End}");
    QTest::keyClick(m_edit, Qt::Key_Return);
    EXPECT_TRUE(m_next->hasFocus());
}

TEST_F(MaskedEditTest, EnterInTheLastFieldOfTheOnlyControlSelectsTheFirst) {
    m_next->setFocusPolicy(Qt::NoFocus);
    m_edit->SetMask(kMac);
    Focus();
    Press("{End}");
    QTest::keyClick(m_edit, Qt::Key_Return);
    EXPECT_TRUE(m_edit->hasFocus());
    EXPECT_EQ(Selection(), std::pair(0, 2));
}

TEST_F(MaskedEditTest, EnterIsAnnouncedToTheOwner) {
    m_edit->SetMask(kLetter);
    Focus();
    int returns = 0;
    QObject::connect(m_edit, &QLineEdit::returnPressed, [&] { ++returns; });
    QTest::keyClick(m_edit, Qt::Key_Return);
    EXPECT_EQ(returns, 1);
}

TEST_F(MaskedEditTest, ClickPutsTheCaretOnAnInputPosition) {
    m_edit->SetMask(kMac);
    m_edit->SetEditText(kMacText);
    struct Click {
        int at;
        std::pair<int, int> caret;
    };
    // Before character 2 (the space after "00") the caret goes on to the next field's start.
    for (const Click& click : {Click{1, {1, 1}}, Click{2, {3, 3}}, Click{5, {6, 6}}}) {
        SCOPED_TRACE(click.at);
        QTest::mouseClick(m_edit, Qt::LeftButton, {}, At(click.at));
        EXPECT_EQ(Selection(), click.caret);
    }
}

TEST_F(MaskedEditTest, DragAcrossALiteralShrinksToTheField) {
    m_edit->SetMask(kMac);
    m_edit->SetEditText(kMacText);
    Focus();
    QTest::mousePress(m_edit, Qt::LeftButton, {}, At(4));
    QMouseEvent move(QEvent::MouseMove, QPointF(At(10)), m_edit->mapToGlobal(QPointF(At(10))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_edit, &move);
    QTest::mouseRelease(m_edit, Qt::LeftButton, {}, At(10));
    EXPECT_EQ(Selection(), std::pair(4, 5));

    // Within one field the dragged selection stays.
    QTest::mousePress(m_edit, Qt::LeftButton, {}, At(6));
    QMouseEvent within(QEvent::MouseMove, QPointF(At(7)), m_edit->mapToGlobal(QPointF(At(7))),
                       Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_edit, &within);
    QTest::mouseRelease(m_edit, Qt::LeftButton, {}, At(7));
    EXPECT_EQ(Selection(), std::pair(6, 7));
}

TEST_F(MaskedEditTest, DoubleClickSelectsTheField) {
    m_edit->SetMask(kMac);
    m_edit->SetEditText(kMacText);
    Focus();
    // A double click as the window system delivers it: a click, then the second press as a
    // double click, then its release.
    auto doubleClick = [&](int index) {
        QTest::mouseClick(m_edit, Qt::LeftButton, {}, At(index));
        QTest::mouseDClick(m_edit, Qt::LeftButton, {}, At(index));
        QTest::mouseRelease(m_edit, Qt::LeftButton, {}, At(index));
    };
    doubleClick(7);
    EXPECT_EQ(Selection(), std::pair(6, 8));
    doubleClick(17);
    EXPECT_EQ(Selection(), std::pair(15, 17));
    doubleClick(2); // on the space: the next field
    EXPECT_EQ(Selection(), std::pair(3, 5));
}

TEST_F(MaskedEditTest, NoPasteByMenuOrMiddleButton) {
    m_edit->SetMask(kMac);
    Focus();
    QApplication::clipboard()->setText(QStringLiteral("ffffff"));
    if (QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText(QStringLiteral("ffffff"), QClipboard::Selection);
    QTest::mouseClick(m_edit, Qt::MiddleButton, {}, At(0));
    QContextMenuEvent menu(QContextMenuEvent::Mouse, At(0), m_edit->mapToGlobal(At(0)));
    QApplication::sendEvent(m_edit, &menu);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "a context menu opened";
    Press("{Ctrl+V}{Shift+Insert}");
    EXPECT_EQ(m_edit->text(), QStringLiteral("__ __ __ __ __ __"));
}

TEST_F(MaskedEditTest, ComposedCharactersAreTypedThroughTheMask) {
    m_edit->SetMask(kMac);
    Focus();
    QInputMethodEvent composed(QString(), {});
    composed.setCommitString(QStringLiteral("aGb"));
    QApplication::sendEvent(m_edit, &composed);
    EXPECT_EQ(m_edit->text(), QStringLiteral("ab __ __ __ __ __"));
}

} // namespace
} // namespace qarn
