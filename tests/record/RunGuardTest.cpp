// tarvo-cli's runs and their records when something around them fails: a journal locked by
// another program or on a full disk (no port opens, no handset sees a byte, the port ends
// ERROR with the reason, continuous mode waits for the journal), an image replaced during a
// run (the record names what was sent), a reader that closes standard output (the run and its
// record go on), devices that are no serial port, forwarding while the program runs, and the
// SHA-256 known answers.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/RunProgram.h"
#include "e2e/Harness.h"
#include "record/LineDatabase.h"
#include "record/PgServer.h"
#include "record/RecordStore.h"
#include "record/RunRecord.h"
#include "record/Sha256.h"
#include "record/TestSupport.h"
#include "support/Pty.h"
#include "tools/sim/TargetSim.h"

using namespace std::chrono_literals;
using namespace tarvo;
using namespace tarvo::record;

namespace {

using test::TempDir;

std::vector<RunRecord> ReadAll(const std::string& path)
{
    RecordStore store;
    std::string error;
    std::vector<RunRecord> out;
    if (!store.Open(path, error, true)) {
        ADD_FAILURE() << error;
        return out;
    }
    EXPECT_TRUE(store.Query({}, [&](const RunRecord& r) { out.push_back(r); }, error)) << error;
    return out;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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

// tarvo-cli in the background, in `dir`, with an empty profile; stdout and stderr go to files
// (or stdout to `stdoutFd` when given: the write end of a pipe).
class Cli {
public:
    Cli(const std::string& dir, const std::vector<std::string>& args, int stdoutFd = -1,
        std::function<void()> inChild = {})
        : m_out(dir + "/cli.out"), m_err(dir + "/cli.err")
    {
        std::vector<std::string> all{TARVO_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string config = dir + "/config";
        m_pid = ::fork();
        if (m_pid == 0) {
            const int out = stdoutFd >= 0 ? stdoutFd : ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            if (inChild)
                inChild();
            if (::chdir(dir.c_str()) != 0)
                ::_exit(126);
            ::execv(TARVO_CLI_PATH, argv.data());
            ::_exit(127);
        }
    }
    ~Cli()
    {
        if (m_pid > 0 && m_status < 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Cli(const Cli&) = delete;
    Cli& operator=(const Cli&) = delete;

    void Signal(int signalNumber) { ::kill(m_pid, signalNumber); }
    // The exit status (128 + the signal for a child a signal ended); -1 while it runs.
    int Wait(std::chrono::milliseconds timeout)
    {
        WaitFor([&] {
            int status = 0;
            if (m_status < 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid)
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return m_status >= 0;
        }, timeout);
        return m_status;
    }
    std::string Out() const { return ReadFile(m_out); }
    std::string Err() const { return ReadFile(m_err); }
    std::string All() const { return Out() + Err(); }

private:
    std::string m_out, m_err;
    pid_t m_pid = -1;
    int m_status = -1;
};

std::unique_ptr<sim::TargetSim> Handset(std::chrono::milliseconds eraseTime = 100ms)
{
    sim::SimConfig config;
    config.loader = sim::Loader::Flashloader;
    config.version1 = 1;
    config.version2 = 0x25;
    config.eraseTime = eraseTime;
    auto handset = std::make_unique<sim::TargetSim>(config);
    std::string error;
    EXPECT_TRUE(handset->Start(error)) << error;
    return handset;
}

// A journal with its schema, as an earlier run of the station leaves it.
void CreateJournal(const std::string& path)
{
    RecordStore store;
    std::string error;
    ASSERT_TRUE(store.Open(path, error)) << error;
}

std::string Sha256Of(const std::string& path)
{
    std::string hex, error;
    EXPECT_TRUE(Sha256File(path, hex, error)) << error;
    return hex;
}

// A small tmpfs of its own (root only), unmounted at the end.
class SmallDisk {
public:
    SmallDisk()
    {
        if (::mount("tarvo-test", m_dir.Path().c_str(), "tmpfs", 0, "size=1m") == 0)
            m_mounted = true;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_dir.Path().c_str(), MNT_DETACH);
    }
    bool Mounted() const { return m_mounted; }
    const std::string& Path() const { return m_dir.Path(); }
    // Fills the disk to the last byte with the file `filler`.
    void Fill()
    {
        const int fd = ::open((Path() + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        std::vector<char> block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, block.data(), 1) > 0) {
        }
        ::close(fd);
    }
    void Free() { std::filesystem::remove(Path() + "/filler"); }

private:
    TempDir m_dir;
    bool m_mounted = false;
};

// ---------------------------------------------------------------------------------------

// Another program holds the journal's write lock for longer than the busy time-out (5 s):
// the port is never opened, the handset sees no byte, the port ends ERROR with the reason,
// and the refused run is recorded ERROR once the lock is gone, with no RUNNING row left.
TEST(RunGuard, JournalLockedLongerThanTheBusyTimeOutOpensNoPortSlow)
{
    test::Workspace workspace(8 * 1024, 8 * 1024);
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    CreateJournal(db);
    auto handset = Handset();

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    const auto start = std::chrono::steady_clock::now();
    Cli cli(workspace.Dir(), {"flash", "--json", "--image", workspace.Image(), "--port", "5=" + handset->DevicePath(),
                              "--record", db});
    ASSERT_TRUE(WaitFor([&] { return cli.Out().find("\"end\":\"ERROR\"") != std::string::npos; }, 15s))
        << cli.All();
    EXPECT_EQ(handset->Status().bytesReceived, 0u) << "the handset was touched";
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    EXPECT_EQ(cli.Wait(20s), 1) << cli.All();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(handset->Status().bytesReceived, 0u);
    EXPECT_NE(cli.Err().find("the run cannot be recorded, so it does not begin: " + db), std::string::npos)
        << cli.Err();
    EXPECT_NE(cli.Err().find("locked"), std::string::npos) << cli.Err();
    const auto records = ReadAll(db);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, "ERROR");
    EXPECT_NE(records[0].reason.value_or("").find("locked"), std::string::npos);
    EXPECT_FALSE(records[0].wait_ms.has_value()) << "no target was ever asked";
}

// A full disk while another program keeps the journal open: the one-shot flash opens no port;
// continuous mode begins nothing while the disk stays full, says why, and flashes the handset
// that waits in the socket once the journal takes a write again.
TEST(RunGuard, FullDiskOpensNoPortAndContinuousWaitsForTheJournal)
{
    SmallDisk disk;
    if (!disk.Mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    test::Workspace workspace(8 * 1024, 8 * 1024);
    const std::string db = disk.Path() + "/records.sqlite";
    RecordStore keeper;  // the other program: its connection keeps the journal's files
    std::string error;
    ASSERT_TRUE(keeper.Open(db, error)) << error;
    disk.Fill();
    auto handset = Handset();

    {
        Cli cli(workspace.Dir(), {"flash", "--image", workspace.Image(), "--port", "5=" + handset->DevicePath(),
                                  "--record", db});
        ASSERT_TRUE(WaitFor([&] { return cli.Out().find("ERROR") != std::string::npos; }, 15s)) << cli.All();
        EXPECT_EQ(handset->Status().bytesReceived, 0u) << "the handset was touched";
        disk.Free();  // the refused run's record can be written now, before the program ends
        EXPECT_EQ(cli.Wait(15s), 1) << cli.All();
        EXPECT_EQ(handset->Status().bytesReceived, 0u) << "the handset was touched";
        EXPECT_NE(cli.All().find("the run cannot be recorded, so it does not begin"), std::string::npos) << cli.All();
        EXPECT_NE(cli.All().find("full"), std::string::npos) << cli.All();
        disk.Fill();
    }

    Cli cli(workspace.Dir(), {"flash", "--continuous", "--json", "--image", workspace.Image(), "--port",
                              "5=" + handset->DevicePath(), "--record", db});
    ASSERT_TRUE(WaitFor([&] { return cli.Out().find("\"end\":\"ERROR\"") != std::string::npos; }, 15s))
        << cli.All();
    // Long enough for several of the writer's retries: still no run may begin.
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(handset->Status().bytesReceived, 0u) << "a run began while the journal could not be written";
    EXPECT_NE(cli.Err().find("no run begins until it works"), std::string::npos) << cli.All();

    disk.Free();
    EXPECT_TRUE(WaitFor([&] { return cli.Out().find("\"end\":\"COMPLETE\"") != std::string::npos; }, 20s))
        << cli.All();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(20s), 1) << "one run ended ERROR";
    keeper.Close();
    std::vector<std::string> results;
    for (const RunRecord& r : ReadAll(db))
        results.push_back(r.result.value_or("") + " " + (r.reason ? "reason" : "-"));
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results, (std::vector<std::string>{"ERROR reason", "ERROR reason", "PASS -"}));
}

// The image is replaced (as a conversion does: a new file renamed over the path) while a run
// loads the monitor: the run sends the image it began with, and its record names that one.
TEST(RunGuard, ImageReplacedDuringARunLeavesTheRecordOfWhatWasSent)
{
    test::Workspace workspace(24 * 1024, 8 * 1024);
    test::Workspace other(48 * 1024, 8 * 1024);
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    const std::string oldSha = Sha256Of(workspace.Image());
    const auto oldBytes = static_cast<int64_t>(std::filesystem::file_size(workspace.Image()));
    char sums[16];
    std::snprintf(sums, sizeof sums, "%04X,%04X", workspace.ImageDataSum(), workspace.ImageDataSum());
    auto handset = Handset(1500ms);

    Cli cli(workspace.Dir(), {"flash", "--json", "--image", workspace.Image(), "--port", "5=" + handset->DevicePath(),
                              "--record", db});
    // The handset has answered: the run has begun, its monitor loads.
    ASSERT_TRUE(WaitFor([&] { return cli.Out().find("\"status\":") != std::string::npos; }, 15s)) << cli.All();
    const std::string next = workspace.Image() + ".new";
    std::filesystem::copy_file(other.Image(), next);
    std::filesystem::rename(next, workspace.Image());
    ASSERT_NE(Sha256Of(workspace.Image()), oldSha);

    EXPECT_EQ(cli.Wait(30s), 0) << cli.All();
    const auto records = ReadAll(db);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, "PASS");
    EXPECT_EQ(records[0].image_sha256, oldSha);
    EXPECT_EQ(records[0].image_bytes, oldBytes) << "the run sent another image than the one it recorded";
    EXPECT_EQ(records[0].checksums, std::string(sums)) << "the handset holds another image";
}

// The reader of standard output goes away before the run ends: the run goes on to its real
// end, its record is PASS, the exit status is the run's, and the failure is told once.
TEST(RunGuard, ClosedStandardOutputStopsNoRunAndLosesNoRecord)
{
    test::Workspace workspace(8 * 1024, 8 * 1024);
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    auto handset = Handset();
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const int readEnd = pipeFds[0];
    Cli cli(workspace.Dir(), {"flash", "--json", "--image", workspace.Image(), "--port", "5=" + handset->DevicePath(),
                              "--record", db},
            pipeFds[1], [readEnd] { ::close(readEnd); });
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    EXPECT_EQ(cli.Wait(30s), 0) << cli.Err();
    const std::string err = cli.Err();
    const std::string told = "standard output cannot be written";
    EXPECT_NE(err.find(told), std::string::npos) << err;
    EXPECT_EQ(err.find(told), err.rfind(told)) << "told more than once: " << err;
    const auto records = ReadAll(db);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, "PASS");
}

