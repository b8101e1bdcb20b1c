// CScannerInput: keys typed into the station window make up unit labels. A barcode scanner in
// keyboard mode types a label and ends it with Enter; a hand may type one the same way.
//
// In the station window: keys outside text fields and without Ctrl, Alt or Meta are collected;
// Enter hands the collected label to `take`, Escape drops it, Backspace takes back one
// character. A label never begins with a space (a space alone still presses the focused
// button), and what was collected is dropped after kTypingPauseMs without a key. While a label
// is being collected, its keys go to no widget.
//
// In a dialog of the station (the PIN prompt, the port dialog): keys reach the dialog as usual,
// but a burst of at least kScanMinLength characters, each at most kScanGapMs after the one
// before, ended by Enter, is a scan: it is taken back out of the field it went into (the field
// gets its text from before the burst) and handed to `take`, and its Enter never reaches the
// dialog. A scan is thus never taken as a PIN; a hand is never that fast.
//
// Every step shows in statusMessage (the label so far, or why a scan in a dialog went nowhere).
//
// Threading: GUI thread only. It filters the application's events from construction to
// destruction.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QKeyEvent;
class QLineEdit;
class QWidget;

namespace tarvo {

class CScannerInput : public QObject {
    Q_OBJECT
public:
    // `window`: a widget of the station window. `take` gets each finished label as typed or
    // scanned (without its Enter) and returns whether a row took it.
    CScannerInput(QWidget* window, std::function<bool(const QString& typed)> take);
    ~CScannerInput() override;

    // Characters typed so far for the next label.
    const QString& Typed() const { return m_typed; }

    static constexpr qint64 kTypingPauseMs = 10000;
    static constexpr qint64 kScanGapMs = 25;
    static constexpr qsizetype kScanMinLength = 4;

signals:
    void statusMessage(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool KeyTyped(QObject* receiver, QKeyEvent* key);
    bool ScannedIntoDialog(QObject* receiver, QKeyEvent* key);

    QWidget* m_window;
    std::function<bool(const QString&)> m_take;
    QString m_typed;
    QElapsedTimer m_lastKey;
    // The burst of keys into a dialog: what, into which field, the field's text before it, and
    // when its last key came.
    QString m_burst;
    QPointer<QLineEdit> m_burstField;
    QString m_burstBefore;
    QElapsedTimer m_burstLast;
};

}  // namespace tarvo
