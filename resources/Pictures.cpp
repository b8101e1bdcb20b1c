#include "resources/Pictures.h"

#include <QFont>
#include <algorithm>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace tarvo::pictures {
namespace {

const QColor kNavy(0x16, 0x2a, 0x4a);
const QColor kBlue(0x1f, 0x6f, 0xd1);
const QColor kTeal(0x2b, 0xb5, 0xa0);

QPixmap Blank(QSize size)
{
    QPixmap pixmap(size.isValid() && !size.isEmpty() ? size : QSize(1, 1));
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A candy-bar handset: body, screen, keypad dots; `lit` colours the screen.
void DrawHandset(QPainter& p, const QRectF& body, const QColor& screen)
{
    p.setPen(QPen(QColor(0x30, 0x30, 0x38), 1));
    QLinearGradient shell(body.topLeft(), body.topRight());
    shell.setColorAt(0, QColor(0x6c, 0x72, 0x80));
    shell.setColorAt(0.5, QColor(0xa8, 0xae, 0xba));
    shell.setColorAt(1, QColor(0x5a, 0x60, 0x6c));
    p.setBrush(shell);
    p.drawRoundedRect(body, body.width() * 0.22, body.width() * 0.22);
    const QRectF display(body.left() + body.width() * 0.16, body.top() + body.height() * 0.12,
                         body.width() * 0.68, body.height() * 0.30);
    p.setBrush(screen);
    p.drawRect(display);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2a, 0x2e, 0x36));
    const double dot = std::max(1.0, body.width() * 0.12);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 3; ++c) {
            const double x = body.left() + body.width() * (0.24 + 0.26 * c);
            const double y = body.top() + body.height() * (0.52 + 0.11 * r);
            p.drawEllipse(QPointF(x, y), dot / 2, dot / 2);
        }
    }
}

}  // namespace

