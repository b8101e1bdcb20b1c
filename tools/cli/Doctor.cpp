// tarvo-cli doctor: preflight checks of the station's ports and files (doctor/Doctor.h), as
// lines for people or as one JSON object per check.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "doctor/Doctor.h"
#include "serial/PortDirectory.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Flash.h"
#include "tools/cli/Profile.h"

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

void PrintText(const std::vector<doctor::Finding>& findings)
{
    std::string heading;
    for (const doctor::Finding& f : findings) {
        const std::string h = f.port > 0 ? "COM" + std::to_string(f.port) + " " + f.device : "Station files";
        if (h != heading) {
            std::printf("%s%s\n", heading.empty() ? "" : "\n", h.c_str());
            heading = h;
        }
        std::printf("  %-4s %-14s %s\n", f.ok ? "ok" : "FAIL", f.check.c_str(), f.detail.c_str());
        if (!f.ok)
            std::printf("       %-14s fix: %s\n", "", f.hint.c_str());
    }
}

}  // namespace

int RunDoctor(int argc, char** argv)
{
    std::vector<PortTarget> ports;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsHelp(arg)) {
            std::printf("usage: tarvo-cli %s\n\n"
                        "Checks every port's device (exists, is a terminal, may be opened by this user, is not\n"
                        "held by another program, has a stable name, is left alone by ModemManager and brltty,\n"
                        "FTDI latency timer) and the station's files (monitor files in the current directory,\n"
                        "the stored download image). Each finding has a stable code, a detail and a hint.\n"
                        "  --port N[=DEVICE]  COM port N (1..255); its device from the profile or DEVICE.\n"
                        "                     Repeatable. Without --port: every port enabled in the profile.\n"
                        "  --json             one JSON object per check:\n"
                        "                     {\"port\":N,\"device\":\"...\",\"check\":\"CODE\",\"ok\":true|false,\n"
                        "                      \"detail\":\"...\",\"hint\":\"...\"} (port and device null for files)\n"
                        "Exit status 0 when nothing is wrong, 1 otherwise.\n",
                        kUsage);
            return kExitOk;
        }
        if (std::strcmp(arg, "--json") == 0) {
            json = true;
        } else if (std::strcmp(arg, "--port") == 0 && i + 1 < argc) {
            const char* text = argv[++i];
            char* end = nullptr;
            const long n = std::strtol(text, &end, 10);
            if (end == text || n < 1 || n > 255 || (*end != '\0' && (*end != '=' || end[1] == '\0')))
                return UsageError(kUsage);
            ports.push_back(PortTarget{static_cast<int>(n), *end == '=' ? std::string(end + 1) : std::string()});
        } else {
            return UsageError(kUsage);
        }
    }
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
        std::printf("\n%s\n", allOk ? "Nothing wrong found." : "Problems found: see the lines marked FAIL.");
    }
    std::fflush(stdout);
    return allOk ? kExitOk : kExitFailure;
}

}  // namespace tarvo::cli
