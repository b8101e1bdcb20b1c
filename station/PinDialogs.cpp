#include "station/PinDialogs.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>

#include "resources/Strings.h"
#include "station/EngineerLock.h"

namespace tarvo {
namespace {

constexpr char kContext[] = "EngineerPin";

QLineEdit* PinField(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(CEngineerLock::kMaxPinLength);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 20);
    return edit;
}

void Warn(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

}  // namespace

// --- prompt --------------------------------------------------------------------------------

CPinPrompt::CPinPrompt(CEngineerLock& lock, const char* purpose, QWidget* parent)
    : QDialog(parent), m_lock(lock), m_purpose(purpose)
{
    setObjectName(QStringLiteral("pinPrompt"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    m_ask = new QLabel(this);
    m_pin = PinField(this);
    m_message = new QLabel(this);
    m_message->setStyleSheet(QStringLiteral("color: #d00000;"));
    m_message->setWordWrap(true);
    m_message->hide();
    m_ok = new QPushButton(this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(this);
    connect(m_ok, &QPushButton::clicked, this, &CPinPrompt::accept, Qt::DirectConnection);
    connect(m_cancel, &QPushButton::clicked, this, &CPinPrompt::reject, Qt::DirectConnection);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    layout->addWidget(m_ask);
    layout->addWidget(m_pin);
    layout->addWidget(m_message);
    layout->addLayout(buttons);
    Retranslate();
    UpdateLockOut();
    m_tick.start(1000, this);
}

void CPinPrompt::Retranslate()
{
    setWindowTitle(Tr(kContext, strings::kPinCaption));
    m_ask->setText(Tr(kContext, strings::kPinAsk).arg(Tr(kContext, m_purpose)));
    m_ok->setText(Tr(kContext, strings::kPinOk));
    m_cancel->setText(Tr(kContext, strings::kPinCancel));
    if (m_attemptsLeftShown > 0)
        Warn(m_message, Tr(kContext, strings::kPinWrong).arg(m_attemptsLeftShown));
    UpdateLockOut();
}

void CPinPrompt::UpdateLockOut()
{
    if (m_checking)
        return;
    const uint32_t left = m_lock.LockedForMs();
    const bool locked = left > 0;
    m_pin->setEnabled(!locked);
    m_ok->setEnabled(!locked);
    if (locked) {
        m_attemptsLeftShown = -1;
        Warn(m_message, Tr(kContext, strings::kPinLockedOut).arg((left + 999) / 1000));
    } else if (m_attemptsLeftShown <= 0) {
        Warn(m_message, QString());
        m_pin->setFocus();
    }
}

void CPinPrompt::accept()
{
    if (m_checking)
        return;
    const QString pin = m_pin->text();
    m_pin->clear();
    // The check takes a few tenths of a second off the GUI thread; meanwhile the prompt takes
    // no second PIN.
    m_checking = true;
    m_pin->setEnabled(false);
    m_ok->setEnabled(false);
    m_lock.TryAsync(pin, this, [this](CEngineerLock::Result result) {
        m_checking = false;
        m_pin->setEnabled(true);
        m_ok->setEnabled(true);
        switch (result) {
        case CEngineerLock::Result::Open:
            m_opened = true;
            QDialog::accept();
            return;
        case CEngineerLock::Result::Wrong:
            m_attemptsLeftShown = m_lock.AttemptsLeft();
            Warn(m_message, Tr(kContext, strings::kPinWrong).arg(m_attemptsLeftShown));
            m_pin->setFocus();
            return;
        case CEngineerLock::Result::LockedOut:
            UpdateLockOut();
            return;
        }
    });
}

void CPinPrompt::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QDialog::changeEvent(event);
}

void CPinPrompt::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_tick.timerId())
        UpdateLockOut();
    else
        QDialog::timerEvent(event);
}

// --- setting the PIN -----------------------------------------------------------------------

CPinSetDialog::CPinSetDialog(CEngineerLock& lock, QWidget* parent) : QDialog(parent), m_lock(lock)
{
    setObjectName(QStringLiteral("pinSet"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    m_newLabel = new QLabel(this);
    m_new = PinField(this);
    m_repeatLabel = new QLabel(this);
    m_repeat = PinField(this);
    m_message = new QLabel(this);
    m_message->setStyleSheet(QStringLiteral("color: #d00000;"));
    m_message->setWordWrap(true);
    m_message->hide();
    m_ok = new QPushButton(this);
    m_ok->setDefault(true);
    m_cancel = new QPushButton(this);
    connect(m_ok, &QPushButton::clicked, this, &CPinSetDialog::accept, Qt::DirectConnection);
    connect(m_cancel, &QPushButton::clicked, this, &CPinSetDialog::reject, Qt::DirectConnection);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    layout->addWidget(m_newLabel);
    layout->addWidget(m_new);
    layout->addWidget(m_repeatLabel);
    layout->addWidget(m_repeat);
    layout->addWidget(m_message);
    layout->addLayout(buttons);
    Retranslate();
}

void CPinSetDialog::Retranslate()
{
    setWindowTitle(Tr(kContext, strings::kPinCaption));
    m_newLabel->setText(
        Tr(kContext, strings::kPinNew).arg(CEngineerLock::kMinPinLength).arg(CEngineerLock::kMaxPinLength));
    m_repeatLabel->setText(Tr(kContext, strings::kPinRepeat));
    m_ok->setText(Tr(kContext, strings::kPinOk));
    m_cancel->setText(Tr(kContext, strings::kPinCancel));
}

void CPinSetDialog::accept()
{
    if (m_new->text() != m_repeat->text()) {
        Warn(m_message, Tr(kContext, strings::kPinMismatch));
        m_repeat->clear();
        return;
    }
    QString error;
    if (!m_lock.SetPin(m_new->text(), &error)) {
        Warn(m_message, error);
        return;
    }
    m_removed = m_new->text().isEmpty();
    m_new->clear();
    m_repeat->clear();
    QDialog::accept();
}

void CPinSetDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QDialog::changeEvent(event);
}

}  // namespace tarvo
