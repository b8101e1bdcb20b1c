#include "serial/DeviceInfo.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// "/dev/x" -> "<roots.dev>/x"; other paths unchanged.
std::string Rooted(const std::string& path, const SystemRoots& roots)
{
    if (roots.dev != "/dev" && path.rfind("/dev/", 0) == 0)
        return roots.dev + path.substr(4);
    if (roots.dev != "/dev" && path == "/dev")
        return roots.dev;
    return path;
}

// The inverse of Rooted.
std::string Unrooted(const std::string& path, const SystemRoots& roots)
{
    if (roots.dev != "/dev" && path.rfind(roots.dev + "/", 0) == 0)
        return "/dev" + path.substr(roots.dev.size());
    return path;
}

// The first line of a small sysfs file, without its line end; empty when unreadable.
std::string ReadLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// Follows links from `rooted` (a path under roots.dev) to the file they end on; absolute link
// targets are read as paths of the running system. Empty when nothing exists there.
std::string FollowLinks(std::string rooted, const SystemRoots& roots)
{
    std::error_code ec;
    fs::path p(rooted);
    for (int hop = 0; hop < 16; ++hop) {
        const fs::file_status status = fs::symlink_status(p, ec);
        if (ec || status.type() == fs::file_type::not_found)
            return {};
        if (status.type() != fs::file_type::symlink)
            return p.lexically_normal().string();
        const fs::path target = fs::read_symlink(p, ec);
        if (ec)
            return {};
        p = target.is_absolute() ? fs::path(Rooted(target.string(), roots)) : p.parent_path() / target;
        p = p.lexically_normal();
    }
    return {};
}

void FillFromSysfs(SerialDeviceInfo& info, const SystemRoots& roots)
{
    std::error_code ec;
    const fs::path classDir = fs::path(roots.sys) / "class/tty" / info.name;
    if (!fs::exists(classDir, ec))
        return;
    info.deviceNumber = ReadLine(classDir / "dev");
    const fs::path device = fs::canonical(classDir / "device", ec);
    if (ec)
        return;
    const fs::path driver = fs::read_symlink(device / "driver", ec);
    if (!ec)
        info.driver = driver.filename().string();
    // The USB device is the nearest folder above the tty's device that has a vendor id.
    const fs::path sysRoot = fs::canonical(roots.sys, ec);
    for (fs::path dir = device; !dir.empty() && dir != sysRoot && dir != dir.root_path(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "idVendor", ec))
            continue;
        info.usbLocation = dir.filename().string();
        info.vendorId = ReadLine(dir / "idVendor");
        info.productId = ReadLine(dir / "idProduct");
        info.manufacturer = ReadLine(dir / "manufacturer");
        info.product = ReadLine(dir / "product");
        info.serial = ReadLine(dir / "serial");
        break;
    }
}

void FillStableNames(SerialDeviceInfo& info, const SystemRoots& roots)
{
    if (info.devicePath.empty())
        return;
    std::error_code ec;
    for (const char* folder : {"serial/by-path", "serial/by-id"}) {
        std::vector<std::string>& out = std::string(folder) == "serial/by-path" ? info.byPath : info.byId;
        for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(roots.dev) / folder, ec)) {
            const std::string target = FollowLinks(entry.path().string(), roots);
            if (!target.empty() && Unrooted(target, roots) == info.devicePath)
                out.push_back(Unrooted(entry.path().string(), roots));
        }
        std::sort(out.begin(), out.end());
    }
}

SerialDeviceInfo DescribeByName(const std::string& name, const SystemRoots& roots)
{
    SerialDeviceInfo info;
    info.name = name;
    info.devicePath = "/dev/" + name;
    FillFromSysfs(info, roots);
    FillStableNames(info, roots);
    return info;
}

}  // namespace

std::string SerialDeviceInfo::Summary() const
{
    std::string out;
    auto add = [&out](const std::string& part) {
        if (part.empty())
            return;
        if (!out.empty())
            out += ", ";
        out += part;
    };
    if (IsUsb())
        add("USB " + usbLocation);
    std::string id;
    if (!vendorId.empty())
        id = vendorId + ":" + productId;
    for (const std::string* part : {&manufacturer, &product}) {
        if (!part->empty())
            id += (id.empty() ? "" : " ") + *part;
    }
    add(id);
    if (!serial.empty())
        add("serial " + serial);
    add(driver);
    return out;
}

std::string ResolveDevicePath(const std::string& path, const SystemRoots& roots)
{
    const std::string target = FollowLinks(Rooted(path, roots), roots);
    return target.empty() ? std::string() : Unrooted(target, roots);
}

SerialDeviceInfo DescribeSerialDevice(const std::string& path, const SystemRoots& roots)
{
    const std::string resolved = ResolveDevicePath(path, roots);
    if (resolved.empty()) {
        SerialDeviceInfo info;
        info.devicePath = path;
        return info;
    }
    const fs::path p(resolved);
    std::error_code ec;
    if (p.parent_path() == "/dev" && fs::exists(fs::path(roots.sys) / "class/tty" / p.filename(), ec))
        return DescribeByName(p.filename().string(), roots);
    SerialDeviceInfo info;
    info.devicePath = resolved;
    FillStableNames(info, roots);
    return info;
}

std::vector<SerialDeviceInfo> FindSerialDevices(const SystemRoots& roots)
{
    std::vector<SerialDeviceInfo> devices;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(roots.sys) / "class/tty", ec)) {
        const std::string name = entry.path().filename().string();
        if (!fs::exists(entry.path() / "device", ec))
            continue;  // virtual terminals, pseudo-terminals, the console
        // A legacy serial port is listed by the kernel whether or not its UART exists.
        if (name.rfind("ttyS", 0) == 0 && ReadLine(entry.path() / "type") == "0")
            continue;
        devices.push_back(DescribeByName(name, roots));
    }
    std::sort(devices.begin(), devices.end(), [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) {
        if (a.IsUsb() != b.IsUsb())
            return a.IsUsb();
        // Natural order: ttyUSB2 before ttyUSB10.
        auto key = [](const std::string& name) {
            const std::size_t digits = name.find_last_not_of("0123456789") + 1;
            const unsigned long number =
                digits < name.size() && name.size() - digits < 10 ? std::stoul(name.substr(digits)) : 0;
            return std::make_pair(name.substr(0, digits), number);
        };
        return key(a.name) < key(b.name);
    });
    return devices;
}

bool IsUnstableDeviceName(const std::string& path)
{
    const std::string name = fs::path(path).filename().string();
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        const std::size_t n = std::char_traits<char>::length(prefix);
        if (name.size() > n && name.compare(0, n, prefix) == 0 &&
            std::all_of(name.begin() + static_cast<long>(n), name.end(),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
            return true;
    }
    return false;
}

bool IsUsbSerialAdapterDriver(const std::string& driver)
{
    static const char* const kDrivers[] = {"ftdi_sio", "cp210x", "pl2303", "ch341", "ch341-uart",
                                           "ch343", "usb_serial_generic", "cdc_acm"};
    return std::any_of(std::begin(kDrivers), std::end(kDrivers), [&](const char* d) { return driver == d; });
}

}  // namespace tarvo
