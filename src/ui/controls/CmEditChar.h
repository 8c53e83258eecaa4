#pragma once

// One position of a masked edit: a literal that always shows its own character, or an input
// position that takes one character of its set and is empty until then.

#include <QChar>
#include <QString>

namespace qarn {

class CmEditChar {
  public:
    static CmEditChar Literal(QChar ch);
    static CmEditChar Input(QString set);

    bool IsInput() const { return m_isInput; }
    // Whether `ch` may be entered here: an input position whose set holds it. The 0 character
    // never is: it marks an empty position.
    bool Accepts(QChar ch) const;
    const QString& CharSet() const { return m_set; }

    // The literal, the character entered, or 0 for an empty input position.
    QChar Char() const { return m_ch; }
    // Stores an accepted character; returns false and changes nothing otherwise.
    bool Enter(QChar ch);
    // Empties an input position; a literal keeps its character.
    void Empty();

  private:
    QString m_set;
    QChar m_ch;
    bool m_isInput = false;
};

} // namespace qarn
