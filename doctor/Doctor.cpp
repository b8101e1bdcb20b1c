#include "doctor/Doctor.h"


#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/ImageConverter.h"
#include "engine/WinMonitorCtrl.h"
#include "record/LineDatabase.h"
#include "serial/Holders.h"

// The report's texts are marked for the window's translation tools (lupdate reads the marker
// by its name); this library stays free of Qt, so the marker gives the text itself.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif

namespace tarvo::doctor {
namespace {

namespace fs = std::filesystem;

Text T(const char* form, std::vector<std::string> args = {})
{
    return Text{form, std::move(args)};
}

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

Finding Make(int port, const std::string& device, const char* check, bool ok, Text detail, Text hint = {})
{
    Finding f;
    f.port = port;
    f.device = device;
    f.check = check;
    f.ok = ok;
    f.detail = Fill(detail.form, detail.args);
    f.detailText = std::move(detail);
    if (!ok) {
        f.hint = Fill(hint.form, hint.args);
        f.hintText = std::move(hint);
    }
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

// Why the monitor program file is unusable; an empty form when it holds S-records only.
Text MonitorProgramProblem(const std::string& path, long& records)
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
            return T(QT_TRANSLATE_NOOP("Doctor", "%1: line %2 is not an S-record"), {path, std::to_string(number)});
        ++records;
    }
    if (in.bad())
        return T(QT_TRANSLATE_NOOP("Doctor", "%1: read error"), {path});
    if (records == 0)
        return T(QT_TRANSLATE_NOOP("Doctor", "%1: no S-records"), {path});
    return {};
}

// Why the download image is unusable; an empty form when every line is a self-checking record.
Text ImageProblem(const std::string& path, long& blocks)
{
    std::ifstream in(path);
    std::string line;
    long number = 0;
    blocks = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!IsRecordLine(line))
            return T(QT_TRANSLATE_NOOP("Doctor", "%1: line %2 is not an S-record"), {path, std::to_string(number)});
        if (line[1] != '3')
            continue;
        std::size_t end = line.size() - (line.back() == '\r' ? 1 : 0);
        unsigned sum = 0;
        for (std::size_t i = 2; i + 1 < end; i += 2)
            sum += static_cast<unsigned>(HexByte(line, i));
        if ((sum & 0xFF) != 0xFF)
            return T(QT_TRANSLATE_NOOP("Doctor", "%1: line %2 has a wrong checksum"), {path, std::to_string(number)});
        ++blocks;
    }
    if (in.bad())
        return T(QT_TRANSLATE_NOOP("Doctor", "%1: read error"), {path});
    if (blocks == 0)
        return T(QT_TRANSLATE_NOOP("Doctor", "%1: no image blocks"), {path});
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
    auto add = [&](const char* check, bool ok, Text detail, Text hint = {}) {
        out.push_back(Make(port, device, check, ok, std::move(detail), std::move(hint)));
    };
    const std::string rooted = Rooted(device, roots);
    struct stat st {};
    if (::stat(rooted.c_str(), &st) != 0) {
        const int error = errno;
        const bool unstable = IsUnstableDeviceName(device);
        add(kCheckMissing, false, T(QT_TRANSLATE_NOOP("Doctor", "%1 does not exist (%2)"), {device, std::strerror(error)}),
            unstable ? T(QT_TRANSLATE_NOOP("Doctor",
                                           "plug in the adapter; its number may have changed: choose its /dev/serial/by-path name"))
                     : T(QT_TRANSLATE_NOOP("Doctor", "plug in the adapter or the handset's cable, or choose another device for COM%1"),
                         {std::to_string(port)}));
        return out;
    }
    const std::string resolved = ResolveDevicePath(device, roots);
    add(kCheckMissing, true,
        resolved != device ? T(QT_TRANSLATE_NOOP("Doctor", "%1 -> %2 exists"), {device, resolved})
                           : T(QT_TRANSLATE_NOOP("Doctor", "%1 exists"), {device}));

    // A terminal: a character device that answers terminal requests.
    bool tty = S_ISCHR(st.st_mode);
    const Text notTerminal = tty ? T(QT_TRANSLATE_NOOP("Doctor", "%1 is a character device that is not a terminal"), {device})
                                 : T(QT_TRANSLATE_NOOP("Doctor", "%1 is not a character device"), {device});
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
    add(kCheckNotATty, tty, tty ? T(QT_TRANSLATE_NOOP("Doctor", "%1 is a terminal"), {device}) : notTerminal,
        T(QT_TRANSLATE_NOOP("Doctor",
                            "choose a serial device (/dev/ttyUSBn, /dev/ttyACMn, /dev/ttySn or a /dev/serial link) for COM%1"),
          {std::to_string(port)}));

    const bool mayUse = ::access(rooted.c_str(), R_OK | W_OK) == 0 && !openRefused;
    const std::string owner = ModeText(st) + " " + GroupName(st.st_gid);
    if (mayUse) {
        add(kCheckPermission, true,
            T(QT_TRANSLATE_NOOP("Doctor", "user %1 may read and write %2 (%3)"), {UserName(), device, owner}));
    } else {
        const std::string group = GroupName(st.st_gid);
        add(kCheckPermission, false,
            T(QT_TRANSLATE_NOOP("Doctor", "user %1 may not read and write %2 (%3)"), {UserName(), device, owner}),
            group == "dialout" || group == "uucp"
                ? T(QT_TRANSLATE_NOOP("Doctor", "add the user to the %1 group: sudo usermod -aG %1 %2, then log in again"),
                    {group, UserName()})
                : T(QT_TRANSLATE_NOOP("Doctor", "give the device to the dialout group (install the station's udev rule) "
                                                "and add the user to it: sudo usermod -aG dialout %1"),
                    {UserName()}));
    }

    const std::vector<DeviceHolder> holders = FindDeviceHolders(rooted, roots.proc);
    if (!holders.empty()) {
        std::string names;
        for (const DeviceHolder& h : holders)
            names += (names.empty() ? "" : ", ") + h.program + " (pid " + std::to_string(h.pid) + ")";
        add(kCheckHeld, false, T(QT_TRANSLATE_NOOP("Doctor", "%1 is held by %2"), {device, names}),
            T(QT_TRANSLATE_NOOP("Doctor", "close %1 (a terminal program or another station), or choose another device"),
              {names}));
    } else if (busy) {
        add(kCheckHeld, false, T(QT_TRANSLATE_NOOP("Doctor", "%1 is opened exclusively by another program"), {device}),
            T(QT_TRANSLATE_NOOP("Doctor",
                                "close the other program (a terminal program or another station), or choose another device")));
    } else {
        add(kCheckHeld, true, T(QT_TRANSLATE_NOOP("Doctor", "no other program holds %1"), {device}));
    }

    if (IsUnstableDeviceName(device)) {
        const SerialDeviceInfo info = DescribeSerialDevice(device, roots);
        if (!info.byPath.empty())
            add(kCheckUnstableName, false,
                T(QT_TRANSLATE_NOOP("Doctor", "%1 changes with plugging order; its socket's stable name is %2"),
                  {device, info.byPath.front()}),
                T(QT_TRANSLATE_NOOP("Doctor", "use %1 for COM%2"), {info.byPath.front(), std::to_string(port)}));
        else
            add(kCheckUnstableName, true,
                T(QT_TRANSLATE_NOOP("Doctor", "%1 has no /dev/serial/by-path name to use instead"), {device}));
    } else {
        add(kCheckUnstableName, true, T(QT_TRANSLATE_NOOP("Doctor", "%1 is a stable name"), {device}));
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
                T(QT_TRANSLATE_NOOP("Doctor", "ModemManager (pid %1) runs and is told to ignore %2"),
                  {std::to_string(pid), info.devicePath}));
        else
            add(kCheckModemManager, false,
                T(QT_TRANSLATE_NOOP("Doctor", "ModemManager (pid %1) runs and may probe %2, which disturbs the handset"),
                  {std::to_string(pid), info.devicePath}),
                T(QT_TRANSLATE_NOOP("Doctor", "install the station's udev rule (tarvo package: "
                                              "/usr/lib/udev/rules.d/60-tarvo.rules), then replug the adapter, or: sudo "
                                              "systemctl disable --now ModemManager")));
    } else {
        add(kCheckModemManager, true, T(QT_TRANSLATE_NOOP("Doctor", "ModemManager is not running")));
    }

    const int brltty = FindProcess("brltty", roots.proc);
    if (brltty && IsUsbSerialAdapterDriver(info.driver))
        add(kCheckBrltty, false,
            T(QT_TRANSLATE_NOOP("Doctor", "brltty (pid %1) runs and can claim USB serial adapters such as %2 (%3)"),
              {std::to_string(brltty), info.devicePath, info.driver}),
            T(QT_TRANSLATE_NOOP("Doctor", "remove the braille display daemon: sudo apt-get remove brltty (or: sudo "
                                          "systemctl mask brltty-udev.service)")));
    else
        add(kCheckBrltty, true,
            brltty ? T(QT_TRANSLATE_NOOP("Doctor", "brltty runs but does not claim %1"), {info.devicePath})
                   : T(QT_TRANSLATE_NOOP("Doctor", "brltty is not running")));

    if (info.driver == "ftdi_sio") {
        const fs::path file = fs::path(roots.sys) / "class/tty" / info.name / "device/latency_timer";
        const std::string text = ReadFirstLine(file);
        if (text.empty()) {
            add(kCheckLatency, false, T(QT_TRANSLATE_NOOP("Doctor", "cannot read the latency timer of %1"), {info.devicePath}),
                T(QT_TRANSLATE_NOOP("Doctor", "check that the ftdi_sio driver serves %1"), {info.devicePath}));
        } else {
            const int ms = std::atoi(text.c_str());
            const std::string sysPath = "/sys/bus/usb-serial/devices/" + info.name + "/latency_timer";
            add(kCheckLatency, ms <= 1,
                T(QT_TRANSLATE_NOOP("Doctor", "FTDI latency timer of %1 is %2 ms"), {info.devicePath, std::to_string(ms)}),
                T(QT_TRANSLATE_NOOP("Doctor", "install the station's udev rule (tarvo package: "
                                              "/usr/lib/udev/rules.d/60-tarvo.rules), then replug the adapter, or: echo 1 "
                                              "| sudo tee %1"),
                  {sysPath}));
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
    const Text monitorHint = T(QT_TRANSLATE_NOOP("Doctor", "copy monitor_ul_bs.m0 and monitor_ul_bs.map of the handset's "
                                                           "release into %1 and start the station there"),
                               {dir});
    Text problem;
    auto none = [](const Text& t) { return *t.form == '\0'; };
    long records = 0;
    uint32_t address = 0;
    for (const std::string& file : {program, map}) {
        if (!none(problem))
            break;
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0)
            problem = T(QT_TRANSLATE_NOOP("Doctor", "%1 is missing"), {file});
        else if (!S_ISREG(st.st_mode))
            problem = T(QT_TRANSLATE_NOOP("Doctor", "%1 is not a regular file"), {file});
        else if (::access(file.c_str(), R_OK) != 0)
            problem = T(QT_TRANSLATE_NOOP("Doctor", "%1 is not readable (%2)"), {file, std::strerror(errno)});
    }
    if (none(problem))
        problem = MonitorProgramProblem(program, records);
    if (none(problem)) {
        EngineEnvironment env;
        env.monitorDir = dir;
        CWinMonitorCtrl reader(env);
        bool tagFound = false;
        address = reader.ReadRunAddress(tagFound);
        if (address == CWinMonitorCtrl::kNoRunAddress || !tagFound)
            problem = T(QT_TRANSLATE_NOOP("Doctor", "%1: no \"ENTRY POINT SYMBOL\" line in its first 11 lines"), {map});
    }
    if (none(problem)) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%08X", address);
        out.push_back(Make(0, {}, kCheckMonitorFiles, true,
                           T(QT_TRANSLATE_NOOP("Doctor",
                                               "monitor_ul_bs.m0 (%1 records) and monitor_ul_bs.map (run address %2) in %3"),
                             {std::to_string(records), text, dir})));
    } else {
        out.push_back(Make(0, {}, kCheckMonitorFiles, false, problem, monitorHint));
    }

    const Text imageHint = T(QT_TRANSLATE_NOOP(
        "Doctor", "choose the main software file (.m0) in the station, or convert it: tarvo-cli convert FILE.m0"));
    if (imagePath.empty()) {
        out.push_back(Make(0, {}, kCheckImage, false,
                           T(QT_TRANSLATE_NOOP("Doctor", "no main software image is stored in the profile")), imageHint));
        return out;
    }
    struct stat st {};
    Text why;
    long blocks = 0;
    if (::stat(imagePath.c_str(), &st) != 0)
        why = T(QT_TRANSLATE_NOOP("Doctor", "%1 is missing"), {imagePath});
    else if (!S_ISREG(st.st_mode))
        why = T(QT_TRANSLATE_NOOP("Doctor", "%1 is not a regular file"), {imagePath});
    else if (st.st_size == 0)
        why = T(QT_TRANSLATE_NOOP("Doctor", "%1 is empty"), {imagePath});
    else if (::access(imagePath.c_str(), R_OK) != 0)
        why = T(QT_TRANSLATE_NOOP("Doctor", "%1 is not readable (%2)"), {imagePath, std::strerror(errno)});
    else if (Text p = ImageProblem(imagePath, blocks); !none(p))
        why = std::move(p);
    else if (ConvertError error; !CheckDownloadImage(imagePath, error))
        why = T("%1", {error.ToString()});  // the check tarvo-cli flash makes before it opens any port
    if (none(why))
        out.push_back(Make(0, {}, kCheckImage, true,
                           T(QT_TRANSLATE_NOOP("Doctor", "%1 (%2 bytes, %3 blocks)"),
                             {imagePath, std::to_string(st.st_size), std::to_string(blocks)})));
    else
        out.push_back(Make(0, {}, kCheckImage, false, why, imageHint));
    return out;
}

