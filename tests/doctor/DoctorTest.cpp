// Preflight checks: every code against a prepared system tree, and tarvo-cli doctor as a
// program against this machine's own devices, files and users.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "cli/RunProgram.h"
#include "doctor/Doctor.h"
#include "doctor/SysFixture.h"
#include "e2e/Harness.h"
#include "support/Pty.h"

using namespace tarvo;
using doctor::Finding;

namespace {

std::map<std::string, Finding> ByCode(const std::vector<Finding>& findings)
{
    std::map<std::string, Finding> out;
    for (const Finding& f : findings) {
        EXPECT_FALSE(out.count(f.check)) << "one finding per check: " << f.check;
        EXPECT_FALSE(f.detail.empty()) << f.check;
        EXPECT_EQ(f.hint.empty(), f.ok) << f.check << ": a hint exactly for a failure";
        out[f.check] = f;
    }
    return out;
}

// One doctor JSON line, fields in their fixed order.
const std::regex kLine(
    R"re(^\{"port":(null|\d+),"device":(null|"(?:[^"\\]|\\.)*"),"check":"([a-z-]+)","ok":(true|false),"detail":"((?:[^"\\]|\\.)+)","hint":"((?:[^"\\]|\\.)*)"\}$)re");

struct JsonFinding {
    std::string port, device, check, detail, hint;
    bool ok = false;
};

std::vector<JsonFinding> ParseJson(const std::string& out)
{
    std::vector<JsonFinding> findings;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, kLine)) {
            ADD_FAILURE() << "not a doctor line: " << line;
            continue;
        }
        findings.push_back({m[1], m[2], m[3], m[5], m[6], m[4] == "true"});
    }
    return findings;
}

const JsonFinding* Find(const std::vector<JsonFinding>& findings, const std::string& port, const std::string& check)
{
    for (const JsonFinding& f : findings)
        if (f.port == port && f.check == check)
            return &f;
    return nullptr;
}

void WriteProfile(const std::string& dir, const std::string& text)
{
    const std::string config = dir + "/config/Local AppWizard-Generated Applications";
    std::filesystem::create_directories(config);
    std::ofstream(config + "/Tarvo.conf") << text;
}

test::ProgramResult Doctor(const std::string& dir, std::vector<std::string> args, const std::string& user = {})
{
    std::vector<std::string> argv;
    std::string program = TARVO_CLI_PATH;
    if (!user.empty()) {
        // The build tree may lie under a folder the other user cannot enter (root's home, mode
        // 0700): that user runs a copy of the program from the workspace instead.
        const std::string copy = dir + "/tarvo-cli";
        std::filesystem::copy_file(TARVO_CLI_PATH, copy, std::filesystem::copy_options::overwrite_existing);
        ::chmod(copy.c_str(), 0755);
        argv = {"-u", user, "--", "/usr/bin/env", "XDG_CONFIG_HOME=" + dir + "/config", copy};
        program = "/usr/sbin/runuser";
    } else {
        ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    }
    argv.push_back("doctor");
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunProgram(program, argv, dir);
}

}  // namespace

TEST(DoctorChecks, FtdiAdapterWithEveryLineProblemAndThenMended)
{
    test::Pty pty;
    test::SysFixture fix(pty.SlavePath());
    fix.Write("proc/812/comm", "ModemManager");
    fix.Write("proc/640/comm", "brltty");

    auto found = ByCode(doctor::CheckPort(5, "/dev/ttyUSB0", fix.roots));
    ASSERT_EQ(found.size(), 8u);
    for (const char* passed : {"missing", "not-a-tty", "permission", "held"})
        EXPECT_TRUE(found[passed].ok) << passed << ": " << found[passed].detail;
    EXPECT_FALSE(found["unstable-name"].ok);
    EXPECT_NE(found["unstable-name"].hint.find("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0"),
              std::string::npos) << found["unstable-name"].hint;
    EXPECT_FALSE(found["modemmanager"].ok);
    EXPECT_NE(found["modemmanager"].detail.find("pid 812"), std::string::npos);
    EXPECT_FALSE(found["brltty"].ok);
    EXPECT_NE(found["brltty"].detail.find("pid 640"), std::string::npos);
    EXPECT_FALSE(found["latency"].ok);
    EXPECT_NE(found["latency"].detail.find("16 ms"), std::string::npos);
    EXPECT_EQ(found["latency"].port, 5);
    EXPECT_EQ(found["latency"].device, "/dev/ttyUSB0");

    // The udev rule's work: ModemManager told to ignore it, latency 1 ms; brltty removed; the
    // row names the socket.
    fix.Write("udev/data/c188:0", "S:serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0\nE:ID_MM_DEVICE_IGNORE=1");
    fix.Write("sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB0/latency_timer", "1");
    fix.Remove("proc/640");
    const std::string stable = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0";
    found = ByCode(doctor::CheckPort(5, stable, fix.roots));
    ASSERT_EQ(found.size(), 8u);
    for (const auto& [code, f] : found)
        EXPECT_TRUE(f.ok) << code << ": " << f.detail;
    EXPECT_TRUE(doctor::FirstProblem(doctor::CheckPort(5, stable, fix.roots)).empty());
}

