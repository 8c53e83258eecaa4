#include "ui/controls/COptionTreeInfo.h"

#include "app/Resources.h"
#include "ui/controls/COptionTree.h"
#include "ui/controls/COptionTreeItem.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace qarn {

namespace {

constexpr unsigned kNoSelectionLabel = 2102;
constexpr unsigned kNoSelectionInfo = 2103;

} // namespace

COptionTreeInfo::COptionTreeInfo(COptionTree* tree) : QFrame(tree), m_tree(tree) {
    setObjectName(QStringLiteral("ctl_65535"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

QString COptionTreeInfo::ShownLabel() const {
    if ((m_tree->GetOptions() & COptionTree::OptionInfoSingleText) != 0)
        return {};
    if (const COptionTreeItem* item = m_tree->GetFocusedItem(); item != nullptr)
        return item->GetLabel();
    if ((m_tree->GetOptions() & COptionTree::OptionDefaultInfoText) != 0)
        return ResourceString(kNoSelectionLabel);
    return {};
}

QString COptionTreeInfo::ShownInfo() const {
    const bool single = (m_tree->GetOptions() & COptionTree::OptionInfoSingleText) != 0;
    QString label;
    QString info;
    if (const COptionTreeItem* item = m_tree->GetFocusedItem(); item != nullptr) {
        label = item->GetLabel();
        info = item->GetInfo();
    } else if ((m_tree->GetOptions() & COptionTree::OptionDefaultInfoText) != 0) {
        label = ResourceString(kNoSelectionLabel);
        info = ResourceString(kNoSelectionInfo);
    }
    if (!single)
        return info;
    if (label.isEmpty() || info.isEmpty())
        return label + info;
    return label + QStringLiteral(": ") + info;
}

void COptionTreeInfo::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QPalette& palette = m_tree->palette();
    const QPalette::ColorGroup group = m_tree->isEnabled() ? QPalette::Active : QPalette::Disabled;
    painter.fillRect(contentsRect(), palette.color(QPalette::Button));
    drawFrame(&painter);
    const int margin = m_tree->GetMargin();
    QRect text = contentsRect().adjusted(margin, margin / 2, -margin, -margin / 2);
    painter.setPen(palette.color(group, QPalette::ButtonText));
    const QString label = ShownLabel();
    if (!label.isEmpty()) {
        painter.setFont(m_tree->GetBoldFont());
        const QFontMetrics metrics(m_tree->GetBoldFont());
        painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         metrics.elidedText(label, Qt::ElideRight, text.width()));
        text.setTop(text.top() + metrics.height());
    }
    painter.setFont(m_tree->GetNormalFont());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, ShownInfo());
}

bool COptionTreeInfo::event(QEvent* event) {
    // Long help texts are cut by the pane's height; the tool tip shows them whole.
    if (event->type() == QEvent::ToolTip) {
        const QString info = ShownInfo();
        if (info.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), info, this);
        return true;
    }
    return QFrame::event(event);
}

} // namespace qarn
