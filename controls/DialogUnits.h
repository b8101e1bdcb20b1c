// Dialog units -> pixels for a form font.
//
// A horizontal dialog unit is a quarter of the font's average character width, a vertical one
// an eighth of its character height. The average width is taken the way dialog layouts have
// always measured it: the advance of the 52 Latin letters, halved per letter pair and rounded.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace tarvo {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int X(int units) const { return MulDiv(units, m_baseX, 4); }
    int Y(int units) const { return MulDiv(units, m_baseY, 8); }
    QRect Rect(int x, int y, int cx, int cy) const { return QRect(X(x), Y(y), X(cx), Y(cy)); }
    QSize Size(int cx, int cy) const { return QSize(X(cx), Y(cy)); }
    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

private:
    // a * b / c rounded to the nearest integer.
    static int MulDiv(int a, int b, int c);
    int m_baseX;
    int m_baseY;
};

// The form font of the station: a 9-point (or `points`) face with Hangul glyphs.
QFont FormFont(int points);

}  // namespace tarvo
