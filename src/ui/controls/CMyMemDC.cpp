#include "ui/controls/CMyMemDC.h"

#include <QPaintDevice>
#include <QPaintEngine>

namespace qarn {

CMyMemDC::CMyMemDC(QPainter& target, const QRect& rect, const QColor& background)
    : m_target(target), m_rect(rect) {
    QPaintDevice* device = target.device();
    const bool printer = device != nullptr && device->devType() == QInternal::Printer;
    if (!printer && !rect.isEmpty()) {
        // Device pixels, so that the copy is one to one on a high-density screen.
        const qreal ratio = device != nullptr ? device->devicePixelRatioF() : 1.0;
        m_bitmap = QPixmap(rect.size() * ratio);
        m_bitmap.setDevicePixelRatio(ratio);
        m_memory.emplace(&m_bitmap);
        m_memory->setRenderHints(target.renderHints());
        m_memory->setFont(target.font());
        m_memory->translate(-rect.topLeft());
    } else {
        m_target.save();
    }
    Painter().fillRect(rect, background);
}

CMyMemDC::~CMyMemDC() {
    if (m_memory) {
        m_memory->end();
        m_target.drawPixmap(m_rect.topLeft(), m_bitmap);
    } else {
        m_target.restore();
    }
}

QPainter& CMyMemDC::Painter() {
    return m_memory ? *m_memory : m_target;
}

} // namespace qarn
