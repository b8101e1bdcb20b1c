// The application profile: the operator's settings, kept per user by QSettings under the
// organisation "Local AppWizard-Generated Applications" and the application "Tarvo"
// (on Linux: $XDG_CONFIG_HOME/Local AppWizard-Generated Applications/Tarvo.conf).
//
// Sections and keys:
//   "Port"/"m_intPort1".."m_intPort8"  rows that take part (1) or not (anything else)
//   "MainSW"/"Name"                    path of the download image in use
//   "Device"/"COM5".."COM12"           device path of a COM port (absent: /dev/ttyS<N-1>)
//
// Every write reaches the file before the call returns.
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
void WriteInt(const char* section, const QString& key, int value);
QString ReadString(const char* section, const QString& key, const QString& fallback = {});
void WriteString(const char* section, const QString& key, const QString& value);
void Remove(const char* section, const QString& key);

// "m_intPort<N>"
QString PortFlagKey(int row);
// "COM<N>"
QString DeviceKey(int portNumber);

// The device path stored for a COM port; empty when none is stored.
QString DeviceFor(int portNumber);
// Stores a COM port's device path; an empty path removes the key (default device).
void SetDeviceFor(int portNumber, const QString& path);
// A snapshot of the stored device paths of COM5..COM12, with the default for the others.
MapPortDirectory PortDirectory();

}  // namespace tarvo::profile
