#include "serial/Holders.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo {
namespace {

// A directory stream closed however the walk ends.
class Directory {
public:
    explicit Directory(const std::string& path) : m_dir(::opendir(path.c_str())) {}
    ~Directory()
    {
        if (m_dir)
            ::closedir(m_dir);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    // The next entry's name, or null at the end.
    const char* Next()
    {
        if (!m_dir)
            return nullptr;
        const dirent* entry = ::readdir(m_dir);
        return entry ? entry->d_name : nullptr;
    }

private:
    DIR* m_dir;
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

bool SameFile(const struct stat& device, const struct stat& other)
{
    const bool special = S_ISCHR(device.st_mode) || S_ISBLK(device.st_mode);
    if (special)
        return (other.st_mode & S_IFMT) == (device.st_mode & S_IFMT) && other.st_rdev == device.st_rdev;
    return other.st_dev == device.st_dev && other.st_ino == device.st_ino;
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

std::vector<DeviceHolder> FindDeviceHolders(const std::string& devicePath, const std::string& procRoot)
{
    std::vector<DeviceHolder> holders;
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0)
        return holders;
    const int self = static_cast<int>(::getpid());
    Directory processes(procRoot);
    std::string processDir;
    std::string fdDir;
    std::string fdPath;
    while (const char* name = processes.Next()) {
        if (!IsNumber(name))
            continue;
        const int pid = std::atoi(name);
        if (pid == self)
            continue;
        processDir = procRoot + "/" + name;
        fdDir = processDir + "/fd";
        Directory descriptors(fdDir);
        while (const char* fd = descriptors.Next()) {
            if (!IsNumber(fd))
                continue;
            fdPath = fdDir + "/" + fd;
            struct stat target {};
            if (::stat(fdPath.c_str(), &target) == 0 && SameFile(device, target)) {
                holders.push_back(DeviceHolder{pid, ProgramName(processDir)});
                break;
            }
        }
    }
    return holders;
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
