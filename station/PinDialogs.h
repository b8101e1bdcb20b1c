// The two dialogs of the engineer lock (station/EngineerLock.h):
//   CPinPrompt   asks for the PIN before a guarded action; counts wrong PINs through the lock
//                and shows the lock-out with its seconds left.
//   CPinSetDialog  sets a new PIN (typed twice) or, left empty, removes it.
// OK runs the check (accept() is where it happens, so nothing reaches Accepted without it); the
// prompt's check runs off the GUI thread and ends the dialog when the right PIN was entered.
//
// Threading: widgets; GUI thread only.
#pragma once

#include <QBasicTimer>
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvo {

class CEngineerLock;

class CPinPrompt : public QDialog {
    Q_OBJECT
public:
    // `purpose` names the guarded action: one of the kGuard... texts of resources/Strings.h,
    // shown translated.
    CPinPrompt(CEngineerLock& lock, const char* purpose, QWidget* parent = nullptr);

    QLineEdit* PinEdit() const { return m_pin; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }
    QLabel* Message() const { return m_message; }
    // True once a right PIN was entered.
    bool Opened() const { return m_opened; }
    // True while an entered PIN is being checked (off the GUI thread).
    bool Checking() const { return m_checking; }
    // Shows the lock-out state as the lock's clock has it now (also done every second).
    void UpdateLockOut();

    void accept() override;

protected:
    void changeEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void Retranslate();

    CEngineerLock& m_lock;
    const char* m_purpose;
    QLabel* m_ask = nullptr;
    QLineEdit* m_pin = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QBasicTimer m_tick;
    bool m_opened = false;
    bool m_checking = false;
    int m_attemptsLeftShown = -1;
};

class CPinSetDialog : public QDialog {
    Q_OBJECT
public:
    CPinSetDialog(CEngineerLock& lock, QWidget* parent = nullptr);

    QLineEdit* NewPin() const { return m_new; }
    QLineEdit* RepeatPin() const { return m_repeat; }
    QPushButton* OkButton() const { return m_ok; }
    QLabel* Message() const { return m_message; }
    // After Accepted: true when the PIN was removed, false when one was set.
    bool Removed() const { return m_removed; }

    void accept() override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void Retranslate();

    CEngineerLock& m_lock;
    QLabel* m_newLabel = nullptr;
    QLabel* m_repeatLabel = nullptr;
    QLineEdit* m_new = nullptr;
    QLineEdit* m_repeat = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    bool m_removed = false;
};

}  // namespace tarvo