QPixmap Banner(QSize size)
{
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0.5, 0.5, pixmap.width() - 1.0, pixmap.height() - 1.0);
    QLinearGradient back(area.topLeft(), area.bottomRight());
    back.setColorAt(0, kNavy);
    back.setColorAt(1, kBlue);
    p.setPen(QPen(QColor(0x0c, 0x18, 0x2c), 1));
    p.setBrush(back);
    p.drawRoundedRect(area, 5, 5);

    // A flash mark: a bolt in a circle.
    const double h = area.height();
    const QPointF c(area.left() + h * 0.55, area.center().y());
    p.setPen(Qt::NoPen);
    p.setBrush(kTeal);
    p.drawEllipse(c, h * 0.36, h * 0.36);
    QPainterPath bolt;
    bolt.moveTo(c.x() + h * 0.05, c.y() - h * 0.26);
    bolt.lineTo(c.x() - h * 0.14, c.y() + h * 0.03);
    bolt.lineTo(c.x() - h * 0.01, c.y() + h * 0.03);
    bolt.lineTo(c.x() - h * 0.06, c.y() + h * 0.26);
    bolt.lineTo(c.x() + h * 0.15, c.y() - h * 0.05);
    bolt.lineTo(c.x() + h * 0.02, c.y() - h * 0.05);
    bolt.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(bolt);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setBold(true);
    title.setPixelSize(std::max(8, static_cast<int>(h * 0.50)));
    title.setLetterSpacing(QFont::AbsoluteSpacing, h * 0.06);
    p.setFont(title);
    p.setPen(Qt::white);
    const QRectF text(area.left() + h * 1.05, area.top(), area.width() - h * 1.1, h * 0.70);
    p.drawText(text, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("TARVO"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(std::max(6, static_cast<int>(h * 0.20)));
    sub.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    p.setFont(sub);
    p.setPen(QColor(0xc8, 0xe6, 0xff));
    const QRectF subText(text.left(), area.top() + h * 0.68, text.width(), h * 0.30);
    p.drawText(subText, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("8-PORT DOWNLOAD STATION"));
    return pixmap;
}

QPixmap StationPicture(QSize size)
{
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = pixmap.width();
    const double h = pixmap.height();
    QLinearGradient back(0, 0, 0, h);
    back.setColorAt(0, QColor(0xf4, 0xf7, 0xfb));
    back.setColorAt(1, QColor(0xd6, 0xdf, 0xea));
    p.setPen(QPen(QColor(0x8a, 0x96, 0xa8), 1));
    p.setBrush(back);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 6, 6);

    // The station hub along the bottom with eight port lamps.
    const QRectF hub(w * 0.06, h * 0.74, w * 0.88, h * 0.16);
    QLinearGradient hubShade(hub.topLeft(), hub.bottomLeft());
    hubShade.setColorAt(0, QColor(0x3a, 0x44, 0x56));
    hubShade.setColorAt(1, QColor(0x1c, 0x22, 0x2e));
    p.setPen(QPen(QColor(0x10, 0x14, 0x1c), 1));
    p.setBrush(hubShade);
    p.drawRoundedRect(hub, 3, 3);

    const QColor screens[8] = {QColor(0x40, 0xe0, 0x60), QColor(0x40, 0xe0, 0x60), QColor(0xff, 0xd0, 0x30),
                               QColor(0x40, 0xe0, 0x60), QColor(0xe8, 0x40, 0x40), QColor(0x40, 0xe0, 0x60),
                               QColor(0xff, 0xd0, 0x30), QColor(0x40, 0xe0, 0x60)};
    const double slot = hub.width() / 8.0;
    const double phoneW = slot * 0.62;
    const double phoneH = h * 0.46;
    for (int i = 0; i < 8; ++i) {
        const double cx = hub.left() + slot * (i + 0.5);
        const QPointF lamp(cx, hub.center().y());
        // Cable from the port up to the handset.
        p.setPen(QPen(QColor(0x50, 0x58, 0x66), std::max(1.0, w / 160.0)));
        p.drawLine(lamp, QPointF(cx, h * 0.10 + phoneH));
        DrawHandset(p, QRectF(cx - phoneW / 2, h * 0.10 + (i % 2) * h * 0.04, phoneW, phoneH), screens[i]);
        p.setPen(Qt::NoPen);
        QRadialGradient glow(lamp, slot * 0.22);
        glow.setColorAt(0, screens[i].lighter(140));
        glow.setColorAt(1, screens[i].darker(150));
        p.setBrush(glow);
        p.drawEllipse(lamp, slot * 0.16, slot * 0.16);
    }
    return pixmap;
}

QPixmap AppIcon(int side)
{
    QPixmap pixmap = Blank(QSize(side, side));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = side;
    QLinearGradient back(0, 0, s, s);
    back.setColorAt(0, kBlue);
    back.setColorAt(1, kNavy);
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(s * 0.03, s * 0.03, s * 0.94, s * 0.94), s * 0.2, s * 0.2);
    DrawHandset(p, QRectF(s * 0.20, s * 0.16, s * 0.32, s * 0.68), QColor(0x40, 0xe0, 0x60));
    // Download arrow.
    QPainterPath arrow;
    arrow.moveTo(s * 0.66, s * 0.20);
    arrow.lineTo(s * 0.78, s * 0.20);
    arrow.lineTo(s * 0.78, s * 0.50);
    arrow.lineTo(s * 0.88, s * 0.50);
    arrow.lineTo(s * 0.72, s * 0.72);
    arrow.lineTo(s * 0.56, s * 0.50);
    arrow.lineTo(s * 0.66, s * 0.50);
    arrow.closeSubpath();
    p.setBrush(kTeal);
    p.drawPath(arrow);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(s * 0.56, s * 0.76, s * 0.32, s * 0.06));
    return pixmap;
}

QIcon AppIconSet()
{
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(AppIcon(side));
    return icon;
}

}  // namespace tarvo::pictures
