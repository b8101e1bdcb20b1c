// tarvo-cli interrupted by a signal, and what it refuses before it touches a handset.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <string>
#include <thread>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "e2e/Harness.h"
#include "serial/Comm.h"
#include "tools/samples/Samples.h"
#include "tools/sim/TargetSim.h"

using namespace std::chrono_literals;
using namespace tarvo;

namespace {

using Clock = std::chrono::steady_clock;

// tarvo-cli as a child process whose stdout is read line by line while it runs.
class Child {
public:
    Child(const std::string& dir, const std::vector<std::string>& args)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> all = {TARVO_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string config = dir + "/config";
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            if (::chdir(dir.c_str()) != 0)
                ::_exit(126);
            ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        m_out = out[0];
    }
    ~Child()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
    }

    // Reads lines until one matches `pattern` (true) or the output ends or `timeout` passes.
    bool ReadUntil(const std::regex& pattern, std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            for (; m_checked < lines.size(); ++m_checked)
                if (std::regex_search(lines[m_checked], pattern))
                    return ++m_checked, true;
            if (!ReadSome(deadline))
                return false;
        }
    }
    void Signal(int signalNumber) { ::kill(m_pid, signalNumber); }
    // Reads to the end of the output and reaps the child; its exit status, or -1.
    int Wait(std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (ReadSome(deadline)) {
        }
        int status = 0;
        while (Clock::now() < deadline) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_reaped = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        return -1;
    }

    std::vector<std::string> lines;

private:
    // False at the end of the output or the deadline.
    bool ReadSome(Clock::time_point deadline)
    {
        if (m_out < 0)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(m_out);
            m_out = -1;
            return false;
        }
        m_partial.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = m_partial.find('\n')) != std::string::npos;) {
            lines.push_back(m_partial.substr(0, nl));
            m_partial.erase(0, nl + 1);
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    bool m_reaped = false;
    std::size_t m_checked = 0;
    std::string m_partial;
};

