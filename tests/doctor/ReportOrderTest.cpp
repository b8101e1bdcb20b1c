// The preflight report read at a glance: findings grouped per port and for the station's files,
// the worst problem first, passes after the problems; and tarvo-cli doctor's human form: one
// line for a port that passed, each problem with its fix in full.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "cli/RunProgram.h"
#include "doctor/Doctor.h"
#include "e2e/Harness.h"
#include "support/Pty.h"

namespace tarvo {
namespace {

doctor::Finding Found(int port, const char* check, bool ok)
{
    doctor::Finding f;
    f.port = port;
    f.device = port > 0 ? "/dev/ttyUSB" + std::to_string(port) : std::string();
    f.check = check;
    f.ok = ok;
    return f;
}

std::vector<std::string> Checks(const std::vector<doctor::Finding>& findings)
{
    std::vector<std::string> codes;
    for (const doctor::Finding& f : findings)
        codes.push_back(f.check);
    return codes;
}

TEST(DoctorReport, GroupsPerPortWorstFirstAndProblemsBeforePasses)
{
    using namespace doctor;
    const std::vector<Finding> findings = {
        Found(5, kCheckMissing, true),       Found(5, kCheckUnstableName, false), Found(5, kCheckLatency, true),
        Found(6, kCheckMissing, true),       Found(6, kCheckHeld, true),
        Found(7, kCheckMissing, true),       Found(7, kCheckUnstableName, false), Found(7, kCheckPermission, false),
        Found(0, kCheckMonitorFiles, false), Found(0, kCheckImage, true),
    };
    const std::vector<FindingGroup> groups = GroupFindings(findings);
    ASSERT_EQ(groups.size(), 4u);
    // COM7's permission problem is worse than the station's missing monitor files, which are
    // worse than COM5's unstable name; COM6 passed and comes last.
    EXPECT_EQ(groups[0].port, 7);
    EXPECT_EQ(Checks(groups[0].problems), (std::vector<std::string>{kCheckPermission, kCheckUnstableName}));
    EXPECT_EQ(Checks(groups[0].passed), (std::vector<std::string>{kCheckMissing}));
    EXPECT_EQ(groups[1].port, 0);
    EXPECT_EQ(groups[2].port, 5);
    EXPECT_EQ(Checks(groups[2].passed), (std::vector<std::string>{kCheckMissing, kCheckLatency}));
    EXPECT_EQ(groups[3].port, 6);
    EXPECT_TRUE(groups[3].problems.empty());
}

TEST(DoctorReport, FormsFillToTheEnglishTextsAndEveryCheckHasAName)
{
    EXPECT_EQ(doctor::Fill("%1 is held by %2", {"/dev/ttyUSB0", "minicom (pid 7)"}),
              "/dev/ttyUSB0 is held by minicom (pid 7)");
    // An argument's own marker stays as it is; a marker without an argument too.
    EXPECT_EQ(doctor::Fill("use %1 for COM%2", {"/dev/odd%2name", "5"}), "use /dev/odd%2name for COM5");
    EXPECT_EQ(doctor::Fill("%1 and %3", {"a"}), "a and %3");
    const auto findings = doctor::CheckPort(5, "/dev/ttyUSB97");
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(doctor::Fill(findings[0].detailText.form, findings[0].detailText.args), findings[0].detail);
    EXPECT_EQ(doctor::Fill(findings[0].hintText.form, findings[0].hintText.args), findings[0].hint);
    for (const char* code : {doctor::kCheckMissing, doctor::kCheckNotATty, doctor::kCheckPermission, doctor::kCheckHeld,
                             doctor::kCheckUnstableName, doctor::kCheckModemManager, doctor::kCheckBrltty,
                             doctor::kCheckLatency, doctor::kCheckMonitorFiles, doctor::kCheckImage}) {
        // A name of its own from the table, not the code given back.
        const std::string given = code;
        EXPECT_NE(doctor::CheckName(given), given.c_str()) << code;
    }
    const std::string unknown = "no-such-check";
    EXPECT_EQ(doctor::CheckName(unknown), unknown.c_str());
}

TEST(DoctorReport, HumanFormHasOneLinePerPassingPortAndEveryFixInFull)
{
    test::Workspace ws(8 * 1024, 0);
    test::Pty pty;
    const std::string plain = ws.Dir() + "/plain-file";
    std::ofstream(plain) << "x";
    ::setenv("XDG_CONFIG_HOME", (ws.Dir() + "/config").c_str(), 1);
    const test::ProgramResult result = test::RunProgram(
        TARVO_CLI_PATH, {"doctor", "--port", "5=" + pty.SlavePath(), "--port", "6=/dev/ttyUSB97", "--port", "7=" + plain},
        ws.Dir());
    EXPECT_EQ(result.exitCode, 1);
    std::vector<std::string> lines;
    std::string line;
    for (const char c : result.out) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    ASSERT_GE(lines.size(), 6u) << result.out;
    // The missing device first, then the plain file, then the station's files (no image
    // stored); the terminal that passed is one line, after them.
    EXPECT_EQ(lines[0], "COM6 /dev/ttyUSB97: 1 of 1 checks failed") << result.out;
    std::size_t com7 = 0, files = 0, com5 = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("COM7 ", 0) == 0)
            com7 = i;
        if (lines[i].rfind("Station files: ", 0) == 0)
            files = i;
        if (lines[i].rfind("COM5 ", 0) == 0)
            com5 = i;
    }
    EXPECT_LT(0u, com7);
    EXPECT_LT(com7, files);
    EXPECT_LT(files, com5);
    EXPECT_EQ(lines[com5], "COM5 " + pty.SlavePath() + ": ok (5 checks passed)") << result.out;
    // Every fix in full, on the line under its problem.
    const auto missing = doctor::CheckPort(6, "/dev/ttyUSB97");
    EXPECT_NE(result.out.find("  FAIL  device present   /dev/ttyUSB97 does not exist"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("fix: " + missing[0].hint + "\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("fix: choose the main software file (.m0) in the station, or convert it: tarvo-cli "
                              "convert FILE.m0\n"),
              std::string::npos)
        << result.out;
}

}  // namespace
}  // namespace tarvo
