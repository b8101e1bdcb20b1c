// The application profile: the operator's settings, kept per user by QSettings under the
// organisation "Local AppWizard-Generated Applications" and the application "Tarvo"
// (on Linux: $XDG_CONFIG_HOME/Local AppWizard-Generated Applications/Tarvo.conf).
//
// Sections and keys:
//   "Port"/"m_intPort1".."m_intPort8"  rows that take part (1) or not (anything else)
//   "MainSW"/"Name"                    path of the download image in use
//   "Device"/"COM5".."COM12"           device path of a COM port (absent: /dev/ttyS<N-1>)
//
// The administrator's settings: a root-owned /etc/tarvo/station.conf (TARVO_SYSTEM_CONF names
// another file, for tests) with the same sections and keys. Every key it sets overrides the
// operator's profile: the reads below return its value, whatever the profile holds, and the
// window keeps the controls of such a key disabled (IsLocked, LockedTip). Writes still go to
// the operator's profile, where they have no effect while the key is locked.
//
// Every write reaches the file before the call returns; a write that cannot be stored returns
// false, and SaveProblem() then says why in the operator's words. ReadProblem() tells whether
// the file can be read and parsed (a corrupt or unreadable profile).
//
// Threading: GUI thread (QSettings objects are not shared).
#pragma once

#include <QString>
#include <memory>

#include "serial/PortDirectory.h"

class QSettings;

namespace tarvo::profile {

inline constexpr char kPortSection[] = "Port";
inline constexpr char kMainSwSection[] = "MainSW";
inline constexpr char kMainSwKey[] = "Name";
inline constexpr char kDeviceSection[] = "Device";

std::unique_ptr<QSettings> Open();

// The integer under section/key; `fallback` when the key is absent, 0 when it holds no number.
int ReadInt(const char* section, const QString& key, int fallback);
bool WriteInt(const char* section, const QString& key, int value);
QString ReadString(const char* section, const QString& key, const QString& fallback = {});
bool WriteString(const char* section, const QString& key, const QString& value);
bool Remove(const char* section, const QString& key);

// The profile's file.
QString FilePath();
// Empty when the profile reads fine (or does not exist yet); otherwise what is wrong, naming
// the file.
QString ReadProblem();
// What keeps the profile from being saved, naming the file.
QString SaveProblem();

// The administrator's file: $TARVO_SYSTEM_CONF, else /etc/tarvo/station.conf.
QString SystemFilePath();
// True when the administrator's file sets section/key.
bool IsLocked(const char* section, const QString& key);
// "set by the administrator in <file>", translated.
QString LockedTip();
// Empty when the administrator's file is absent or reads fine; else what is wrong, naming it.
QString SystemReadProblem();

// "m_intPort<N>"
QString PortFlagKey(int row);
// "COM<N>"
QString DeviceKey(int portNumber);

// The device path stored for a COM port; empty when none is stored.
QString DeviceFor(int portNumber);
// Stores a COM port's device path; an empty path removes the key (default device).
bool SetDeviceFor(int portNumber, const QString& path);
// A snapshot of the stored device paths of COM5..COM12, with the default for the others.
MapPortDirectory PortDirectory();

}  // namespace tarvo::profile
