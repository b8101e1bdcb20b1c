// tarvo-cli ports: the serial devices of this machine and how the station's rows map to them.

#include <cstdio>
#include <string>
#include <vector>

#include "serial/DeviceInfo.h"
#include "serial/PortDirectory.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Profile.h"
#include "tools/cmdline/CommandLine.h"

namespace tarvo::cli {

int RunPorts(int argc, char** argv)
{
    cmdline::OptionTable table("tarvo-cli ports", "ports", "usage: tarvo-cli ");
    table.Description("Lists the serial devices (USB location, vendor, product, serial number, driver\n"
                      "and stable /dev/serial names) and the\n"
                      "device and enabled flag of every station row (COM5..COM12) from the profile\n" +
                      Profile::UserPath() + "\n");
    if (const int status = table.ParseOrExit(argc, argv); status >= 0)
        return status;
    // Every device with hardware behind it, with what tells its socket apart.
    const std::vector<SerialDeviceInfo> devices = FindSerialDevices();
    std::printf("Serial devices:\n");
    if (devices.empty())
        std::printf("  (none found)\n");
    for (const SerialDeviceInfo& d : devices) {
        std::printf("  %s  %s\n", d.devicePath.c_str(), d.Summary().c_str());
        for (const std::string& link : d.byPath)
            std::printf("      %s\n", link.c_str());
        for (const std::string& link : d.byId)
            std::printf("      %s\n", link.c_str());
    }

    Profile profile = Profile::LoadUser();
    if (!profile.Error().empty())
        std::fprintf(stderr, "warning: %s\n", profile.Error().c_str());
    std::printf("\nStation rows (profile %s):\n", Profile::UserPath().c_str());
    for (int row = 1; row <= 8; ++row) {
        int port = row + 4;
        std::string device = profile.Get("Device", "COM" + std::to_string(port));
        bool enabled = profile.GetInt("Port", "m_intPort" + std::to_string(row), 0) == 1;
        const std::string path = device.empty() ? DefaultDevicePath(port) : device;
        // Which socket the row drives now, or that nothing is plugged there.
        const SerialDeviceInfo info = DescribeSerialDevice(path);
        std::string now = info.name.empty() ? std::string() : info.Summary();
        if (ResolveDevicePath(path).empty())
            now = "absent";
        else if (ResolveDevicePath(path) != path)
            now = ResolveDevicePath(path) + (now.empty() ? "" : ", " + now);
        std::printf("  row %d  COM%-2d  %-8s %s%s%s%s\n", row, port, enabled ? "enabled" : "off", path.c_str(),
                    device.empty() ? " (default)" : "", now.empty() ? "" : "  -- ", now.c_str());
    }
    return kExitOk;
}

}  // namespace tarvo::cli
