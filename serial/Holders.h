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
// The walk costs one system call per descriptor of every process (a few milliseconds on a
// busy machine). A HolderScan takes that picture once and answers for many devices: a tool
// that opens 64 ports in one go scans once, not 64 times. It answers for the moment it was
// taken, so it is meant for a burst of opens right after it.
//
// Threading: reentrant; reads the file system only. A HolderScan is read-only once built.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tarvo {

struct DeviceHolder {
    int pid;
    std::string program;
};

class HolderScan {
public:
    // Walks every other process's descriptors now.
    explicit HolderScan(std::string procRoot = "/proc");
    // The holders of `devicePath` at the time of the walk.
    std::vector<DeviceHolder> Find(const std::string& devicePath) const;

private:
    struct OpenFile {
        int pid;
        mode_t type;
        dev_t dev;
        ino_t ino;
        dev_t rdev;
    };
    std::string m_procRoot;
    std::vector<OpenFile> m_open;  // in walk order
};

std::vector<DeviceHolder> FindDeviceHolders(const std::string& devicePath, const std::string& procRoot = "/proc");

// "in use by minicom (pid 1234)" or "in use by minicom (pid 1234), screen (pid 99)".
std::string DescribeHolders(const std::vector<DeviceHolder>& holders);

}  // namespace tarvo
