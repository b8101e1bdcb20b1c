#include "record/Identity.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <pwd.h>
#include <sys/random.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#ifndef TARVO_VERSION
#define TARVO_VERSION "0"
#endif

namespace tarvo::record {

std::string NewRunId()
{
    unsigned char b[16];
    std::size_t got = 0;
    while (got < sizeof b) {
        ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (errno != EINTR)
            break;
    }
    if (got < sizeof b) {
        // No kernel randomness: fall back on /dev/urandom.
        if (std::FILE* f = std::fopen("/dev/urandom", "rb")) {
            got = std::fread(b, 1, sizeof b, f);
            std::fclose(f);
        }
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

std::string IsoUtc(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    return text;
}

std::string IsoUtcNow() { return IsoUtc(std::chrono::system_clock::now()); }

bool ParseUserTime(const std::string& text, std::string& isoUtc)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    const char* p = text.c_str();
    int used = 0;
    if (std::sscanf(p, "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10)
        return false;
    p += used;
    if (*p == 'T' || *p == ' ') {
        ++p;
        used = 0;
        if (std::sscanf(p, "%2d:%2d%n", &h, &mi, &used) != 2 || used != 5)
            return false;
        p += used;
        if (*p == ':') {
            used = 0;
            if (std::sscanf(p, ":%2d%n", &s, &used) != 1 || used != 3)
                return false;
            p += used;
            if (*p == '.') {
                used = 0;
                if (std::sscanf(p, ".%3d%n", &ms, &used) != 1 || used != 4)
                    return false;
                p += used;
            }
        }
    }
    bool utc = false;
    if (*p == 'Z') {
        utc = true;
        ++p;
    }
    if (*p != '\0' || mo < 1 || mo > 12 || h > 23 || mi > 59 || s > 60)
        return false;
    // mktime and timegm would move 2026-02-30 to March 2nd without a word: refuse it here.
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d < 1 || d > kDays[mo - 1] + (mo == 2 && leap ? 1 : 0))
        return false;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    std::time_t t = utc ? ::timegm(&tm) : std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return false;
    isoUtc = IsoUtc(std::chrono::system_clock::from_time_t(t) + std::chrono::milliseconds(ms));
    return true;
}

std::string HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

std::string UserName()
{
    const uid_t uid = ::getuid();
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return std::to_string(uid);
}

const char* TarvoVersion() { return TARVO_VERSION; }

std::string ResolvedPath(const std::string& path)
{
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved))
        return resolved;
    return path;
}

namespace {

// Start time of `pid` in clock ticks since boot (field 22 of /proc/<pid>/stat); empty when the
// process does not exist.
std::string StartTime(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return {};
    // The command name (field 2) may hold spaces and parentheses: count from the last ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return {};
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22 && rest >> field; ++i) {
        if (i == 22)
            return field;
    }
    return {};
}

}  // namespace

std::string ProcessTag()
{
    const long pid = static_cast<long>(::getpid());
    return std::to_string(pid) + ":" + StartTime(pid);
}

bool ProcessAlive(const std::string& tag)
{
    const auto colon = tag.find(':');
    if (colon == std::string::npos)
        return false;
    const long pid = std::strtol(tag.c_str(), nullptr, 10);
    if (pid <= 0)
        return false;
    const std::string start = StartTime(pid);
    return !start.empty() && start == tag.substr(colon + 1);
}

}  // namespace tarvo::record
