#include "controls/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>

namespace tarvo {

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
    if (m_baseX < 1)
        m_baseX = 1;
    if (m_baseY < 1)
        m_baseY = 1;
}

int DialogUnits::MulDiv(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

QFont FormFont(int points)
{
    // The forms were laid out for a Korean system font; NanumGothic has the same role here.
    QFont font;
    font.setFamilies({QStringLiteral("NanumGothic"), QStringLiteral("Noto Sans CJK KR"),
                      QStringLiteral("NanumBarunGothic"), QStringLiteral("Gulim")});
    font.setPointSize(points);
    return font;
}

}  // namespace tarvo
