#include "serial/Holders.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo {
namespace {

// A directory stream, opened relative to a parent descriptor and closed however the walk ends.
// The walk stays on descriptors (openat, fstatat) so that no path is resolved from the root
// again for each of the hundreds of descriptors a machine has open: the scan runs at every
// open of a port, 64 of them at a time on a large station.
class Directory {
public:
    Directory(int parent, const char* path)
    {
        const int fd = ::openat(parent, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            m_dir = ::fdopendir(fd);
            if (!m_dir)
                ::close(fd);
        }
    }
    ~Directory()
    {
        if (m_dir)
            ::closedir(m_dir);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    int Fd() const { return m_dir ? ::dirfd(m_dir) : -1; }
    // The next entry's name, or null at the end.
    const char* Next()
    {
        if (!m_dir)
            return nullptr;
        const dirent* entry = ::readdir(m_dir);
        return entry ? entry->d_name : nullptr;
    }

private:
    DIR* m_dir = nullptr;
};

bool IsNumber(const char* name)
{
    if (!*name)
        return false;
    for (const char* c = name; *c; ++c)
        if (*c < '0' || *c > '9')
            return false;
    return true;
}

std::string ProgramName(const std::string& processDir)
{
    std::ifstream in(processDir + "/comm");
    std::string name;
    if (!std::getline(in, name) || name.empty())
        return "?";
    return name;
}

}  // namespace

HolderScan::HolderScan(std::string procRoot) : m_procRoot(std::move(procRoot))
{
    const int self = static_cast<int>(::getpid());
    Directory processes(AT_FDCWD, m_procRoot.c_str());
    char fdDirName[32];
    while (const char* name = processes.Next()) {
        if (!IsNumber(name) || std::strlen(name) > 20)
            continue;
        const int pid = std::atoi(name);
        if (pid == self)
            continue;
        std::snprintf(fdDirName, sizeof fdDirName, "%s/fd", name);
        Directory descriptors(processes.Fd(), fdDirName);
        while (const char* fd = descriptors.Next()) {
            if (!IsNumber(fd))
                continue;
            struct stat target {};
            if (::fstatat(descriptors.Fd(), fd, &target, 0) == 0)
                m_open.push_back(OpenFile{pid, static_cast<mode_t>(target.st_mode & S_IFMT), target.st_dev,
                                          target.st_ino, target.st_rdev});
        }
    }
}

std::vector<DeviceHolder> HolderScan::Find(const std::string& devicePath) const
{
    std::vector<DeviceHolder> holders;
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0)
        return holders;
    const mode_t type = device.st_mode & S_IFMT;
    const bool special = S_ISCHR(device.st_mode) || S_ISBLK(device.st_mode);
    int lastPid = -1;
    for (const OpenFile& file : m_open) {
        if (file.pid == lastPid)
            continue;  // one entry per process
        const bool same = special ? file.type == type && file.rdev == device.st_rdev
                                  : file.dev == device.st_dev && file.ino == device.st_ino;
        if (!same)
            continue;
        holders.push_back(DeviceHolder{file.pid, ProgramName(m_procRoot + "/" + std::to_string(file.pid))});
        lastPid = file.pid;
    }
    return holders;
}

std::vector<DeviceHolder> FindDeviceHolders(const std::string& devicePath, const std::string& procRoot)
{
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0)
        return {};  // nothing to look for: no walk
    return HolderScan(procRoot).Find(devicePath);
}

std::string DescribeHolders(const std::vector<DeviceHolder>& holders)
{
    std::string text = "in use by ";
    for (std::size_t i = 0; i < holders.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += holders[i].program + " (pid " + std::to_string(holders[i].pid) + ")";
    }
    return text;
}

}  // namespace tarvo
