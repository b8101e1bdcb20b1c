#include "controls/RoundButton.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRegion>
#include <cassert>
#include <cmath>
#include <limits>

namespace tarvo {
namespace {

constexpr double kPi = 3.141592654;

void SetPixel(QImage& image, int x, int y, ColorRef color)
{
    if (x >= 0 && y >= 0 && x < image.width() && y < image.height())
        image.setPixel(x, y, ToQColor(color).rgb());
}

ColorRef PixelAt(const QImage& image, int x, int y, ColorRef fallback)
{
    if (x >= 0 && y >= 0 && x < image.width() && y < image.height())
        return ToColorRef(QColor(image.pixel(x, y)));
    return fallback;
}

[[maybe_unused]] bool WalkFits(int x, int y, int radius)
{
    constexpr int kMax = std::numeric_limits<int>::max();
    return radius >= 0 && x <= kMax - radius && y <= kMax - radius && x >= -kMax + radius && y >= -kMax + radius;
}

// Horizontal one-pixel line from x0 up to (not including) x1.
void HorizontalLine(QImage& image, int x0, int x1, int y, ColorRef color)
{
    for (int x = x0; x < x1; ++x)
        SetPixel(image, x, y, color);
}

}  // namespace

RoundGeometry ComputeRoundGeometry(QSize client)
{
    RoundGeometry g;
    g.right = client.width();
    g.bottom = client.height();
    g.stretched = g.bottom < g.right;
    if (!g.stretched) {
        const int side = std::min(g.right, g.bottom);
        g.right = side;
        g.bottom = side;
    }
    g.centre = QPoint(g.right / 2, g.bottom / 2);
    g.radius = g.bottom / 2 - 1;
    g.leftCentre = QPoint(g.radius, g.centre.y());
    g.rightCentre = QPoint(g.right - g.radius - 1, g.centre.y());
    return g;
}

ColorRef ShadeForAngle(double angle, ColorRef bright, ColorRef dark)
{
    assert(angle > -3.1416 && angle < 3.1416);
    double d = -1.88 - angle;
    if (d < -3.1415)
        d = d + 6.293;
    else if (d > 3.1415)
        d = 6.293 - d;
    const double w = (std::cos(d) + 1.0) * 0.5;
    const auto blend = [w](int b, int k) { return static_cast<int>(w * b + (1.0 - w) * k); };
    return MakeColorRef(blend(RedOf(bright), RedOf(dark)), blend(GreenOf(bright), GreenOf(dark)),
                        blend(BlueOf(bright), BlueOf(dark)));
}

void PlotCircle(QImage& image, int x, int y, int radius, ColorRef color, bool dashed)
{
    assert(WalkFits(x, y, radius));
    int px = radius;
    int py = 0;
    int err = -radius;
    bool on = true;
    do {
        if (on) {
            SetPixel(image, x + px, y + py, color);
            SetPixel(image, x - px, y + py, color);
            SetPixel(image, x + px, y - py, color);
            SetPixel(image, x - px, y - py, color);
            SetPixel(image, x + py, y + px, color);
            SetPixel(image, x - py, y + px, color);
            SetPixel(image, x + py, y - px, color);
            SetPixel(image, x - py, y - px, color);
        }
        err += py;
        ++py;
        err += py;
        if (err >= 0) {
            --px;
            err -= 2 * px;
        }
        if (dashed)
            on = !on;
    } while (py <= px);
}

void PlotRightHalf(QImage& image, int x, int y, int radius, ColorRef bright, ColorRef dark)
{
    assert(WalkFits(x, y, radius));
    int px = radius;
    int py = 0;
    int err = -radius;
    do {
        const double a = std::atan2(py, px);
        SetPixel(image, x + px, y + py, ShadeForAngle(a, bright, dark));
        SetPixel(image, x + py, y + px, ShadeForAngle(kPi / 2 - a, bright, dark));
        SetPixel(image, x + py, y - px, ShadeForAngle(a - kPi / 2, bright, dark));
        SetPixel(image, x + px, y - py, ShadeForAngle(-a, bright, dark));
        err += py;
        ++py;
        err += py;
        if (err >= 0) {
            --px;
            err -= 2 * px;
        }
    } while (py <= px);
}

void PlotLeftHalf(QImage& image, int x, int y, int radius, ColorRef bright, ColorRef dark)
{
    assert(WalkFits(x, y, radius));
    int px = radius;
    int py = 0;
    int err = -radius;
    do {
        const double a = std::atan2(py, px);
        SetPixel(image, x - py, y + px, ShadeForAngle(a + kPi / 2, bright, dark));
        SetPixel(image, x - px, y + py, ShadeForAngle(kPi - a, bright, dark));
        SetPixel(image, x - px, y - py, ShadeForAngle(a - kPi, bright, dark));
        SetPixel(image, x - py, y - px, ShadeForAngle(-a - kPi / 2, bright, dark));
        err += py;
        ++py;
        err += py;
        if (err >= 0) {
            --px;
            err -= 2 * px;
        }
    } while (py <= px);
}

CRoundButton::CRoundButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void CRoundButton::Attach()
{
    m_geometry = ComputeRoundGeometry(size());
    m_attached = true;
    clearMask();
    setMask(QRegion(QRect(0, 0, m_geometry.right, m_geometry.bottom), QRegion::Ellipse));
    if (!m_geometry.stretched)
        resize(m_geometry.right, m_geometry.bottom);
    update();
}

QImage CRoundButton::Render() const
{
    const QPalette& pal = palette();
    const ColorRef face = ToColorRef(pal.color(QPalette::Button));
    const ColorRef highlight = ToColorRef(pal.color(QPalette::Light));     // button highlight
    const ColorRef light3d = ToColorRef(pal.color(QPalette::Midlight));    // 3-D light
    const ColorRef shadow = ToColorRef(pal.color(QPalette::Dark));         // button shadow
    const ColorRef darkShadow = ToColorRef(pal.color(QPalette::Shadow));   // 3-D dark shadow
    const RoundGeometry& g = m_geometry;
    const bool pressed = isDown();
    const bool disabled = !isEnabled();
    const bool focusCircle = hasFocus() && m_dashedFocus && !g.stretched;

    QImage image(size(), QImage::Format_RGB32);
    image.fill(ToQColor(face));

    int r = g.radius;
    if (focusCircle) {
        PlotCircle(image, g.centre.x(), g.centre.y(), r, MakeColorRef(0, 0, 0), false);
        --r;
    }

    // Rim: outer and inner half circles.
    if (pressed) {
        PlotLeftHalf(image, g.leftCentre.x(), g.leftCentre.y(), r, darkShadow, highlight);
        PlotRightHalf(image, g.rightCentre.x(), g.rightCentre.y(), r, darkShadow, highlight);
        PlotLeftHalf(image, g.leftCentre.x(), g.leftCentre.y(), r - 1, shadow, light3d);
        PlotRightHalf(image, g.rightCentre.x(), g.rightCentre.y(), r - 1, shadow, light3d);
    } else {
        PlotLeftHalf(image, g.leftCentre.x(), g.leftCentre.y(), r, highlight, darkShadow);
        PlotRightHalf(image, g.rightCentre.x(), g.rightCentre.y(), r, highlight, darkShadow);
        PlotLeftHalf(image, g.leftCentre.x(), g.leftCentre.y(), r - 1, light3d, shadow);
        PlotRightHalf(image, g.rightCentre.x(), g.rightCentre.y(), r - 1, light3d, shadow);
    }

    if (g.stretched) {
        // Straight top and bottom edges; at rest they continue the shading the half circle
        // has just drawn at the left end of each line.
        const int x0 = g.leftCentre.x();
        const int x1 = g.rightCentre.x();
        const int bottomInner = g.centre.y() + r - 1;
        const int bottomOuter = g.centre.y() + r;
        const auto lineColour = [&](int y, ColorRef pressedColour) {
            return pressed ? pressedColour : PixelAt(image, x0, y, face);
        };
        const ColorRef top1 = lineColour(1, darkShadow);
        HorizontalLine(image, x0, x1, 1, top1);
        const ColorRef top2 = lineColour(2, shadow);
        HorizontalLine(image, x0, x1, 2, top2);
        const ColorRef bottom1 = lineColour(bottomInner, light3d);
        HorizontalLine(image, x0, x1, bottomInner, bottom1);
        const ColorRef bottom2 = lineColour(bottomOuter, highlight);
        HorizontalLine(image, x0, x1, bottomOuter, bottom2);
    }

    const QString caption = text();
    if (!caption.isEmpty()) {
        QPainter painter(&image);
        if (g.stretched) {
            painter.setClipRect(QRect(QPoint(g.leftCentre.x() - r / 2, g.centre.y() - r),
                                      QPoint(g.rightCentre.x() + r / 2 - 1, g.centre.y() + r - 1)));
        } else {
            painter.setClipRegion(QRegion(QRect(g.centre.x() - r, g.centre.y() - r, 2 * r, 2 * r), QRegion::Ellipse));
        }
        // Crisp glyphs: the red caption sits exactly one pixel off its pink shadow.
        QFont captionFont = font();
        captionFont.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(captionFont);
        const QFontMetrics metrics(captionFont);
        const QSize textSize(metrics.horizontalAdvance(caption), metrics.height());
        QPoint topLeft(g.centre.x() - textSize.width() / 2, g.centre.y() - textSize.height() / 2);
        if (pressed)
            topLeft += QPoint(1, 1);
        const auto draw = [&](QPoint at, ColorRef colour) {
            painter.setPen(ToQColor(colour));
            painter.drawText(QRect(at, textSize), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, caption);
        };
        if (disabled) {
            // The platform's disabled look: embossed, highlight below right, shadow on top.
            draw(topLeft + QPoint(1, 1), highlight);
            draw(topLeft, shadow);
        } else {
            draw(topLeft, kCaptionShadow);
            draw(topLeft - QPoint(1, 1), kCaptionText);
        }
    }

    if (focusCircle)
        PlotCircle(image, g.centre.x(), g.centre.y(), r - 2, MakeColorRef(0, 0, 0), true);
    return image;
}

void CRoundButton::paintEvent(QPaintEvent*)
{
    if (!m_attached)
        m_geometry = ComputeRoundGeometry(size());  // not attached yet: no mask, no squaring
    QPainter painter(this);
    painter.drawImage(0, 0, Render());
}

}  // namespace tarvo
