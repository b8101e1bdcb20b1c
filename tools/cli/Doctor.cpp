// tarvo-cli doctor: preflight checks of the station's ports and files (doctor/Doctor.h), as
// lines for people or as one JSON object per check.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#include "doctor/Doctor.h"
#include "serial/PortDirectory.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Flash.h"
#include "tools/cli/Profile.h"
#include "tools/cmdline/CommandLine.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage = "doctor [--port N[=DEVICE]]... [--json]";

void PrintJson(const doctor::Finding& f)
{
    const std::string port = f.port > 0 ? std::to_string(f.port) : "null";
    const std::string device = f.port > 0 ? "\"" + JsonEscape(f.device) + "\"" : "null";
    std::printf("{\"port\":%s,\"device\":%s,\"check\":\"%s\",\"ok\":%s,\"detail\":\"%s\",\"hint\":\"%s\"}\n",
                port.c_str(), device.c_str(), f.check.c_str(), f.ok ? "true" : "false",
                JsonEscape(f.detail).c_str(), JsonEscape(f.hint).c_str());
}

// `text` broken into lines of at most `width` columns at spaces (a word longer than a line
// stays whole), each after the first indented by `indent` spaces; one line when width <= 0.
std::string Wrapped(const std::string& text, int width, int indent)
{
    if (width <= indent + 20)
        return text;
    std::string out;
    int column = indent;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(at, end - at);
        if (column > indent && column + 1 + static_cast<int>(word.size()) > width) {
            out += "\n" + std::string(static_cast<std::size_t>(indent), ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        }
        out += word;
        column += static_cast<int>(word.size());
        at = end + 1;
    }
    return out;
}

// One heading line per port and one for the station's files, the ports with problems first
// (worst first), each problem with its fix in full; the checks that passed are named on one
// line. On a terminal the long lines are wrapped at its width under their own column.
void PrintText(const std::vector<doctor::Finding>& findings)
{
    int width = 0;
    if (winsize size{}; ::isatty(STDOUT_FILENO) && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
        width = size.ws_col - 1;
    constexpr int kIndent = 25;
    for (const doctor::FindingGroup& group : doctor::GroupFindings(findings)) {
        const std::string heading = group.port > 0 ? "COM" + std::to_string(group.port) + " " + group.device : "Station files";
        const std::size_t checks = group.problems.size() + group.passed.size();
        if (group.problems.empty()) {
            std::printf("%s: ok (%zu checks passed)\n", heading.c_str(), checks);
            continue;
        }
        std::printf("%s: %zu of %zu checks failed\n", heading.c_str(), group.problems.size(), checks);
        for (const doctor::Finding& f : group.problems) {
            std::printf("  FAIL  %-15s  %s\n", doctor::CheckName(f.check), Wrapped(f.detail, width, kIndent).c_str());
            std::printf("%*sfix: %s\n", kIndent, "", Wrapped(f.hint, width, kIndent + 5).c_str());
        }
        if (!group.passed.empty()) {
            std::string names;
            for (const doctor::Finding& f : group.passed)
                names += (names.empty() ? "" : ", ") + std::string(doctor::CheckName(f.check));
            std::printf("  ok    %-15s  %s\n", "passed", Wrapped(names, width, kIndent).c_str());
        }
    }
}

}  // namespace

int RunDoctor(int argc, char** argv)
{
    std::vector<PortTarget> ports;
    bool json = false;
    cmdline::OptionTable table("tarvo-cli doctor", kUsage, "usage: tarvo-cli ");
    table
        .Description("Checks every port's device (exists, is a terminal, may be opened by this user, is not\n"
                     "held by another program, has a stable name, is left alone by ModemManager and brltty,\n"
                     "FTDI latency timer) and the station's files (monitor files in the current directory,\n"
                     "the stored download image). Each finding has a stable code, a detail and a hint.\n")
        .Value("port", "N[=DEVICE]",
               "COM port N (1..255); its device from the profile or DEVICE.\n"
               "Repeatable. Without --port: every port enabled in the profile.",
               [&](const std::string& v) {
                   const char* text = v.c_str();
                   char* end = nullptr;
                   const long n = std::strtol(text, &end, 10);
                   if (end == text || n < 1 || n > 255 || (*end != '\0' && (*end != '=' || end[1] == '\0')))
                       return "--port takes N or N=DEVICE (N from 1 to 255), not '" + v + "'";
                   ports.push_back(PortTarget{static_cast<int>(n), *end == '=' ? std::string(end + 1) : std::string()});
                   return std::string();
               })
        .Flag("json",
              "one JSON object per check:\n"
              "{\"port\":N,\"device\":\"...\",\"check\":\"CODE\",\"ok\":true|false,\n"
              " \"detail\":\"...\",\"hint\":\"...\"} (port and device null for files)",
              [&] { json = true; })
        .Epilogue("Exit status 0 when nothing is wrong, 1 otherwise.\n");
    if (const int status = table.ParseOrExit(argc, argv); status >= 0)
        return status;
    const Profile profile = Profile::LoadUser();
    if (ports.empty()) {
        for (int k = 1; k <= 8; ++k)
            if (profile.GetInt("Port", "m_intPort" + std::to_string(k), 0) == 1)
                ports.push_back(PortTarget{k + 4, {}});
    }
    std::vector<doctor::Finding> findings;
    for (PortTarget& target : ports) {
        if (target.device.empty())
            target.device = profile.Get("Device", "COM" + std::to_string(target.port));
        if (target.device.empty())
            target.device = DefaultDevicePath(target.port);
        for (doctor::Finding& f : doctor::CheckPort(target.port, target.device))
            findings.push_back(std::move(f));
    }
    for (doctor::Finding& f : doctor::CheckStationFiles({}, profile.Get("MainSW", "Name")))
        findings.push_back(std::move(f));
    for (doctor::Finding& f : doctor::CheckSettingsFiles(Profile::SystemPath(), Profile::UserPath()))
        findings.push_back(std::move(f));

    bool allOk = true;
    for (const doctor::Finding& f : findings) {
        allOk &= f.ok;
        if (json)
            PrintJson(f);
    }
    if (!json) {
        if (ports.empty())
            std::printf("No port given and none enabled in %s\n\n", Profile::UserPath().c_str());
        PrintText(findings);
        std::printf("\n%s\n", allOk ? "Nothing wrong found." : "Problems found: see the lines marked FAIL and their fixes.");
    }
    std::fflush(stdout);
    return allOk ? kExitOk : kExitFailure;
}

}  // namespace tarvo::cli
