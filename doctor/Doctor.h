// Preflight checks of a station: for every port's device whether it exists, is a terminal,
// may be opened by this user, is free, has a stable name, is left alone by ModemManager and
// brltty and (for FTDI adapters) answers without the 16 ms latency timer; and whether the
// monitor files and the stored download image are there and valid.
//
// Each check gives one Finding with a stable code (kCheck* below), a one-line detail naming
// the device or file and what was found, and a hint that fixes a failure. The system's files
// are read through SystemRoots (serial/DeviceInfo.h) so tests use prepared folders.
//
// Detail and hint are English; each is also kept as its form and arguments (Text): the form
// is an English text with %1..%9 for the names and numbers found, marked for the window's
// translation tools in the context "Doctor", so the window shows the report in its language
// (translate the form, then Fill it). CheckName gives a check's name for people the same way.
//
// Threading: plain functions; they only read files and open the device briefly (non-blocking,
// without becoming its controlling terminal) to tell a terminal from another device. Any thread.
#pragma once

#include <string>
#include <vector>

#include "serial/DeviceInfo.h"

namespace tarvo::doctor {

inline constexpr char kCheckMissing[] = "missing";
inline constexpr char kCheckNotATty[] = "not-a-tty";
inline constexpr char kCheckPermission[] = "permission";
inline constexpr char kCheckHeld[] = "held";
inline constexpr char kCheckUnstableName[] = "unstable-name";
inline constexpr char kCheckModemManager[] = "modemmanager";
inline constexpr char kCheckBrltty[] = "brltty";
inline constexpr char kCheckLatency[] = "latency";
inline constexpr char kCheckMonitorFiles[] = "monitor-files";
inline constexpr char kCheckImage[] = "image";

// A text as its English form with %1..%9 and the arguments that fill it.
struct Text {
    const char* form = "";
    std::vector<std::string> args;
};

// `form` with each %1..%9 replaced by its argument (in one pass: an argument's own "%2" stays).
std::string Fill(const std::string& form, const std::vector<std::string>& args);

struct Finding {
    int port = 0;        // COM number; 0 for the station's own files
    std::string device;  // the device path checked; empty for the station's own files
    std::string check;   // one of the kCheck* codes
    bool ok = true;
    std::string detail;  // one line: what was found
    std::string hint;    // one line: how to fix it; empty when ok
    Text detailText;     // detail as form and arguments
    Text hintText;       // hint as form and arguments; empty form when ok
};

// The check's name for people ("device present", "free", ...): an English text marked for
// translation in the context "Doctor"; the code itself for an unknown code.
const char* CheckName(const std::string& check);

// The findings of one port (or of the station's files: port 0), for a report that reads at
// a glance: the problems worst first, then the checks that passed.
struct FindingGroup {
    int port = 0;
    std::string device;
    std::vector<Finding> problems;
    std::vector<Finding> passed;
};

// How bad a failed check is: lower is worse (a missing device before a slow latency timer).
int Severity(const std::string& check);

// The findings grouped by port, in one group per port and one for the station's files; the
// groups with problems first, worst problem first, then the groups that passed, each in the
// order the ports were checked.
std::vector<FindingGroup> GroupFindings(const std::vector<Finding>& findings);

// The checks of one port's device, in a fixed order. A missing device gives only the
// `missing` finding. The ModemManager, brltty and latency checks are made only for devices
// that sysfs knows (latency only for FTDI adapters).
std::vector<Finding> CheckPort(int port, const std::string& device, const SystemRoots& roots = {});

// The station's own files: `monitor-files` (monitor_ul_bs.m0 and .map in `monitorDir`, empty:
// the current directory) and `image` (`imagePath`, the stored download image; empty: none
// stored, which fails).
std::vector<Finding> CheckStationFiles(const std::string& monitorDir, const std::string& imagePath);

// The settings files: `admin-settings` (the administrator's file `systemConf`, when it exists:
// a FAIL when anyone but root may write it or its folder, since an operator could then unlock
// what it locks) and `profile-password` (the operator's profile `userProfile`: a FAIL when its
// "Record"/"Forward" or "Record"/"Database" holds a password while others may read the file).
std::vector<Finding> CheckSettingsFiles(const std::string& systemConf, const std::string& userProfile);

// What a user must do for the first failing finding of `findings` (its detail and hint as one
// line); empty when all passed. The window shows it beside an open failure.
std::string FirstProblem(const std::vector<Finding>& findings);

// The pid of a running process whose command name (/proc/<pid>/comm) is `name`; 0 when none.
int FindProcess(const std::string& name, const std::string& procRoot = "/proc");

}  // namespace tarvo::doctor
