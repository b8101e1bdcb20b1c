// The station's profile as the command-line tool reads it: the settings file the station window
// writes ($XDG_CONFIG_HOME, else ~/.config, then "Local AppWizard-Generated Applications/
// Tarvo.conf", INI text). The tool only reads: section "Port" (keys "m_intPort1".."m_intPort8",
// 1 = the row takes part) and section "Device" (keys "COM5".."COM12", device paths).
//
// The administrator's settings (/etc/tarvo/station.conf, or the file TARVO_SYSTEM_CONF names)
// have the same sections and keys and override the user's profile: LoadUser() reads both, and
// every key the administrator's file sets is locked. A command-line option that contradicts a
// locked key is refused (LockedRecordOptions, LockedDevice) with an error naming the file and
// the key.
//
// Threading: a plain value; load once, read from any thread.
#pragma once

#include <map>
#include <set>
#include <string>

namespace tarvo::cli {

struct RecordSettings;

class Profile {
public:
    // Reads the user's profile, then the administrator's file over it; a missing file gives an
    // empty profile. An administrator's file that cannot be read is an Error().
    static Profile LoadUser();
    // $TARVO_SYSTEM_CONF, else /etc/tarvo/station.conf.
    static std::string SystemPath();
    // True when the administrator's file sets section/key.
    bool IsLocked(const std::string& section, const std::string& key) const;
    // Empty when `value` is what section/key holds or the key is not locked; else the error
    // "<option> contradicts "<section>"/"<key>" = <locked value>, set by the administrator in
    // <file>".
    std::string Contradiction(const std::string& option, const std::string& section, const std::string& key,
                              const std::string& value) const;
    // Reads `path`; a missing file gives an empty profile. A file that exists but cannot be read,
    // or holds a line that is neither a section, a comment nor "key=value" (a corrupt file), gives
    // the values read so far and Error() says why.
    static Profile Load(const std::string& path);
    // "<path>: cannot read the profile: <reason>" or "<path>:<line>: corrupt profile: ...";
    // empty when the profile was read whole (or is absent).
    const std::string& Error() const { return m_error; }
    static std::string UserPath();

    // The value of `key` in `section`, or `fallback`.
    std::string Get(const std::string& section, const std::string& key, const std::string& fallback = {}) const;
    int GetInt(const std::string& section, const std::string& key, int fallback) const;

private:
    std::map<std::string, std::string> m_values;  // "section/key" -> value
    std::set<std::string> m_locked;                // "section/key" set by the administrator
    std::string m_error;
};

// The record options (--record, --no-record, --forward) against the locked "Record" keys:
// empty when none contradicts one, else the error.
std::string LockedRecordOptions(const Profile& profile, const RecordSettings& settings);
// A device given for COM `port` on the command line against a locked "Device"/"COM<port>".
std::string LockedDevice(const Profile& profile, int port, const std::string& device);

// Decodes one INI value as the settings file stores it: plain text, or a quoted string with
// backslash escapes (\" \\ \n \t \xHH...).
std::string DecodeIniValue(const std::string& raw);

}  // namespace tarvo::cli
