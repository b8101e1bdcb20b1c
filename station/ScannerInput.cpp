#include "station/ScannerInput.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>
#include <utility>

#include "resources/Strings.h"
#include "resources/Translate.h"
#include "station/UnitLabels.h"

namespace tarvo {
namespace {

constexpr char kUnitContext[] = "UnitLabel";

bool IsTextInput(QObject* object)
{
    const QWidget* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return false;
    return widget->inherits("QLineEdit") || widget->inherits("QTextEdit") || widget->inherits("QPlainTextEdit") ||
           widget->inherits("QAbstractSpinBox") || widget->inherits("QAbstractItemView") ||
           (widget->inherits("QComboBox") && widget->property("editable").toBool());
}

}  // namespace

CScannerInput::CScannerInput(QWidget* window, std::function<bool(const QString& typed)> take)
    : m_window(window), m_take(std::move(take))
{
    qApp->installEventFilter(this);
}

CScannerInput::~CScannerInput() { qApp->removeEventFilter(this); }

bool CScannerInput::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        return ScannedIntoDialog(watched, key) || KeyTyped(watched, key);
    }
    return QObject::eventFilter(watched, event);
}

bool CScannerInput::KeyTyped(QObject* receiver, QKeyEvent* key)
{
    // Only keys meant for the station window, outside text fields, without command modifiers.
    QWidget* widget = qobject_cast<QWidget*>(receiver);
    if (!widget || widget->window() != m_window->window() || IsTextInput(receiver))
        return false;
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    if (m_lastKey.isValid() && m_lastKey.elapsed() > kTypingPauseMs)
        m_typed.clear();
    m_lastKey.start();
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        if (m_typed.isEmpty())
            return false;
        const QString typed = m_typed;
        m_typed.clear();
        m_take(typed);
        return true;
    }
    case Qt::Key_Escape:
        if (m_typed.isEmpty())
            return false;
        m_typed.clear();
        emit statusMessage(QString());
        return true;
    case Qt::Key_Backspace:
        if (m_typed.isEmpty())
            return false;
        m_typed.chop(1);
        emit statusMessage(Tr(kUnitContext, strings::kUnitTyping).arg(m_typed));
        return true;
    default:
        break;
    }
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint())
        return false;
    // A label never starts with a space: a space alone still presses the focused button.
    if (m_typed.isEmpty() && key->key() == Qt::Key_Space)
        return false;
    if (m_typed.size() <= static_cast<qsizetype>(station::UnitLabels::kMaxLength))
        m_typed += text;
    emit statusMessage(Tr(kUnitContext, strings::kUnitTyping).arg(m_typed));
    return true;
}

bool CScannerInput::ScannedIntoDialog(QObject* receiver, QKeyEvent* key)
{
    // Keys for another window of this station (a dialog: the PIN prompt, the port dialog). A
    // barcode scanner types a burst of characters far faster than a hand and ends it with
    // Enter; such a burst is taken out of the dialog's field and kept for the station as a
    // unit label, and its Enter never reaches the dialog (a scan is never a PIN).
    QWidget* widget = qobject_cast<QWidget*>(receiver);
    if (!widget || widget->window() == m_window->window() || !qobject_cast<QDialog*>(widget->window()))
        return false;
    const bool quick = m_burstLast.isValid() && m_burstLast.elapsed() <= kScanGapMs;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const QString burst = m_burst;
        m_burst.clear();
        if (!quick || burst.size() < kScanMinLength)
            return false;
        if (m_burstField && m_burstField->text().endsWith(burst))
            m_burstField->setText(m_burstBefore);
        if (!m_take(burst))
            emit statusMessage(
                QCoreApplication::translate("tarvo::CTarvoView", "Scanner input %1 was not taken in the dialog: close it and scan again")
                    .arg(burst));
        return true;
    }
    default:
        break;
    }
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint() ||
        (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        m_burst.clear();
        return false;
    }
    if (!quick || m_burst.isEmpty()) {
        m_burst.clear();
        m_burstField = qobject_cast<QLineEdit*>(receiver);
        m_burstBefore = m_burstField ? m_burstField->text() : QString();
    }
    m_burst += text;
    m_burstLast.start();
    return false;
}

}  // namespace tarvo