std::string Fill(const std::string& form, const std::vector<std::string>& args)
{
    std::string out;
    for (std::size_t i = 0; i < form.size(); ++i) {
        const char next = i + 1 < form.size() ? form[i + 1] : '\0';
        if (form[i] == '%' && next >= '1' && next <= '9' && static_cast<std::size_t>(next - '1') < args.size()) {
            out += args[static_cast<std::size_t>(next - '1')];
            ++i;
        } else {
            out += form[i];
        }
    }
    return out;
}

const char* CheckName(const std::string& check)
{
    static const struct {
        const char* code;
        const char* name;
    } kNames[] = {
        {kCheckMissing, QT_TRANSLATE_NOOP("Doctor", "device present")},
        {kCheckNotATty, QT_TRANSLATE_NOOP("Doctor", "serial terminal")},
        {kCheckPermission, QT_TRANSLATE_NOOP("Doctor", "permission")},
        {kCheckHeld, QT_TRANSLATE_NOOP("Doctor", "not in use")},
        {kCheckUnstableName, QT_TRANSLATE_NOOP("Doctor", "stable name")},
        {kCheckModemManager, QT_TRANSLATE_NOOP("Doctor", "ModemManager")},
        {kCheckBrltty, QT_TRANSLATE_NOOP("Doctor", "brltty")},
        {kCheckLatency, QT_TRANSLATE_NOOP("Doctor", "latency timer")},
        {kCheckMonitorFiles, QT_TRANSLATE_NOOP("Doctor", "monitor files")},
        {kCheckImage, QT_TRANSLATE_NOOP("Doctor", "download image")},
    };
    for (const auto& entry : kNames)
        if (check == entry.code)
            return entry.name;
    return check.c_str();
}

