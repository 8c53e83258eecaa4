#include "ui/controls/CmEditChar.h"

#include <utility>

namespace qarn {

CmEditChar CmEditChar::Literal(QChar ch) {
    CmEditChar position;
    position.m_ch = ch;
    return position;
}

CmEditChar CmEditChar::Input(QString set) {
    CmEditChar position;
    position.m_set = std::move(set);
    position.m_isInput = true;
    return position;
}

bool CmEditChar::Accepts(QChar ch) const {
    return m_isInput && !ch.isNull() && m_set.contains(ch);
}

bool CmEditChar::Enter(QChar ch) {
    if (!Accepts(ch))
        return false;
    m_ch = ch;
    return true;
}

void CmEditChar::Empty() {
    if (m_isInput)
        m_ch = QChar();
}

} // namespace qarn
