// Holders of a device: the other processes that have it open.
//
// A program that does not lock the serial device (a terminal program, a modem manager) can
// share it with the station without either noticing, and steal its bytes. Before opening a
// device the channel looks for such holders and refuses, naming them.
//
// FindDeviceHolders walks <procRoot>/<pid>/fd/* and matches each descriptor's file against the
// device: the same character or block device (device number), or the same file (file system
// and inode). The calling process is skipped. One entry per process, in the order found; the
// program is <procRoot>/<pid>/comm ("?" when unreadable). Processes whose descriptors cannot be
// read (another user's, without privileges) are not seen. A path that does not exist has no
// holders. `procRoot` lets tests use prepared folders.
//
// Threading: reentrant; reads the file system only.
#pragma once

#include <string>
#include <vector>

namespace tarvo {

struct DeviceHolder {
    int pid;
    std::string program;
};

std::vector<DeviceHolder> FindDeviceHolders(const std::string& devicePath, const std::string& procRoot = "/proc");

// "in use by minicom (pid 1234)" or "in use by minicom (pid 1234), screen (pid 99)".
std::string DescribeHolders(const std::vector<DeviceHolder>& holders);

}  // namespace tarvo