TEST(DoctorChecks, OtherAdaptersLegacyPortsAndAbsentSockets)
{
    test::Pty pty;
    test::SysFixture fix(pty.SlavePath());
    fix.Write("proc/640/comm", "brltty");
    // A Silicon Labs adapter: no latency timer to check, but brltty may take it.
    auto found = ByCode(doctor::CheckPort(6, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0", fix.roots));
    EXPECT_EQ(found.count("latency"), 0u);
    EXPECT_FALSE(found["brltty"].ok);
    EXPECT_TRUE(found["unstable-name"].ok);
    // A legacy port is not a USB adapter: brltty leaves it alone.
    found = ByCode(doctor::CheckPort(7, "/dev/ttyS0", fix.roots));
    EXPECT_TRUE(found["brltty"].ok) << found["brltty"].detail;
    // Nothing plugged into the socket: only `missing`, and it tells what to do.
    const auto absent = doctor::CheckPort(8, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:9:1.0-port0", fix.roots);
    ASSERT_EQ(absent.size(), 1u);
    EXPECT_EQ(absent[0].check, "missing");
    EXPECT_FALSE(absent[0].ok);
    EXPECT_EQ(doctor::FirstProblem(absent), absent[0].detail + ": " + absent[0].hint);
}

TEST(DoctorChecks, MonitorFilesAndStoredImage)
{
    test::Workspace ws(8 * 1024, 0);
    auto files = ByCode(doctor::CheckStationFiles(ws.Dir(), ws.Image()));
    EXPECT_TRUE(files["monitor-files"].ok) << files["monitor-files"].detail;
    EXPECT_TRUE(files["image"].ok) << files["image"].detail;
    EXPECT_EQ(files["image"].port, 0);

    // No image stored is a failure; so is one with a damaged block.
    files = ByCode(doctor::CheckStationFiles(ws.Dir(), ""));
    EXPECT_FALSE(files["image"].ok);
    std::vector<std::string> lines = ws.ImageLines();
    ASSERT_GE(lines.size(), 2u);
    lines[0][20] = lines[0][20] == '0' ? '1' : '0';
    const std::string damaged = ws.Dir() + "/damaged.cp64";
    {
        std::ofstream out(damaged);
        for (const std::string& line : lines)
            out << line << "\n";
    }
    files = ByCode(doctor::CheckStationFiles(ws.Dir(), damaged));
    EXPECT_FALSE(files["image"].ok);
    EXPECT_NE(files["image"].detail.find("line 1"), std::string::npos) << files["image"].detail;
    files = ByCode(doctor::CheckStationFiles(ws.Dir(), ws.Dir()));
    EXPECT_FALSE(files["image"].ok) << "a folder is no image";

    // A map without the entry point, then a missing program file.
    std::ofstream(ws.Dir() + "/monitor_ul_bs.map") << "no entry here\n";
    files = ByCode(doctor::CheckStationFiles(ws.Dir(), ws.Image()));
    EXPECT_FALSE(files["monitor-files"].ok);
    EXPECT_NE(files["monitor-files"].detail.find("ENTRY POINT SYMBOL"), std::string::npos);
    std::filesystem::remove(ws.Dir() + "/monitor_ul_bs.m0");
    files = ByCode(doctor::CheckStationFiles(ws.Dir(), ws.Image()));
    EXPECT_NE(files["monitor-files"].detail.find("monitor_ul_bs.m0 is missing"), std::string::npos);
}

TEST(DoctorProgram, JsonFindingsForThisMachinesDevicesAndFiles)
{
    test::Workspace ws(8 * 1024, 0);
    test::Pty pty;
    const std::string plain = ws.Dir() + "/plain-file";
    std::ofstream(plain) << "x";
    WriteProfile(ws.Dir(), "[MainSW]\nName=" + ws.Image() + "\n");
    auto result = Doctor(ws.Dir(), {"--json", "--port", "5=/dev/ttyUSB97", "--port", "6=/dev/null", "--port",
                                    "7=" + plain, "--port", "200=" + pty.SlavePath()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const auto findings = ParseJson(result.out);

    ASSERT_NE(Find(findings, "5", "missing"), nullptr);
    EXPECT_FALSE(Find(findings, "5", "missing")->ok);
    EXPECT_EQ(Find(findings, "5", "missing")->device, "\"/dev/ttyUSB97\"");
    EXPECT_EQ(Find(findings, "5", "not-a-tty"), nullptr) << "nothing more to check on a missing device";
    ASSERT_NE(Find(findings, "6", "not-a-tty"), nullptr);
    EXPECT_FALSE(Find(findings, "6", "not-a-tty")->ok);
    ASSERT_NE(Find(findings, "7", "not-a-tty"), nullptr);
    EXPECT_FALSE(Find(findings, "7", "not-a-tty")->ok);
    for (const char* code : {"missing", "not-a-tty", "permission", "held", "unstable-name"}) {
        const JsonFinding* f = Find(findings, "200", code);
        ASSERT_NE(f, nullptr) << code;
        EXPECT_TRUE(f->ok) << code << ": " << f->detail;
        EXPECT_EQ(f->hint, "");
    }
    for (const char* code : {"monitor-files", "image"}) {
        const JsonFinding* f = Find(findings, "null", code);
        ASSERT_NE(f, nullptr) << code;
        EXPECT_TRUE(f->ok) << f->detail;
        EXPECT_EQ(f->device, "null");
    }

    // Everything in order: exit 0. Without a stored image: a failing `image` finding.
    result = Doctor(ws.Dir(), {"--json", "--port", "9=" + pty.SlavePath()});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    WriteProfile(ws.Dir(), "[Port]\nm_intPort1=1\n");
    result = Doctor(ws.Dir(), {"--json"});
    EXPECT_EQ(result.exitCode, 1);
    const auto noImage = ParseJson(result.out);
    ASSERT_NE(Find(noImage, "null", "image"), nullptr);
    EXPECT_FALSE(Find(noImage, "null", "image")->ok);
    ASSERT_NE(Find(noImage, "5", "missing"), nullptr) << "the enabled row's default device /dev/ttyS4";
    EXPECT_EQ(Find(noImage, "5", "missing")->device, "\"/dev/ttyS4\"");
}

TEST(DoctorProgram, ProgramHoldingTheDeviceIsNamed)
{
    test::Workspace ws(4 * 1024, 0);
    test::Pty pty;
    // This test process holds the device, as a terminal program would.
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const auto result = Doctor(ws.Dir(), {"--json", "--port", "5=" + pty.SlavePath()});
    ::close(fd);
    const auto findings = ParseJson(result.out);
    const JsonFinding* f = Find(findings, "5", "held");
    ASSERT_NE(f, nullptr) << result.out;
    EXPECT_FALSE(f->ok);
    EXPECT_NE(f->detail.find("(pid " + std::to_string(::getpid()) + ")"), std::string::npos) << f->detail;
    EXPECT_NE(f->hint.find("close "), std::string::npos) << f->hint;

    // Released: the check passes.
    const auto again = ParseJson(Doctor(ws.Dir(), {"--json", "--port", "5=" + pty.SlavePath()}).out);
    ASSERT_NE(Find(again, "5", "held"), nullptr);
    EXPECT_TRUE(Find(again, "5", "held")->ok);
}

TEST(DoctorProgram, UnprivilegedUserIsToldAboutTheDialoutGroup)
{
    if (::geteuid() != 0 || !::getpwnam("nobody"))
        GTEST_SKIP() << "needs root to run as the user nobody";
    test::Workspace ws(4 * 1024, 0);
    ::chmod(ws.Dir().c_str(), 0755);
    test::Pty pty;  // a pseudo-terminal belongs to root, mode 0620: nobody may not read it
    const auto result = Doctor(ws.Dir(), {"--json", "--port", "5=" + pty.SlavePath()}, "nobody");
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const auto findings = ParseJson(result.out);
    const JsonFinding* f = Find(findings, "5", "permission");
    ASSERT_NE(f, nullptr) << result.out << result.err;
    EXPECT_FALSE(f->ok);
    EXPECT_NE(f->detail.find("nobody"), std::string::npos) << f->detail;
    EXPECT_NE(f->hint.find("dialout"), std::string::npos) << f->hint;
}
