// Colours as the station's tables give them: 32-bit 0x00BBGGRR values (red is 0x0000FF).
#pragma once

#include <QColor>
#include <cstdint>

namespace tarvo {

using ColorRef = std::uint32_t;

constexpr ColorRef MakeColorRef(int red, int green, int blue)
{
    return static_cast<ColorRef>(red & 0xFF) | (static_cast<ColorRef>(green & 0xFF) << 8) |
           (static_cast<ColorRef>(blue & 0xFF) << 16);
}
constexpr int RedOf(ColorRef c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(ColorRef c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(ColorRef c) { return static_cast<int>((c >> 16) & 0xFF); }

inline QColor ToQColor(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }
inline ColorRef ToColorRef(const QColor& c) { return MakeColorRef(c.red(), c.green(), c.blue()); }

}  // namespace tarvo
