#pragma once

// A row with a fixed text that the user cannot change.

#include "ui/controls/COptionTreeItem.h"

namespace qarn {

class COptionTreeItemStatic : public COptionTreeItem {
  public:
    COptionTreeItemStatic() = default;

    void SetStaticText(const QString& text);
    QString GetStaticText() const { return m_text; }

    void DrawValue(QPainter& painter, const QRect& rect) override;

  private:
    QString m_text;
};

} // namespace qarn
