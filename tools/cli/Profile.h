// The station's profile as the command-line tool reads it: the settings file the station window
// writes ($XDG_CONFIG_HOME, else ~/.config, then "Local AppWizard-Generated Applications/
// Tarvo.conf", INI text). The tool only reads: section "Port" (keys "m_intPort1".."m_intPort8",
// 1 = the row takes part) and section "Device" (keys "COM5".."COM12", device paths).
//
// Threading: a plain value; load once, read from any thread.
#pragma once

#include <map>
#include <string>

namespace tarvo::cli {

class Profile {
public:
    // Reads the user's profile; a missing file gives an empty profile.
    static Profile LoadUser();
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
    std::string m_error;
};

// Decodes one INI value as the settings file stores it: plain text, or a quoted string with
// backslash escapes (\" \\ \n \t \xHH...).
std::string DecodeIniValue(const std::string& raw);

}  // namespace tarvo::cli
