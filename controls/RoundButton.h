// CRoundButton: a push button drawn as a shaded circle (square client area) or as a pill
// (wider than tall): two half circles joined by straight lines, lit from the upper left at
// rest and from the lower right while pressed. The window is clipped to the ellipse inscribed
// in its client rectangle. The caption is centred, red over a pink shadow.
//
// The geometry is computed once, by Attach(), after the button got its size; a later resize
// does not change it. Clicks, enabling and focus are the push button's own.
//
// Threading: a widget; GUI thread only. The drawing helpers are reentrant.
#pragma once

#include <QImage>
#include <QPoint>
#include <QPushButton>
#include <QSize>

#include "controls/ColorRef.h"

namespace tarvo {

struct RoundGeometry {
    int right = 0;   // client rectangle after squaring (left and top are 0)
    int bottom = 0;
    QPoint centre;
    QPoint leftCentre;   // centre of the left half circle: (radius, centre y)
    QPoint rightCentre;  // centre of the right half circle: (right - radius - 1, centre y)
    int radius = 0;      // bottom / 2 - 1
    bool stretched = false;
};

// The geometry of a button whose client area is `client`.
RoundGeometry ComputeRoundGeometry(QSize client);

// Rim colour for a point at `angle` radians around the centre (-pi < angle < pi): `bright`
// where the light falls (-1.88 rad: up and a little to the left, y pointing down), `dark`
// opposite, cosine-blended in between.
ColorRef ShadeForAngle(double angle, ColorRef bright, ColorRef dark);

// One-pixel circle by an integer midpoint walk; `dashed` draws every other step. Pixels
// outside the image are skipped.
void PlotCircle(QImage& image, int x, int y, int radius, ColorRef color, bool dashed);
// Half circles (x >= centre, x <= centre) whose every pixel is shaded by ShadeForAngle.
void PlotRightHalf(QImage& image, int x, int y, int radius, ColorRef bright, ColorRef dark);
void PlotLeftHalf(QImage& image, int x, int y, int radius, ColorRef bright, ColorRef dark);

class CRoundButton : public QPushButton {
    Q_OBJECT
public:
    explicit CRoundButton(const QString& text, QWidget* parent = nullptr);

    // Computes the geometry from the current size, clips the window to the inscribed ellipse
    // and, for a square button, makes the window square.
    void Attach();
    const RoundGeometry& Geometry() const { return m_geometry; }
    bool IsAttached() const { return m_attached; }
    bool DashedFocus() const { return m_dashedFocus; }
    void SetDashedFocus(bool dashed) { m_dashedFocus = dashed; }

    // The button as it paints in its current state (tests and screenshots).
    QImage Render() const;

    // Caption colours.
    static constexpr ColorRef kCaptionShadow = MakeColorRef(255, 192, 203);
    static constexpr ColorRef kCaptionText = MakeColorRef(255, 0, 0);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RoundGeometry m_geometry;
    bool m_attached = false;
    bool m_dashedFocus = true;
};

}  // namespace tarvo