int Severity(const std::string& check)
{
    // A device that is not there or not usable at all first; then what stops the open; then
    // what disturbs a run; a name that may change with the next replug last.
    static const char* const kOrder[] = {kCheckMissing,      kCheckNotATty, kCheckPermission, kCheckHeld,
                                         kCheckMonitorFiles, kCheckImage,   kCheckBrltty,     kCheckModemManager,
                                         kCheckLatency,      kCheckUnstableName};
    int rank = 0;
    for (const char* code : kOrder) {
        if (check == code)
            return rank;
        ++rank;
    }
    return rank;
}

std::vector<FindingGroup> GroupFindings(const std::vector<Finding>& findings)
{
    std::vector<FindingGroup> groups;
    for (const Finding& f : findings) {
        FindingGroup* group = nullptr;
        for (FindingGroup& g : groups)
            if (g.port == f.port && g.device == f.device)
                group = &g;
        if (!group) {
            groups.push_back(FindingGroup{f.port, f.device, {}, {}});
            group = &groups.back();
        }
        (f.ok ? group->passed : group->problems).push_back(f);
    }
    for (FindingGroup& g : groups)
        std::stable_sort(g.problems.begin(), g.problems.end(),
                         [](const Finding& a, const Finding& b) { return Severity(a.check) < Severity(b.check); });
    auto worst = [](const FindingGroup& g) {
        return g.problems.empty() ? 1000 : Severity(g.problems.front().check);
    };
    std::stable_sort(groups.begin(), groups.end(),
                     [&](const FindingGroup& a, const FindingGroup& b) { return worst(a) < worst(b); });
    return groups;
}

std::string FirstProblem(const std::vector<Finding>& findings)
{
    for (const Finding& f : findings)
        if (!f.ok)
            return f.detail + ": " + f.hint;
    return {};
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
            if (key.empty() && record::UrlHasPassword(IniValue(userProfile, "Record", k)))
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