std::unique_ptr<sim::TargetSim> Handset(sim::SimFaults faults = {}, double baud = 0)
{
    sim::SimConfig config;
    config.loader = sim::Loader::Flashloader;
    config.version1 = 1;
    config.version2 = 0x25;
    config.eraseTime = 100ms;
    config.baud = baud;
    config.faults = faults;
    auto handset = std::make_unique<sim::TargetSim>(config);
    std::string error;
    EXPECT_TRUE(handset->Start(error)) << error;
    return handset;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int RunCli(const std::string& dir, const std::vector<std::string>& args, std::string* errors = nullptr)
{
    std::string command = "cd '" + dir + "' && XDG_CONFIG_HOME='" + dir + "/config' " TARVO_CLI_PATH;
    for (const std::string& a : args)
        command += " '" + a + "'";
    command += " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    std::string all;
    while (std::fgets(buffer, sizeof buffer, pipe))
        all += buffer;
    const int status = ::pclose(pipe);
    if (errors)
        *errors = all;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(CliInterrupt, SigintMidFlashEndsEveryRunReleasesThePortsAndEndsUnfinishedPortsAborted)
{
    test::Workspace workspace(256 * 1024, 64 * 1024);
    auto paced = Handset({}, 115200);  // a download of several seconds
    sim::SimFaults never;
    never.identifyNever = true;
    auto silent = Handset(never);
    Child cli(workspace.Dir(), {"flash", "--json", "--image", workspace.Image(), "--port",
                                "5=" + paced->DevicePath(), "--port", "6=" + silent->DevicePath()});
    ASSERT_TRUE(cli.ReadUntil(std::regex(R"(^\{"port":5,"progress":)"), 20s)) << "the download runs";

    const auto t0 = Clock::now();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(5s), 130);
    const auto took = Clock::now() - t0;
    const double ms = std::chrono::duration<double, std::milli>(took).count();
    std::printf("[ measured ] SIGINT to exit of tarvo-cli flash in %.1f ms\n", ms);
    EXPECT_LT(took, 1s) << ms << " ms";
    ASSERT_GE(cli.lines.size(), 2u);
    EXPECT_EQ(cli.lines[cli.lines.size() - 2], R"({"port":5,"end":"ABORTED"})");
    EXPECT_EQ(cli.lines.back(), R"({"port":6,"end":"ABORTED"})");
    // Both devices were released: a station opens them again at once.
    for (const auto* handset : {paced.get(), silent.get()}) {
        CComm comm;
        EXPECT_TRUE(comm.OpenDevice(handset->DevicePath(), 115200)) << comm.LastError();
    }
}

TEST(CliInterrupt, SigtermMidFlashPrintsTheSummaryAndExits143)
{
    test::Workspace workspace(4 * 1024, 0);
    sim::SimFaults never;
    never.identifyNever = true;
    auto silent = Handset(never);
    Child cli(workspace.Dir(), {"flash", "--image", workspace.Image(), "--port", "7=" + silent->DevicePath()});
    std::this_thread::sleep_for(300ms);  // polling for a target
    cli.Signal(SIGTERM);
    EXPECT_EQ(cli.Wait(5s), 143);
    ASSERT_FALSE(cli.lines.empty());
    EXPECT_NE(cli.lines.back().find("COM7    ABORTED     interrupted by SIGTERM"), std::string::npos)
        << cli.lines.back();
}

TEST(CliInterrupt, SigintMidConvertLeavesNoTemporaryFileAndTheOldImage)
{
    test::Workspace workspace(1024, 0);
    const std::string dir = workspace.Dir();
    const std::string before = ReadAll(workspace.Image());
    samples::MainSoftwareShape shape;
    shape.dataBytes = 32u << 20;  // some 80 MB of text: long enough to be interrupted
    std::string error;
    ASSERT_TRUE(samples::WriteMainSoftware(dir + "/main.m0", shape, error)) << error;

    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, dir.c_str(), IN_CREATE), 0);
    Child cli(dir, {"convert", "main.m0"});
    // Signal as soon as the temporary image exists.
    bool created = false;
    while (!created) {
        pollfd p{watch, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1) << "no temporary file appeared";
        alignas(inotify_event) char buffer[4096];
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && std::string(event->name).find(".tmp-") != std::string::npos)
                created = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    cli.Signal(SIGINT);
    ::close(watch);
    EXPECT_EQ(cli.Wait(5s), 130);
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    EXPECT_TRUE(ReadAll(workspace.Image()) == before) << "the old image is untouched";
}

TEST(CliRefusals, WhatCanOnlyFailIsRefusedBeforeAnyPortOpens)
{
    test::Workspace workspace(4 * 1024, 0);
    const std::string dir = workspace.Dir();
    auto handset = Handset();
    const std::string port = "5=" + handset->DevicePath();
    std::string out;

    std::ofstream(dir + "/empty.cp64").close();
    EXPECT_EQ(RunCli(dir, {"flash", "--image", "empty.cp64", "--port", port}, &out), 1);
    EXPECT_EQ(out, "error: empty.cp64: the download image is empty\n");
    EXPECT_EQ(RunCli(dir, {"flash", "--image", dir, "--port", port}, &out), 1);
    EXPECT_EQ(out, "error: " + dir + ": is a directory, not a file\n");
    std::ofstream(dir + "/text.cp64") << "hello\n";
    EXPECT_EQ(RunCli(dir, {"flash", "--image", "text.cp64", "--port", port}, &out), 1);
    EXPECT_EQ(out, "error: text.cp64: no image blocks: not a download image\n");

    // A main software file without data records: refused, the image left as it was.
    const std::string image = ReadAll(workspace.Image());
    std::ofstream(dir + "/main.m0") << "S0030000FC\nS70500001000EA\n";
    EXPECT_EQ(RunCli(dir, {"flash", "--main", "main.m0", "--port", port}, &out), 1);
    EXPECT_EQ(out, "error: main.m0: no data records\n");
    EXPECT_EQ(RunCli(dir, {"convert", "main.m0"}, &out), 1);
    EXPECT_EQ(out, "error: main.m0: no data records\n");
    EXPECT_TRUE(ReadAll(workspace.Image()) == image);

    ASSERT_EQ(::mkfifo((dir + "/pipe.m0").c_str(), 0600), 0);
    EXPECT_EQ(RunCli(dir, {"convert", "pipe.m0"}, &out), 1);
    EXPECT_EQ(out, "error: pipe.m0: is a FIFO (named pipe), not a regular file\n");
    EXPECT_EQ(RunCli(dir, {"flash", "--main", "pipe.m0", "--port", port}, &out), 1);
    EXPECT_EQ(out, "error: pipe.m0: is a FIFO (named pipe), not a regular file\n");
    EXPECT_EQ(RunCli(dir, {"convert", "/dev/zero"}, &out), 1);

    EXPECT_EQ(handset->Status().bytesReceived, 0u) << "no port was opened";
}

