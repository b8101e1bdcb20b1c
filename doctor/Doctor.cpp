#include "doctor/Doctor.h"

#include <libpq-fe.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/ImageConverter.h"
#include "engine/WinMonitorCtrl.h"
#include "serial/Holders.h"

namespace tarvo::doctor {
namespace {

namespace fs = std::filesystem;

constexpr char kRuleHint[] =
    "install the station's udev rule (tarvo package: /usr/lib/udev/rules.d/60-tarvo.rules), then replug the adapter";

std::string Rooted(const std::string& path, const SystemRoots& roots)
{
    if (roots.dev != "/dev" && path.rfind("/dev/", 0) == 0)
        return roots.dev + path.substr(4);
    return path;
}

std::string UserName()
{
    if (const passwd* pw = ::getpwuid(::geteuid()))
        return pw->pw_name;
    return std::to_string(::geteuid());
}

std::string GroupName(gid_t gid)
{
    if (const group* gr = ::getgrgid(gid))
        return gr->gr_name;
    return std::to_string(gid);
}

std::string ModeText(const struct stat& st)
{
    char text[11] = "----------";
    text[0] = S_ISCHR(st.st_mode) ? 'c' : S_ISDIR(st.st_mode) ? 'd' : S_ISREG(st.st_mode) ? '-' : '?';
    const char letters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (st.st_mode & (0400 >> i))
            text[i + 1] = letters[i];
    return text;
}

Finding Make(int port, const std::string& device, const char* check, bool ok, std::string detail,
             std::string hint = {})
{
    Finding f;
    f.port = port;
    f.device = device;
    f.check = check;
    f.ok = ok;
    f.detail = std::move(detail);
    if (!ok)
        f.hint = std::move(hint);
    return f;
}

std::string ReadFirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// True when the udev database marks the character device `number` ("188:0") to be ignored by
// ModemManager.
bool IgnoredByModemManager(const std::string& number, const SystemRoots& roots)
{
    std::ifstream in(fs::path(roots.udev) / "data" / ("c" + number));
    std::string line;
    while (std::getline(in, line))
        if (line == "E:ID_MM_DEVICE_IGNORE=1" || line == "E:ID_MM_PORT_IGNORE=1")
            return true;
    return false;
}

// Checks one line of an S-record file: 'S', a record type digit, then hex digit pairs.
bool IsRecordLine(const std::string& line)
{
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
        return false;
    std::size_t end = line.size();
    if (line[end - 1] == '\r')
        --end;
    if ((end - 2) % 2 != 0)
        return false;
    for (std::size_t i = 2; i < end; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(line[i])))
            return false;
    return true;
}

int HexByte(const std::string& line, std::size_t at)
{
    return std::stoi(line.substr(at, 2), nullptr, 16);
}

// Why the monitor program file is unusable; empty when it holds S-records only.
std::string MonitorProgramProblem(const std::string& path, long& records)
{
    std::ifstream in(path);
    std::string line;
    long number = 0;
    records = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line == "\r")
            continue;
        if (!IsRecordLine(line))
            return "line " + std::to_string(number) + " is not an S-record";
        ++records;
    }
    if (in.bad())
        return "read error";
    if (records == 0)
        return "no S-records";
    return {};
}

// Why the download image is unusable; empty when every line is a self-checking record.
std::string ImageProblem(const std::string& path, long& blocks)
{
    std::ifstream in(path);
    std::string line;
    long number = 0;
    blocks = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!IsRecordLine(line))
            return "line " + std::to_string(number) + " is not an S-record";
        if (line[1] != '3')
            continue;
        std::size_t end = line.size() - (line.back() == '\r' ? 1 : 0);
        unsigned sum = 0;
        for (std::size_t i = 2; i + 1 < end; i += 2)
            sum += static_cast<unsigned>(HexByte(line, i));
        if ((sum & 0xFF) != 0xFF)
            return "line " + std::to_string(number) + " has a wrong checksum";
        ++blocks;
    }
    if (in.bad())
        return "read error";
    if (blocks == 0)
        return "no image blocks";
    return {};
}

}  // namespace

int FindProcess(const std::string& name, const std::string& procRoot)
{
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(procRoot, ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (ReadFirstLine(entry.path() / "comm") == name)
            return std::stoi(pid);
    }
    return 0;
}