// Devices that are no serial port are refused as such before any look for their holders (no
// process list reaches the message or the record), and the program's own terminal is never
// put into raw mode.
TEST(RunGuard, NoSerialDeviceIsRefusedBeforeAnyHolderScan)
{
    test::Workspace workspace(8 * 1024, 8 * 1024);
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    for (const std::string device : {"/dev/null", "/proc/self/fd/0", "/dev/tty"}) {
        SCOPED_TRACE(device);
        auto result = test::RunProgram(
            "/bin/sh", {"-c", "XDG_CONFIG_HOME=" + dir.Path() + "/config " TARVO_CLI_PATH " flash --image '" +
                                  workspace.Image() + "' --port 5=" + device + " --record " + db + " </dev/null"},
            workspace.Dir());
        EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
        EXPECT_NE(result.out.find("not a serial device"), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("in use by"), std::string::npos) << result.out;
    }
    for (const RunRecord& r : ReadAll(db)) {
        EXPECT_EQ(r.result, "ERROR");
        EXPECT_EQ(r.reason.value_or("").find("pid"), std::string::npos) << *r.reason;
    }

    // The device named is the terminal the program runs in.
    test::Pty terminal;
    ASSERT_TRUE(terminal.ok());
    const std::string slave = terminal.SlavePath();
    Cli cli(workspace.Dir(), {"flash", "--image", workspace.Image(), "--port", "5=" + slave, "--record", db}, -1,
            [slave] {
                ::setsid();
                const int fd = ::open(slave.c_str(), O_RDWR);
                ::ioctl(fd, TIOCSCTTY, 0);
            });
    EXPECT_EQ(cli.Wait(20s), 1) << cli.All();
    EXPECT_NE(cli.Out().find("the terminal this program runs in, not a serial device"), std::string::npos)
        << cli.All();
    termios settings{};
    ASSERT_EQ(::tcgetattr(terminal.MasterFd(), &settings), 0);  // the master reads the slave's settings
    EXPECT_NE(settings.c_lflag & ICANON, 0u) << "the program's terminal was put into raw mode";
}

