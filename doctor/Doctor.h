// Preflight checks of a station: for every port's device whether it exists, is a terminal,
// may be opened by this user, is free, has a stable name, is left alone by ModemManager and
// brltty and (for FTDI adapters) answers without the 16 ms latency timer; and whether the
// monitor files and the stored download image are there and valid.
//
// Each check gives one Finding with a stable code (kCheck* below), a one-line detail naming
// the device or file and what was found, and a hint that fixes a failure. The system's files
// are read through SystemRoots (serial/DeviceInfo.h) so tests use prepared folders.
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

struct Finding {
    int port = 0;        // COM number; 0 for the station's own files
    std::string device;  // the device path checked; empty for the station's own files
    std::string check;   // one of the kCheck* codes
    bool ok = true;
    std::string detail;  // one line: what was found
    std::string hint;    // one line: how to fix it; empty when ok
};

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
// True when the connection string (URI or key=value form) holds a password; parsed by libpq.
bool ConnectionHasPassword(const std::string& connection);

// What a user must do for the first failing finding of `findings` (its detail and hint as one
// line); empty when all passed. The window shows it beside an open failure.
std::string FirstProblem(const std::vector<Finding>& findings);

// The pid of a running process whose command name (/proc/<pid>/comm) is `name`; 0 when none.
int FindProcess(const std::string& name, const std::string& procRoot = "/proc");

}  // namespace tarvo::doctor
