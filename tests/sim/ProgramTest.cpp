// The command line of tarvo-target-sim, parsed and run as a program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include "sim/StationSide.h"
#include "tools/sim/SimOptions.h"

namespace tarvo::sim::test {
namespace {

bool Parse(std::vector<std::string> args, ProgramOptions& options, std::string& error)
{
    options = ProgramOptions{};
    return ParseCommandLine(args, options, error);
}

TEST(SimOptions, LoadersVersionsAndTimes)
{
    ProgramOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--flashloader", "1.2.5", "--baud=115200", "--erase-ms", "250",
                       "--time-scale", "12.5", "--cycles", "3", "--link", "/tmp/x", "-v"},
                      o, error))
        << error;
    EXPECT_EQ(o.config.loader, Loader::Flashloader);
    EXPECT_EQ(o.config.version1, 1);
    EXPECT_EQ(o.config.version2, 0x25);
    EXPECT_EQ(o.config.baud, 115200);
    EXPECT_EQ(o.config.eraseTime, std::chrono::milliseconds(250));
    EXPECT_EQ(o.config.timeScale, 12.5);
    EXPECT_EQ(o.cycles, 3u);
    EXPECT_EQ(o.config.linkPath, "/tmp/x");
    EXPECT_TRUE(o.verbose);

    ASSERT_TRUE(Parse({"--bootloader", "3.12"}, o, error)) << error;
    EXPECT_EQ(o.config.loader, Loader::Bootloader);
    EXPECT_EQ(o.config.version2, 12);
}

TEST(SimOptions, FaultsTakeDefaultsAndValues)
{
    ProgramOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--fault", "identify-result", "--fault=erase-result=7", "--fault",
                       "block-delay=3:19000", "--fault", "final-sums=1a2b:AAAA", "--fault",
                       "identify-cw", "--fault", "garbage"},
                      o, error))
        << error;
    const SimFaults& f = o.config.faults;
    EXPECT_EQ(f.identifyResult, 4);
    EXPECT_EQ(f.eraseResult, 7);
    EXPECT_EQ(f.blockDelayIndex, 3);
    EXPECT_EQ(f.blockDelay, std::chrono::milliseconds(19000));
    ASSERT_TRUE(f.finalSums.has_value());
    EXPECT_EQ(f.finalSums->value1, 0x1A2B);
    EXPECT_EQ(f.finalSums->value2, 0xAAAA);
    EXPECT_EQ(f.identifyCommandWord, 3);
    EXPECT_EQ(f.garbageBytes, 3);
}

TEST(SimOptions, UsageErrorsSayWhatIsWrong)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"--baud"}, "needs a value"},
        {{"--flashloader", "1.16.0"}, "1.16.0"},
        {{"--bootloader", "3.12", "--flashloader", "1.2.5"}, "only one"},
        {{"--time-scale", "0"}, "time scale"},
        {{"--fault", "no-such"}, "no-such"},
        {{"--fault", "block-unacked"}, "needs a value"},
        {{"--fault", "final-missing=1"}, "takes no value"},
        {{"--fault", "final-sums=12345:1"}, "final-sums"},
        {{"--fault", "identify-result=0"}, "identify-result"},
        {{"--verbose=1"}, "takes no value"},
    };
    for (const auto& [args, needle] : cases) {
        ProgramOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << args[0];
        EXPECT_NE(error.find(needle), std::string::npos) << error;
    }
}

#ifdef TARVO_TARGET_SIM_PATH

// tarvo-target-sim as a child process with its standard output and error on pipes.
class Program {
public:
    explicit Program(std::vector<std::string> args)
    {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char*> argv{const_cast<char*>(TARVO_TARGET_SIM_PATH)};
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
        m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    }
    ~Program()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_out, m_err, m_pidFd})
            if (fd >= 0)
                ::close(fd);
    }

    // One line of standard output, waiting at most `timeout`.
    std::string ReadLine(std::chrono::milliseconds timeout)
    {
        std::string line;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            char c;
            const ssize_t n = ::read(m_out, &c, 1);
            if (n == 1) {
                if (c == '\n')
                    return line;
                line += c;
                continue;
            }
            if (n == 0)
                return line;
            pollfd p{m_out, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return line;
        }
    }
    std::string ReadAll(int fd)
    {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }
    std::string Out() { return ReadAll(m_out); }
    std::string Err() { return ReadAll(m_err); }

    // The exit status, or -1 when the program is still running after `timeout`.
    int Wait(std::chrono::milliseconds timeout)
    {
        pollfd p{m_pidFd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return -1;
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int sig) { ::kill(m_pid, sig); }

private:
    pid_t m_pid = -1;
    int m_out = -1, m_err = -1, m_pidFd = -1;
    bool m_reaped = false;
};

TEST(SimProgram, HelpAndUsageErrors)
{
    Program help({"--help"});
    EXPECT_EQ(help.Wait(5000ms), 0);
    const std::string text = help.Out();
    for (const char* name : {"identify-silent", "hangup-after-block", "final-sums", "garbage"})
        EXPECT_NE(text.find(name), std::string::npos) << name;

    Program bad({"--fault", "nonsense"});
    EXPECT_EQ(bad.Wait(5000ms), 2);
    EXPECT_NE(bad.Err().find("unknown fault 'nonsense'"), std::string::npos);
}

TEST(SimProgram, ServesUntilItsCyclesThenUntilASignal)
{
    Program cycles({"--flashloader", "1.2.5", "--erase-ms", "0", "--cycles", "1"});
    const std::string device = cycles.ReadLine(5000ms);
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    {
        StationPort port(device);
        ASSERT_TRUE(port.Ok()) << port.Error();
        port.Write(Concat({kIdentify, kErase, kDownload}));
        EXPECT_EQ(port.ReadFrame(2000ms), (Bytes{0, 0, 1, 1, 0x25}));
        EXPECT_EQ(port.ReadFrame(2000ms), (Bytes{4, 0}));
        port.Write(Termination(0));
        EXPECT_EQ(port.ReadFrame(2000ms), (Bytes{5, 0, 0, 0, 0, 0}));
        EXPECT_EQ(cycles.Wait(5000ms), 0);
    }

    const std::string link = ::testing::TempDir() + "tarvo-sim-program-link";
    Program served({"--link", link});
    ASSERT_EQ(served.ReadLine(5000ms).rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(served.ReadLine(1000ms), link);
    EXPECT_EQ(served.Wait(100ms), -1) << "runs until told to stop";
    served.Signal(SIGTERM);
    EXPECT_EQ(served.Wait(2000ms), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link goes with the program";
}

#endif

}  // namespace
}  // namespace tarvo::sim::test
