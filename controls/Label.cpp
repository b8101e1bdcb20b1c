#include "controls/Label.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QTextOption>
#include <QUrl>

namespace tarvo {

CLabel::CLabel(QWidget* parent)
    : QFrame(parent),
      m_textColor(ToColorRef(palette().color(QPalette::WindowText))),
      m_bkColor(ToColorRef(palette().color(QPalette::Button))),
      m_font(QApplication::font()),
      m_fontHeight(-QFontInfo(m_font).pixelSize())
{
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
}

CLabel& CLabel::SetText(const QString& text)
{
    if (text != m_text) {
        m_text = text;
        UpdateToolTip();
    }
    update();
    return *this;
}

CLabel& CLabel::SetTextColor(ColorRef color)
{
    m_textColor = color;
    RepaintNow();
    return *this;
}

CLabel& CLabel::SetBkColor(ColorRef color)
{
    m_bkColor = color;
    return *this;
}

CLabel& CLabel::SetFontBold(bool bold)
{
    m_font.setWeight(bold ? QFont::Bold : QFont::Normal);
    UpdateToolTip();
    RepaintNow();
    return *this;
}

CLabel& CLabel::SetFontSize(int size)
{
    m_fontHeight = -size;
    m_font.setPixelSize(size > 0 ? size : 1);
    UpdateToolTip();
    RepaintNow();
    return *this;
}

void CLabel::SetNotify(bool notify)
{
    m_notify = notify;
    setAttribute(Qt::WA_TransparentForMouseEvents, !notify);
}

void CLabel::SetSunken(bool sunken)
{
    setFrameStyle(sunken ? (QFrame::Panel | QFrame::Sunken) : QFrame::NoFrame);
    setLineWidth(1);
}

void CLabel::RepaintNow()
{
    // Drawn before the call returns, like the other setters' callers expect; a hidden label
    // has nothing on screen to bring up to date.
    if (isVisible())
        repaint();
    else
        update();
}

void CLabel::UpdateToolTip()
{
    // A text that does not fit the field stays readable in the tooltip.
    const QFontMetrics metrics(m_font);
    const bool fits = metrics.horizontalAdvance(m_text) <= contentsRect().width() - 2;
    setToolTip(fits ? QString() : m_text);
}

QSize CLabel::sizeHint() const
{
    const QFontMetrics metrics(m_font);
    return QSize(metrics.horizontalAdvance(m_text) + 2 * frameWidth() + 4, metrics.height() + 2 * frameWidth() + 2);
}

void CLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(m_bkColor));
    drawFrame(&painter);

    painter.setFont(m_font);
    QTextOption option(Qt::AlignCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const QRectF area = contentsRect().adjusted(1, 0, -1, 0);
    if (isEnabled()) {
        painter.setPen(ToQColor(m_textColor));
        painter.drawText(area, m_text, option);
    } else {
        // The platform's disabled look: an etched grey text.
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Light));
        painter.drawText(area.translated(1, 1), m_text, option);
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Dark));
        painter.drawText(area, m_text, option);
    }
    m_paintedText = m_textColor;
    m_paintedBk = m_bkColor;
    ++m_paintCount;
}

void CLabel::mousePressEvent(QMouseEvent* event)
{
    if (!m_notify) {
        event->ignore();  // the press belongs to the parent
        return;
    }
    if (event->button() == Qt::LeftButton) {
        const QString file = FileToOpen(m_text, QDir::current());
        if (!file.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(file));
        emit clicked();
    }
    QFrame::mousePressEvent(event);
}

QString CLabel::FileToOpen(const QString& text, const QDir& directory)
{
    if (text.isEmpty() || text.contains(QLatin1Char('/')) || text == QLatin1String(".") || text == QLatin1String(".."))
        return {};
    const QFileInfo info(directory, text);
    if (!info.exists() || !info.isFile())
        return {};
    return info.absoluteFilePath();
}

}  // namespace tarvo
