#include "station/SettingsLocks.h"

#include <QAbstractButton>
#include <QDialog>
#include <QWidget>
#include <utility>

#include "resources/Strings.h"
#include "resources/Translate.h"
#include "station/PinDialogs.h"
#include "station/Profile.h"
#include "station/RowLogic.h"

namespace tarvo {

CSettingsLocks::CSettingsLocks(QWidget* owner, IClock* lockClock, Runners runners)
    : m_owner(owner), m_runners(std::move(runners)), m_lock(lockClock)
{
}

bool CSettingsLocks::UnlockEngineer(const char* purpose)
{
    if (!m_lock.HasPin())
        return true;
    CPinPrompt prompt(m_lock, purpose, m_owner);
    if (m_runners.pinPrompt)
        m_runners.pinPrompt(prompt);
    else
        prompt.exec();
    return prompt.Opened();
}

void CSettingsLocks::EditPin()
{
    if (Refuse(CEngineerLock::kSection, CEngineerLock::kKey))
        return;
    if (!UnlockEngineer(strings::kGuardPin))
        return;
    CPinSetDialog dialog(m_lock, m_owner);
    const bool ok = m_runners.pinSet ? m_runners.pinSet(dialog) : dialog.exec() == QDialog::Accepted;
    if (ok)
        emit statusMessage(Tr("EngineerPin", dialog.Removed() ? strings::kPinRemoved : strings::kPinSet));
}

bool CSettingsLocks::PortSettingsLocked() const
{
    for (int r = 1; r <= station::kRows; ++r) {
        if (!profile::IsLocked(profile::kPortSection, profile::PortFlagKey(r)) ||
            !profile::IsLocked(profile::kDeviceSection, profile::DeviceKey(station::PortForRow(r))))
            return false;
    }
    return true;
}

bool CSettingsLocks::Refuse(const char* section, const char* key)
{
    if (!profile::IsLocked(section, QString::fromLatin1(key)))
        return false;
    emit statusMessage(profile::LockedTip());
    return true;
}

bool CSettingsLocks::RefusePortSettings()
{
    if (!PortSettingsLocked())
        return false;
    emit statusMessage(profile::LockedTip());
    return true;
}

void CSettingsLocks::DisableLockedButtons(QAbstractButton* portSetting, QAbstractButton* fileOpen) const
{
    const std::pair<QAbstractButton*, bool> buttons[] = {
        {portSetting, PortSettingsLocked()},
        {fileOpen, profile::IsLocked(profile::kMainSwSection, QString::fromLatin1(profile::kMainSwKey))}};
    for (const auto& [button, locked] : buttons) {
        if (!button || !locked)
            continue;
        button->setEnabled(false);
        button->setToolTip(profile::LockedTip());
    }
}

}  // namespace tarvo