TEST(CliRefusals, OneDevicePerPortAndFiniteWaits)
{
    test::Workspace workspace(4 * 1024, 0);
    const std::string dir = workspace.Dir();
    auto handset = Handset();
    const std::string device = handset->DevicePath();
    std::string out;
    EXPECT_EQ(RunCli(dir, {"flash", "--image", workspace.Image(), "--port", "5=" + device, "--port", "6=" + device}, &out), 2);
    EXPECT_NE(out.find("COM5 (" + device + ") and COM6 (" + device + ") name the same device"), std::string::npos) << out;
    EXPECT_EQ(RunCli(dir, {"flash", "--image", workspace.Image(), "--port", "5=" + device, "--port", "5=/dev/null"}, &out), 2);
    EXPECT_NE(out.find("COM5 is given twice"), std::string::npos) << out;
    for (const char* wait : {"nan", "inf", "-1", "0", "1e10", "1e7", ""})
        EXPECT_EQ(RunCli(dir, {"flash", "--wait", wait, "--image", workspace.Image(), "--port", "5=" + device}, &out), 2)
            << wait;
    EXPECT_EQ(handset->Status().bytesReceived, 0u);
}

TEST(CliRefusals, ACorruptProfileIsReported)
{
    test::Workspace workspace(4 * 1024, 0);
    const std::string dir = workspace.Dir();
    const std::string folder = dir + "/config/Local AppWizard-Generated Applications";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/Tarvo.conf") << "[Port]\nm_intPort1=1\n\x01\x02garbage without equals\n";
    std::string out;
    EXPECT_EQ(RunCli(dir, {"flash", "--image", workspace.Image()}, &out), 1);
    EXPECT_EQ(out, "error: " + folder + "/Tarvo.conf:3: corrupt profile: neither a [section] nor a key=value line\n");
}

TEST(CliReason, TheCauseOfALostDeviceStandsBesideTheStatusText)
{
    test::Workspace workspace(64 * 1024, 16 * 1024);
    sim::SimFaults hangup;
    hangup.hangupAfterBlock = 1;
    auto handset = Handset(hangup);
    Child cli(workspace.Dir(), {"flash", "--json", "--image", workspace.Image(), "--port", "5=" + handset->DevicePath()});
    EXPECT_EQ(cli.Wait(30s), 1);
    bool found = false;
    for (const std::string& line : cli.lines)
        found |= line == R"({"port":5,"status":41,"text":"Downloading Aborted !!!","reason":"device hung up"})";
    EXPECT_TRUE(found) << "no status 41 with its reason";
    ASSERT_FALSE(cli.lines.empty());
    EXPECT_EQ(cli.lines.back(), R"({"port":5,"end":"ERROR"})");
}
