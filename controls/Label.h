// CLabel: a text field whose text colour, background colour, font height and weight change at
// run time. Every coloured field of the station form is one (state and message fields of the
// rows, the clock, the path line).
//
// Painting follows the field's own attributes: background fill, optional sunken frame, the
// text centred (wrapped when it does not fit). The setters return the label so that calls can
// be chained in the order a caller names them. Two of them do not repaint on purpose:
// SetBkColor only stores the colour, which the next repaint (the caller's following SetText or
// SetTextColor) draws; the station's blinking relies on that order.
//
// A label with notify on takes mouse presses: a press first opens the text when it names an
// existing file in the working directory, then emits clicked(). Without notify the press goes
// to the parent and nothing opens.
//
// Threading: a widget; GUI thread only.
#pragma once

#include <QDir>
#include <QFont>
#include <QFrame>
#include <QString>

#include "controls/ColorRef.h"

namespace tarvo {

class CLabel : public QFrame {
    Q_OBJECT
public:
    explicit CLabel(QWidget* parent = nullptr);

    // Sets the text and schedules a repaint.
    CLabel& SetText(const QString& text);
    // Stores the text colour and repaints at once.
    CLabel& SetTextColor(ColorRef color);
    // Stores the background colour; does not repaint.
    CLabel& SetBkColor(ColorRef color);
    // Weight 700 when bold, else 400; repaints at once.
    CLabel& SetFontBold(bool bold);
    // Character height of `size` pixels (font height -size); repaints at once.
    CLabel& SetFontSize(int size);

    const QString& Text() const { return m_text; }
    ColorRef TextColor() const { return m_textColor; }
    ColorRef BkColor() const { return m_bkColor; }
    // Font height in the convention of the setters: negative character height in pixels.
    int FontHeight() const { return m_fontHeight; }
    int FontWeight() const { return m_font.weight(); }
    const QFont& LabelFont() const { return m_font; }

    // Colours of the last paint: what the field shows on screen.
    ColorRef PaintedTextColor() const { return m_paintedText; }
    ColorRef PaintedBkColor() const { return m_paintedBk; }
    int PaintCount() const { return m_paintCount; }

    // Takes mouse presses (and emits clicked()) when on.
    void SetNotify(bool notify);
    bool Notify() const { return m_notify; }
    void SetSunken(bool sunken);

    // The absolute path of the file that `text` names when it is an existing file directly
    // inside `directory`; empty otherwise.
    static QString FileToOpen(const QString& text, const QDir& directory);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    QSize sizeHint() const override;

private:
    void RepaintNow();
    void UpdateToolTip();

    QString m_text;
    ColorRef m_textColor;
    ColorRef m_bkColor;
    QFont m_font;
    int m_fontHeight;
    bool m_notify = false;
    ColorRef m_paintedText = 0;
    ColorRef m_paintedBk = 0;
    int m_paintCount = 0;
};

}  // namespace tarvo
