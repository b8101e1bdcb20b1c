// Other processes holding a device: found through /proc/<pid>/fd, named in the channel's
// refusal.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "serial/Comm.h"
#include "serial/Holders.h"
#include "support/Pty.h"

using namespace std::chrono_literals;
using namespace tarvo;

namespace {

class Folder {
public:
    Folder()
    {
        char name[] = "/tmp/tarvo-holders-XXXXXX";
        m_path = ::mkdtemp(name);
    }
    ~Folder() { std::filesystem::remove_all(m_path); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A prepared process entry: <root>/<pid>/comm and fd links.
void AddProcess(const std::string& root, int pid, const std::string& comm, const std::vector<std::string>& targets)
{
    const std::string dir = root + "/" + std::to_string(pid);
    std::filesystem::create_directories(dir + "/fd");
    std::ofstream(dir + "/comm") << comm << "\n";
    int fd = 0;
    for (const std::string& target : targets)
        std::filesystem::create_symlink(target, dir + "/fd/" + std::to_string(fd++));
}

// A child process that holds `path` open (as its standard input) until killed.
class Holder {
public:
    explicit Holder(const std::string& path)
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            std::freopen(path.c_str(), "r", stdin);
            ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Holder()
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    int Pid() const { return m_pid; }

private:
    int m_pid;
};

}  // namespace

TEST(DeviceHolders, PreparedProcessesAreMatchedByFileOnceEachAndTheCallerIsSkipped)
{
    Folder proc;
    Folder files;
    const std::string device = files.Path() + "/device";
    const std::string other = files.Path() + "/other";
    std::ofstream(device) << "x";
    std::ofstream(other) << "y";
    AddProcess(proc.Path(), 1234, "minicom", {other, device, device});
    AddProcess(proc.Path(), 77, "cat", {other});
    AddProcess(proc.Path(), static_cast<int>(::getpid()), "myself", {device});
    std::filesystem::create_directories(proc.Path() + "/self/fd");  // not a process number

    const auto holders = FindDeviceHolders(device, proc.Path());
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, 1234);
    EXPECT_EQ(holders[0].program, "minicom");
    EXPECT_EQ(DescribeHolders(holders), "in use by minicom (pid 1234)");
    EXPECT_TRUE(FindDeviceHolders(files.Path() + "/missing", proc.Path()).empty());
}

TEST(DeviceHolders, ASecondProcessHoldingTheDeviceIsNamedAndTheOpenRefused)
{
    tarvo::test::Pty pty;
    Holder holder(pty.SlavePath());
    // Wait until the child has the device open.
    std::vector<DeviceHolder> holders;
    for (int i = 0; i < 200 && holders.empty(); ++i) {
        std::this_thread::sleep_for(5ms);
        holders = FindDeviceHolders(pty.SlavePath());
    }
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, holder.Pid());
    EXPECT_EQ(holders[0].program, "sleep");

    CComm comm;
    EXPECT_FALSE(comm.OpenDevice(pty.SlavePath(), 115200));
    EXPECT_EQ(comm.LastError(), pty.SlavePath() + ": in use by sleep (pid " + std::to_string(holder.Pid()) + ")");
}

TEST(DeviceHolders, OneScanAnswersForEveryDeviceOfABurstOfOpens)
{
    tarvo::test::Pty held;
    tarvo::test::Pty free;
    Holder holder(held.SlavePath());
    for (int i = 0; i < 200 && FindDeviceHolders(held.SlavePath()).empty(); ++i)
        std::this_thread::sleep_for(5ms);

    const HolderScan scan;
    const auto holders = scan.Find(held.SlavePath());
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, holder.Pid());
    EXPECT_TRUE(scan.Find(free.SlavePath()).empty());

    // The channel takes its answer from the scan it is given: the free device opens, the held
    // one is refused with its holder named.
    CComm refused;
    EXPECT_FALSE(refused.OpenDevice(held.SlavePath(), 115200, &scan));
    EXPECT_EQ(refused.LastError(), held.SlavePath() + ": in use by sleep (pid " + std::to_string(holder.Pid()) + ")");
    CComm opened;
    EXPECT_TRUE(opened.OpenDevice(free.SlavePath(), 115200, &scan)) << opened.LastError();
}
