#include "tools/cli/Profile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

#include "tools/cli/RecordSetup.h"

namespace tarvo::cli {
namespace {

std::string Trim(const std::string& s)
{
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string DecodeIniValue(const std::string& raw)
{
    std::string value = Trim(raw);
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        char n = value[++i];
        switch (n) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '0': out += '\0'; break;
        case 'x': {
            unsigned code = 0;
            while (i + 1 < value.size() && HexDigit(value[i + 1]) >= 0)
                code = code * 16 + static_cast<unsigned>(HexDigit(value[++i]));
            // Stored as a UTF-16 code unit; write it back as UTF-8.
            if (code < 0x80) {
                out += static_cast<char>(code);
            } else if (code < 0x800) {
                out += static_cast<char>(0xC0 | (code >> 6));
                out += static_cast<char>(0x80 | (code & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (code >> 12));
                out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (code & 0x3F));
            }
            break;
        }
        default: out += n; break;
        }
    }
    (void)quoted;
    return out;
}

std::string Profile::UserPath()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = ".config";
    return base + "/Local AppWizard-Generated Applications/Tarvo.conf";
}

std::string Profile::SystemPath()
{
    const char* overridden = std::getenv("TARVO_SYSTEM_CONF");
    return overridden && *overridden ? overridden : "/etc/tarvo/station.conf";
}

Profile Profile::LoadUser()
{
    Profile profile = Load(UserPath());
    Profile system = Load(SystemPath());
    for (const auto& [key, value] : system.m_values) {
        profile.m_values[key] = value;
        profile.m_locked.insert(key);
    }
    if (!system.m_error.empty())
        profile.m_error = profile.m_error.empty() ? system.m_error : profile.m_error + "; " + system.m_error;
    return profile;
}

bool Profile::IsLocked(const std::string& section, const std::string& key) const
{
    return m_locked.count(section + "/" + key) != 0;
}

std::string Profile::Contradiction(const std::string& option, const std::string& section, const std::string& key,
                                   const std::string& value) const
{
    if (!IsLocked(section, key))
        return {};
    const std::string locked = Get(section, key);
    if (locked == value)
        return {};
    return option + " contradicts \"" + section + "\"/\"" + key + "\" = " + (locked.empty() ? "(empty)" : locked) +
           ", set by the administrator in " + SystemPath();
}

std::string LockedRecordOptions(const Profile& profile, const RecordSettings& settings)
{
    if (profile.IsLocked("Record", "Enabled") && (profile.GetInt("Record", "Enabled", 1) != 0) != settings.enabled)
        return (settings.enabled ? std::string("recording") : std::string("--no-record")) +
               " contradicts \"Record\"/\"Enabled\" = " + profile.Get("Record", "Enabled") +
               ", set by the administrator in " + Profile::SystemPath();
    if (profile.IsLocked("Record", "Database"))
        if (std::string e = profile.Contradiction("--record " + settings.database, "Record", "Database", settings.database);
            !e.empty())
            return e;
    if (profile.IsLocked("Record", "Forward"))
        // The URL may hold a password: the error names the key, not the value.
        if (profile.Get("Record", "Forward") != settings.forward)
            return "--forward contradicts \"Record\"/\"Forward\", set by the administrator in " + Profile::SystemPath();
    return {};
}

std::string LockedDevice(const Profile& profile, int port, const std::string& device)
{
    const std::string key = "COM" + std::to_string(port);
    return profile.Contradiction("--port " + std::to_string(port) + "=" + device, "Device", key, device);
}

Profile Profile::Load(const std::string& path)
{
    Profile profile;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT)
            profile.m_error = path + ": cannot read the profile: " + std::strerror(errno);
        return profile;  // no profile yet: every value takes its default
    }
    if (!S_ISREG(info.st_mode)) {
        profile.m_error = path + ": cannot read the profile: not a regular file";
        return profile;
    }
    std::ifstream in(path);
    if (!in) {
        profile.m_error = path + ": cannot read the profile: " + std::strerror(errno);
        return profile;
    }
    std::string section;
    long number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.find('\0') != std::string::npos) {
            profile.m_error = path + ":" + std::to_string(number) + ": corrupt profile: binary data";
            return profile;
        }
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            profile.m_error = path + ":" + std::to_string(number) +
                              ": corrupt profile: neither a [section] nor a key=value line";
            return profile;
        }
        profile.m_values[section + "/" + Trim(line.substr(0, eq))] = DecodeIniValue(line.substr(eq + 1));
    }
    if (in.bad())
        profile.m_error = path + ": cannot read the profile: " + std::strerror(errno);
    return profile;
}

std::string Profile::Get(const std::string& section, const std::string& key, const std::string& fallback) const
{
    auto it = m_values.find(section + "/" + key);
    return it == m_values.end() ? fallback : it->second;
}

int Profile::GetInt(const std::string& section, const std::string& key, int fallback) const
{
    std::string value = Get(section, key);
    if (value.empty())
        return fallback;
    char* end = nullptr;
    long n = std::strtol(value.c_str(), &end, 10);
    return end && *end == '\0' ? static_cast<int>(n) : fallback;
}

}  // namespace tarvo::cli
