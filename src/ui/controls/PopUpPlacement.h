#pragma once

// Where the tree's pop-ups go: right below the row that opened them, or above it when the screen
// ends below, and never past the screen's sides.

class QRect;
class QWidget;

namespace qarn {

// Sizes `popup` to its contents and shows it below `anchor` (global coordinates).
void ShowPopUpBelow(QWidget* popup, const QRect& anchor);

} // namespace qarn
