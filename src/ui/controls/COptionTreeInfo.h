#pragma once

// The pane at the bottom of a COptionTree that explains the focused row: its label in bold and
// its help text below, word-wrapped. What does not fit is in the tool tip.

#include <QFrame>

namespace qarn {

class COptionTree;

class COptionTreeInfo : public QFrame {
    Q_OBJECT

  public:
    explicit COptionTreeInfo(COptionTree* tree);

    // The texts the pane shows now: label and info of the focused row, the fixed texts when
    // the tree asks for them, or nothing. With the single-text option the label is empty and
    // the info reads "label: info".
    QString ShownLabel() const;
    QString ShownInfo() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    COptionTree* m_tree;
};

} // namespace qarn