std::vector<Finding> CheckPort(int port, const std::string& device, const SystemRoots& roots)
{
    std::vector<Finding> out;
    auto add = [&](const char* check, bool ok, std::string detail, std::string hint = {}) {
        out.push_back(Make(port, device, check, ok, std::move(detail), std::move(hint)));
    };
    const std::string rooted = Rooted(device, roots);
    struct stat st {};
    if (::stat(rooted.c_str(), &st) != 0) {
        const int error = errno;
        const bool unstable = IsUnstableDeviceName(device);
        add(kCheckMissing, false, device + " does not exist (" + std::strerror(error) + ")",
            unstable ? "plug in the adapter; its number may have changed: choose its /dev/serial/by-path name"
                     : "plug in the adapter or the handset's cable, or choose another device for COM" +
                           std::to_string(port));
        return out;
    }
    const std::string resolved = ResolveDevicePath(device, roots);
    add(kCheckMissing, true, device + (resolved != device ? " -> " + resolved : std::string()) + " exists");

    // A terminal: a character device that answers terminal requests.
    bool tty = S_ISCHR(st.st_mode);
    std::string what = tty ? "a character device that is not a terminal" : "not a character device";
    bool busy = false;
    bool openRefused = false;
    int openError = 0;
    if (tty) {
        const int fd = ::open(rooted.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            tty = ::isatty(fd) != 0;
            ::close(fd);
        } else {
            openError = errno;
            busy = openError == EBUSY;
            openRefused = openError == EACCES || openError == EPERM;
        }
    }
    add(kCheckNotATty, tty, tty ? device + " is a terminal" : device + " is " + what,
        "choose a serial device (/dev/ttyUSBn, /dev/ttyACMn, /dev/ttySn or a /dev/serial link) for COM" +
            std::to_string(port));

    const bool mayUse = ::access(rooted.c_str(), R_OK | W_OK) == 0 && !openRefused;
    const std::string owner = ModeText(st) + " " + GroupName(st.st_gid);
    if (mayUse) {
        add(kCheckPermission, true, "user " + UserName() + " may read and write " + device + " (" + owner + ")");
    } else {
        const std::string group = GroupName(st.st_gid);
        add(kCheckPermission, false,
            "user " + UserName() + " may not read and write " + device + " (" + owner + ")",
            group == "dialout" || group == "uucp"
                ? "add the user to the " + group + " group: sudo usermod -aG " + group + " " + UserName() +
                      ", then log in again"
                : "give the device to the dialout group (install the station's udev rule) and add the user to it: "
                  "sudo usermod -aG dialout " + UserName());
    }

    const std::vector<DeviceHolder> holders = FindDeviceHolders(rooted, roots.proc);
    if (!holders.empty()) {
        std::string names;
        for (const DeviceHolder& h : holders)
            names += (names.empty() ? "" : ", ") + h.program + " (pid " + std::to_string(h.pid) + ")";
        add(kCheckHeld, false, device + " is held by " + names,
            "close " + names + " (a terminal program or another station), or choose another device");
    } else if (busy) {
        add(kCheckHeld, false, device + " is opened exclusively by another program",
            "close the other program (a terminal program or another station), or choose another device");
    } else {
        add(kCheckHeld, true, "no other program holds " + device);
    }

    if (IsUnstableDeviceName(device)) {
        const SerialDeviceInfo info = DescribeSerialDevice(device, roots);
        if (!info.byPath.empty())
            add(kCheckUnstableName, false,
                device + " changes with plugging order; its socket's stable name is " + info.byPath.front(),
                "use " + info.byPath.front() + " for COM" + std::to_string(port));
        else
            add(kCheckUnstableName, true, device + " has no /dev/serial/by-path name to use instead");
    } else {
        add(kCheckUnstableName, true, device + " is a stable name");
    }

    const SerialDeviceInfo info = DescribeSerialDevice(device, roots);
    if (info.name.empty())
        return out;  // not a device that sysfs knows (a pseudo-terminal): nothing else applies

    std::string number = info.deviceNumber;
    if (number.empty() && S_ISCHR(st.st_mode))
        number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    if (const int pid = FindProcess("ModemManager", roots.proc)) {
        if (IgnoredByModemManager(number, roots))
            add(kCheckModemManager, true,
                "ModemManager (pid " + std::to_string(pid) + ") runs and is told to ignore " + info.devicePath);
        else
            add(kCheckModemManager, false,
                "ModemManager (pid " + std::to_string(pid) + ") runs and may probe " + info.devicePath +
                    ", which disturbs the handset",
                std::string(kRuleHint) + ", or: sudo systemctl disable --now ModemManager");
    } else {
        add(kCheckModemManager, true, "ModemManager is not running");
    }

    const int brltty = FindProcess("brltty", roots.proc);
    if (brltty && IsUsbSerialAdapterDriver(info.driver))
        add(kCheckBrltty, false,
            "brltty (pid " + std::to_string(brltty) + ") runs and can claim USB serial adapters such as " +
                info.devicePath + " (" + info.driver + ")",
            "remove the braille display daemon: sudo apt-get remove brltty (or: sudo systemctl mask brltty-udev.service)");
    else
        add(kCheckBrltty, true,
            brltty ? "brltty runs but does not claim " + info.devicePath : std::string("brltty is not running"));

    if (info.driver == "ftdi_sio") {
        const fs::path file = fs::path(roots.sys) / "class/tty" / info.name / "device/latency_timer";
        const std::string text = ReadFirstLine(file);
        if (text.empty()) {
            add(kCheckLatency, false, "cannot read the latency timer of " + info.devicePath,
                "check that the ftdi_sio driver serves " + info.devicePath);
        } else {
            const int ms = std::atoi(text.c_str());
            const std::string sysPath = "/sys/bus/usb-serial/devices/" + info.name + "/latency_timer";
            add(kCheckLatency, ms <= 1,
                "FTDI latency timer of " + info.devicePath + " is " + std::to_string(ms) + " ms",
                std::string(kRuleHint) + ", or: echo 1 | sudo tee " + sysPath);
        }
    }
    return out;
}

