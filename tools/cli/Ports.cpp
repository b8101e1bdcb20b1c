// tarvo-cli ports: the serial devices of this machine and how the station's rows map to them.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "serial/PortDirectory.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Profile.h"

namespace tarvo::cli {

int RunPorts(int argc, char** argv)
{
    if (argc > 1) {
        if (IsHelp(argv[1])) {
            std::printf("usage: tarvo-cli ports\n\nLists the serial devices (stable /dev/serial names first) and the\n"
                        "device and enabled flag of every station row (COM5..COM12) from the profile\n%s\n",
                        Profile::UserPath().c_str());
            return kExitOk;
        }
        return UsageError("ports");
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::string> devices;
    for (const char* folder : {"/dev/serial/by-path", "/dev/serial/by-id"}) {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            found.push_back(entry.path().string() + " -> " + fs::canonical(entry.path(), ec).string());
        std::sort(found.begin(), found.end());
        devices.insert(devices.end(), found.begin(), found.end());
    }
    std::vector<std::string> plain;
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0 || name.rfind("ttyS", 0) == 0)
            plain.push_back(entry.path().string());
    }
    std::sort(plain.begin(), plain.end());
    devices.insert(devices.end(), plain.begin(), plain.end());

    std::printf("Serial devices:\n");
    if (devices.empty())
        std::printf("  (none found)\n");
    for (const std::string& d : devices)
        std::printf("  %s\n", d.c_str());

    Profile profile = Profile::LoadUser();
    if (!profile.Error().empty())
        std::fprintf(stderr, "warning: %s\n", profile.Error().c_str());
    std::printf("\nStation rows (profile %s):\n", Profile::UserPath().c_str());
    for (int row = 1; row <= 8; ++row) {
        int port = row + 4;
        std::string device = profile.Get("Device", "COM" + std::to_string(port));
        bool enabled = profile.GetInt("Port", "m_intPort" + std::to_string(row), 0) == 1;
        std::printf("  row %d  COM%-2d  %-8s %s%s\n", row, port, enabled ? "enabled" : "off",
                    device.empty() ? DefaultDevicePath(port).c_str() : device.c_str(),
                    device.empty() ? " (default)" : "");
    }
    return kExitOk;
}

}  // namespace tarvo::cli
