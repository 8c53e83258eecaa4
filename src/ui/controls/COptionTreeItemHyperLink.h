#pragma once

// A row whose value is a link (a manual, a support page, a mail address). Over the link the
// cursor becomes the hand; a click, or Enter on the row, opens the target with the desktop's
// handler. The link shows as visited afterwards.

#include "ui/controls/COptionTreeItem.h"

#include <QUrl>

namespace qarn {

class COptionTreeItemHyperLink : public COptionTreeItem {
  public:
    COptionTreeItemHyperLink() = default;

    // The link text and its target; false when the item is not in a tree yet or was created.
    bool CreateHyperLinkItem(const QString& text, const QUrl& target);

    void SetLinkText(const QString& text);
    QString GetLinkText() const { return m_text; }
    void SetLink(const QUrl& target) { m_target = target; }
    QUrl GetLink() const { return m_target; }
    bool IsVisited() const { return m_visited; }

    void DrawValue(QPainter& painter, const QRect& rect) override;
    void OnActivate() override;
    bool WantsLinkCursor(const QPoint& pos) const override;
    QWidget* FocusEditor() const override { return nullptr; }
    TabStop GetTabStop() const override;

  private:
    bool m_created = false;
    QString m_text;
    QUrl m_target;
    bool m_visited = false;
};

} // namespace qarn