std::vector<Finding> CheckStationFiles(const std::string& monitorDir, const std::string& imagePath)
{
    std::vector<Finding> out;
    std::error_code ec;
    const std::string dir = monitorDir.empty() ? fs::current_path(ec).string() : monitorDir;
    const std::string program = (fs::path(dir) / "monitor_ul_bs.m0").string();
    const std::string map = (fs::path(dir) / "monitor_ul_bs.map").string();
    const std::string monitorHint = "copy monitor_ul_bs.m0 and monitor_ul_bs.map of the handset's release into " +
                                    dir + " and start the station there";
    std::string problem;
    long records = 0;
    uint32_t address = 0;
    for (const std::string& file : {program, map}) {
        if (!problem.empty())
            break;
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0)
            problem = file + " is missing";
        else if (!S_ISREG(st.st_mode))
            problem = file + " is not a regular file";
        else if (::access(file.c_str(), R_OK) != 0)
            problem = file + " is not readable (" + std::strerror(errno) + ")";
    }
    if (problem.empty()) {
        const std::string why = MonitorProgramProblem(program, records);
        if (!why.empty())
            problem = program + ": " + why;
    }
    if (problem.empty()) {
        EngineEnvironment env;
        env.monitorDir = dir;
        CWinMonitorCtrl reader(env);
        bool tagFound = false;
        address = reader.ReadRunAddress(tagFound);
        if (address == CWinMonitorCtrl::kNoRunAddress || !tagFound)
            problem = map + ": no \"ENTRY POINT SYMBOL\" line in its first 11 lines";
    }
    if (problem.empty()) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%08X", address);
        out.push_back(Make(0, {}, kCheckMonitorFiles, true,
                           "monitor_ul_bs.m0 (" + std::to_string(records) + " records) and monitor_ul_bs.map (run address " +
                               text + ") in " + dir));
    } else {
        out.push_back(Make(0, {}, kCheckMonitorFiles, false, problem, monitorHint));
    }

    const std::string imageHint =
        "choose the main software file (.m0) in the station, or convert it: tarvo-cli convert FILE.m0";
    if (imagePath.empty()) {
        out.push_back(Make(0, {}, kCheckImage, false, "no main software image is stored in the profile", imageHint));
        return out;
    }
    struct stat st {};
    std::string why;
    long blocks = 0;
    if (::stat(imagePath.c_str(), &st) != 0)
        why = imagePath + " is missing";
    else if (!S_ISREG(st.st_mode))
        why = imagePath + " is not a regular file";
    else if (st.st_size == 0)
        why = imagePath + " is empty";
    else if (::access(imagePath.c_str(), R_OK) != 0)
        why = imagePath + " is not readable (" + std::strerror(errno) + ")";
    else if (std::string p = ImageProblem(imagePath, blocks); !p.empty())
        why = imagePath + ": " + p;
    else if (ConvertError error; !CheckDownloadImage(imagePath, error))
        why = error.ToString();  // the check tarvo-cli flash makes before it opens any port
    if (why.empty())
        out.push_back(Make(0, {}, kCheckImage, true,
                           imagePath + " (" + std::to_string(st.st_size) + " bytes, " + std::to_string(blocks) +
                               " blocks)"));
    else
        out.push_back(Make(0, {}, kCheckImage, false, why, imageHint));
    return out;
}