// SHA-256 from libcrypto against the published known answers.
TEST(RunGuard, Sha256KnownAnswers)
{
    EXPECT_EQ(Sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string message = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";  // 448 bits
    EXPECT_EQ(Sha256Hex(message.data(), message.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    TempDir dir;
    const std::string path = dir.Path() + "/abc";
    std::ofstream(path) << "abc";
    EXPECT_EQ(Sha256Of(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::string hex, error;
    EXPECT_FALSE(Sha256File(dir.Path() + "/absent", hex, error));
    EXPECT_NE(error.find(dir.Path() + "/absent"), std::string::npos) << error;
}

// A station in continuous mode forwards while it runs: records of an earlier outage that wait
// in the journal and the new run's record reach the line database once the server is back,
// without the program ending.
TEST(RunGuard, ContinuousStationForwardsWhileItRunsIncludingAnEarlierOutage)
{
    if (!test::PgServer::Available())
        GTEST_SKIP() << "PostgreSQL 15 is not installed";
    test::PgServer server;
    ASSERT_TRUE(server.Error().empty()) << server.Error();
    ASSERT_TRUE(server.Stop());

    test::Workspace workspace(8 * 1024, 8 * 1024);
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    {
        // Two runs of an earlier outage, finished and not forwarded.
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        ASSERT_TRUE(store.UpsertAll({test::AwkwardRecord(1), test::AwkwardRecord(2)}, "earlier", error)) << error;
    }
    auto handset = Handset();
    Cli cli(workspace.Dir(), {"flash", "--continuous", "--json", "--image", workspace.Image(), "--port",
                              "5=" + handset->DevicePath(), "--record", db, "--forward", server.Url()});
    ASSERT_TRUE(WaitFor([&] { return cli.Out().find("\"end\":\"COMPLETE\"") != std::string::npos; }, 20s))
        << cli.All();
    ASSERT_TRUE(server.Start());
    auto lineCount = [&] {
        LineDatabase line;
        std::string error;
        return line.Connect(server.Url(), 2000, error) ? line.Count(error) : -1;
    };
    // The forwarder's back-off is at most 4 s by now; the server is checked once a second.
    EXPECT_TRUE(WaitFor([&] { return lineCount() == 3; }, 20s)) << lineCount() << " records forwarded\n" << cli.All();
    EXPECT_EQ(cli.Wait(0ms), -1) << "the station still runs";
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(20s), 0) << cli.All();
    EXPECT_EQ(lineCount(), 3);
}

}  // namespace
