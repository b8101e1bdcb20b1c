// CSettingsLocks: who may change the station's settings from the window. Two locks guard them:
//   - the engineer PIN (station/EngineerLock.h): asked for before COMPORT SETTING, FILE OPEN
//     and the PIN dialog itself, when one is set;
//   - the administrator's file (station/Profile.h): a setting it holds is changed by nobody at
//     the station. Its buttons are disabled with a tooltip naming the file, and an action on it
//     (from a menu or a shortcut) refuses with a status message instead of acting.
// An administrator's lock wins over the PIN: a locked setting is refused before any prompt.
//
// Threading: GUI thread only. The PIN prompt and the PIN dialog run modal on it (or through
// the runners the window was given).
#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "station/EngineerLock.h"

class QAbstractButton;
class QWidget;

namespace tarvo {

class CPinPrompt;
class CPinSetDialog;
class IClock;

class CSettingsLocks : public QObject {
    Q_OBJECT
public:
    // How the dialogs run. Empty functions: a modal exec(). The guarded action goes on when
    // prompt.Opened(); pinSet returns true when the dialog ended with OK.
    struct Runners {
        std::function<void(CPinPrompt& prompt)> pinPrompt;
        std::function<bool(CPinSetDialog& dialog)> pinSet;
    };

    // `owner` parents the dialogs; `lockClock` (null: the system clock) times the lock-out.
    CSettingsLocks(QWidget* owner, IClock* lockClock, Runners runners);

    CEngineerLock& EngineerLock() { return m_lock; }

    // Asks for the engineer PIN when one is set, naming `purpose` (a kGuard... text of
    // resources/Strings.h). True when no PIN is set or the right one was entered.
    bool UnlockEngineer(const char* purpose);
    // Sets, changes or removes the PIN (after the old one, when one is set); refused while the
    // administrator's file holds it. Says what happened in statusMessage.
    void EditPin();

    // True when the administrator's file holds every row's flag and device: nothing of the
    // port dialog is left to change.
    bool PortSettingsLocked() const;
    // True, with the locked tip in statusMessage, when the administrator's file holds `key`.
    bool Refuse(const char* section, const char* key);
    bool RefusePortSettings();
    // Disables the buttons whose settings the administrator's file holds (either may be null)
    // and gives them the tip naming the file. Never enables a button.
    void DisableLockedButtons(QAbstractButton* portSetting, QAbstractButton* fileOpen) const;

signals:
    void statusMessage(const QString& text);

private:
    QWidget* m_owner;
    Runners m_runners;
    CEngineerLock m_lock;
};

}  // namespace tarvo