std::string FirstProblem(const std::vector<Finding>& findings)
{
    for (const Finding& f : findings)
        if (!f.ok)
            return f.detail + ": " + f.hint;
    return {};
}

bool ConnectionHasPassword(const std::string& connection)
{
    if (connection.empty())
        return false;
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
    if (error)
        PQfreemem(error);
    if (!options)
        return connection.find("password") != std::string::npos;  // unparsable: assume the worst
    bool found = false;
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val)
            found = true;
    PQconninfoFree(options);
    return found;
}

namespace {

// The value of [section] key in an INI file as the settings files store it (quotes removed);
// empty when absent.
std::string IniValue(const std::string& path, const std::string& section, const std::string& key)
{
    std::ifstream in(path);
    std::string current;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (current != section || eq == std::string::npos)
            continue;
        std::string name = line.substr(0, eq);
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        if (name != key)
            continue;
        std::string value = line.substr(eq + 1);
        value.erase(0, value.find_first_not_of(' '));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

}  // namespace

std::vector<Finding> CheckSettingsFiles(const std::string& systemConf, const std::string& userProfile)
{
    std::vector<Finding> out;
    struct stat st {};
    if (::stat(systemConf.c_str(), &st) == 0) {
        Finding f;
        f.check = "admin-settings";
        f.device = systemConf;
        std::string writable;
        if (st.st_uid != 0)
            writable = "it belongs to uid " + std::to_string(st.st_uid);
        else if (st.st_mode & (S_IWGRP | S_IWOTH))
            writable = "its group or others may write it";
        struct stat folder {};
        const std::string dir = fs::path(systemConf).parent_path().string();
        if (writable.empty() && ::stat(dir.c_str(), &folder) == 0 &&
            (folder.st_uid != 0 || (folder.st_mode & (S_IWGRP | S_IWOTH))))
            writable = "its folder " + dir + " may be written by others than root";
        f.ok = writable.empty();
        f.detail = f.ok ? systemConf + " belongs to root and only root may change it"
                        : systemConf + " may be changed by others than root: " + writable;
        if (!f.ok)
            f.hint = "chown root:root " + systemConf + " && chmod 644 " + systemConf +
                     " (an operator who can write it can unlock every setting it locks)";
        out.push_back(std::move(f));
    }
    if (::stat(userProfile.c_str(), &st) == 0) {
        Finding f;
        f.check = "profile-password";
        f.device = userProfile;
        std::string key;
        for (const char* k : {"Forward", "Database"})
            if (key.empty() && ConnectionHasPassword(IniValue(userProfile, "Record", k)))
                key = k;
        const bool readable = (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
        f.ok = key.empty() || !readable;
        if (key.empty())
            f.detail = userProfile + " holds no database password";
        else if (!readable)
            f.detail = userProfile + " holds a password in \"Record\"/\"" + key + "\" and only its owner may read it";
        else
            f.detail = userProfile + " holds a password in \"Record\"/\"" + key + "\" and others may read the file";
        if (!f.ok)
            f.hint = "chmod 600 " + userProfile + ", or keep the password in ~/.pgpass (mode 600) instead";
        out.push_back(std::move(f));
    }
    return out;
}

}  // namespace tarvo::doctor
