// tarvo-cli flash --continuous against simulated handsets whose device links come and go: three
// handsets one after another without a click, no second run on a handset that stays, and the
// summary and exit status on SIGINT.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/Harness.h"
#include "tools/sim/TargetSim.h"

using namespace std::chrono_literals;
using namespace tarvo;

namespace {

// A program run in the background with its output going to files.
class Child {
public:
    Child(const std::string& path, const std::vector<std::string>& args, const std::string& dir)
        : m_out(dir + "/" + std::filesystem::path(path).filename().string() + ".out"),
          m_err(dir + "/" + std::filesystem::path(path).filename().string() + ".err")
    {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            const int out = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            if (::chdir(dir.c_str()) != 0)
                ::_exit(126);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~Child()
    {
        if (m_pid > 0 && m_status < 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    void Signal(int signalNumber) { ::kill(m_pid, signalNumber); }
    // The exit status, or -1 when the child has not ended within `timeout`.
    int Wait(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (m_status < 0) {
            int status = 0;
            const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return -1;
            std::this_thread::sleep_for(20ms);
        }
        return m_status;
    }
    std::string Out() const { return Read(m_out); }
    std::string Err() const { return Read(m_err); }

private:
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string m_out, m_err;
    pid_t m_pid = -1;
    int m_status = -1;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The end words of `port`, in order.
std::vector<std::string> Ends(const std::string& out, int port)
{
    const std::regex end(R"re(^\{"port":(\d+),"end":"([A-Z ]+)"\}$)re");
    std::vector<std::string> words;
    for (const std::string& line : Lines(out)) {
        std::smatch m;
        if (std::regex_match(line, m, end) && std::stoi(m[1]) == port)
            words.push_back(m[2]);
    }
    return words;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

}  // namespace

TEST(CliContinuous, ThreeHandsetsOneAfterAnotherThenSummaryOnSigint)
{
    test::Workspace workspace(8 * 1024, 0);
    const std::string link = workspace.Dir() + "/by-path/usb-0:1.2:1.0-port0";
    const std::string never = workspace.Dir() + "/by-path/usb-0:1.3:1.0-port0";
    std::filesystem::create_directories(workspace.Dir() + "/config");
    ::setenv("XDG_CONFIG_HOME", (workspace.Dir() + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (workspace.Dir() + "/data").c_str(), 1);  // the runs' record

    Child station(TARVO_CLI_PATH,
                  {"flash", "--continuous", "--json", "--image", workspace.Image(), "--port", "5=" + link, "--port",
                   "6=" + never},
                  workspace.Dir());
    std::this_thread::sleep_for(300ms);  // the station waits for devices that are not there yet
    EXPECT_TRUE(Ends(station.Out(), 5).empty());

    // The link's folder appears with the first adapter, as udev makes /dev/serial/by-path.
    std::filesystem::create_directories(std::filesystem::path(link).parent_path());
    // Three handsets, each unplugged 1.5 s after its download: long enough for a wrong second
    // run on the same handset to begin.
    Child handsets(TARVO_TARGET_SIM_PATH,
                   {"--link", link, "--flashloader", "1.2.5", "--erase-ms", "20", "--handsets", "3", "--stay-ms",
                    "1500", "--away-ms", "300"},
                   workspace.Dir());
    EXPECT_EQ(handsets.Wait(60s), 0) << handsets.Err();
    ASSERT_TRUE(WaitFor([&] { return Ends(station.Out(), 5).size() >= 3; }, 5s)) << station.Out() << station.Err();
    std::this_thread::sleep_for(300ms);
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(10s), 0) << station.Err();

    EXPECT_EQ(Ends(station.Out(), 5), (std::vector<std::string>{"COMPLETE", "COMPLETE", "COMPLETE"}))
        << station.Out() << handsets.Err();
    EXPECT_TRUE(Ends(station.Out(), 6).empty()) << "a port waiting for its device has no run to end";
    // stdout holds JSON Lines only; the summary goes to stderr.
    for (const std::string& line : Lines(station.Out()))
        EXPECT_EQ(line.rfind("{\"port\":", 0), 0u) << line;
    const std::string err = station.Err();
    EXPECT_TRUE(std::regex_search(err, std::regex(R"(COM5\s+3\s+3\s+0\s+0\s+0)"))) << err;
    EXPECT_TRUE(std::regex_search(err, std::regex(R"(COM6\s+0\s+0\s+0\s+0\s+0)"))) << err;
}

TEST(CliContinuous, HandsetThatStaysIsNotFlashedAgainAndARunInProgressIsAborted)
{
    test::Workspace workspace(8 * 1024, 0);
    const std::string first = workspace.Dir() + "/first";
    const std::string second = workspace.Dir() + "/second";
    std::filesystem::create_directories(workspace.Dir() + "/config");
    ::setenv("XDG_CONFIG_HOME", (workspace.Dir() + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (workspace.Dir() + "/data").c_str(), 1);  // the runs' record

    sim::SimConfig quick;
    quick.loader = sim::Loader::Flashloader;
    quick.version1 = 1;
    quick.version2 = 0x25;
    quick.eraseTime = 20ms;
    quick.linkPath = first;
    sim::TargetSim stays(quick);
    std::string error;
    ASSERT_TRUE(stays.Start(error)) << error;
    sim::SimConfig slow = quick;
    slow.eraseTime = 60s;  // still erasing when the signal comes
    slow.linkPath = second;
    sim::TargetSim erasing(slow);
    ASSERT_TRUE(erasing.Start(error)) << error;

    Child station(TARVO_CLI_PATH,
                  {"flash", "--continuous", "--image", workspace.Image(), "--port", "7=" + first, "--port",
                   "8=" + second},
                  workspace.Dir());
    ASSERT_TRUE(stays.WaitCycles(1, 20s)) << station.Out() << station.Err();
    const auto identifiesAfterRun = stays.Status().handset.identifies;
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(stays.Status().cyclesFinished, 1u) << "no second run on the handset that stayed";
    EXPECT_EQ(stays.Status().handset.identifies, identifiesAfterRun) << "its device stays closed";
    ASSERT_TRUE(WaitFor([&] { return erasing.Status().handset.erases > 0; }, 10s));

    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(10s), 1) << "a run was aborted";
    const std::string out = station.Out();
    EXPECT_NE(out.find("COM7 run 1: COMPLETE"), std::string::npos) << out;
    EXPECT_NE(out.find("COM8 run 1: ABORTED"), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(COM7\s+1\s+1\s+0\s+0\s+0)"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(COM8\s+1\s+0\s+0\s+0\s+1)"))) << out;
}
