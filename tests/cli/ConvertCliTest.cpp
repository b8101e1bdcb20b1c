// tarvo-cli convert and the command dispatcher, run as a child process.
#include <gtest/gtest.h>

#include <string>

#include "cli/RunProgram.h"
#include "image/ImageFiles.h"
#include "image/InvalidInputs.h"

namespace tarvo {
namespace {

using test::ReadFile;
using test::RunProgram;
using test::WriteFile;

const std::string kCli = TARVO_CLI_PATH;
constexpr char kExample[] =
    "S0030000FC\nS3090000100001020304DC\nS3090000100405060708C8\nS30700002000AABB73\n"
    "S70500001000EA\n";
constexpr char kExampleImage[] =
    "S3000D000010000102030405060708BE\nS3000700002000AABB73\nS70500001000EA\n";

TEST(CliConvert, PrintsTheImagePath) {
    test::TempDir dir;
    WriteFile(dir / "main.m0", kExample);
    const auto result = RunProgram(kCli, {"convert", dir / "main.m0"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, (dir / "main.cp64") + "\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReadFile(dir / "main.cp64"), kExampleImage);

    // A relative path gives a relative image path.
    const auto relative = RunProgram(kCli, {"convert", "--", "main.m0"}, dir.Path());
    EXPECT_EQ(relative.exitCode, 0);
    EXPECT_EQ(relative.out, "main.cp64\n");
}

TEST(CliConvert, RejectedFileGivesOneErrorLineAndKeepsTheImage) {
    for (const test::InvalidInput& input : test::InvalidInputs()) {
        SCOPED_TRACE(input.name);
        test::TempDir dir;
        WriteFile(dir / "main.m0", input.content);
        WriteFile(dir / "main.cp64", kExampleImage);
        const auto result = RunProgram(kCli, {"convert", dir / "main.m0"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "error: " + (dir / "main.m0") + ":" + std::to_string(input.line) +
                                  ": " + input.reason + "\n");
        EXPECT_EQ(ReadFile(dir / "main.cp64"), kExampleImage);
        EXPECT_EQ(dir.Entries(), (std::set<std::string>{"main.m0", "main.cp64"}));
    }
}

TEST(CliConvert, FileErrorsWithoutALine) {
    test::TempDir dir;
    auto result = RunProgram(kCli, {"convert", dir / "none.m0"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "error: " + (dir / "none.m0") + ": cannot open: No such file or directory\n");

    WriteFile(dir / "PHONE.M0", kExample);
    result = RunProgram(kCli, {"convert", dir / "PHONE.M0"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "error: " + (dir / "PHONE.M0") + ": the file name does not contain \".m0\"\n");
    EXPECT_EQ(dir.Entries(), (std::set<std::string>{"PHONE.M0"}));

    // A control character in the file name cannot split the error line.
    result = RunProgram(kCli, {"convert", dir / "a\nb.m0"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "error: " + (dir / "a\\x0Ab.m0") + ": cannot open: No such file or directory\n");
}

TEST(CliUsage, WrongCommandLinesExitWithTwo) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"frobnicate"}, {"convert"}, {"convert", "a.m0", "b.m0"},
          {"convert", "--force", "a.m0"}}) {
        const auto result = RunProgram(kCli, args);
        EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("usage: tarvo-cli "), std::string::npos) << result.err;
    }
}

TEST(CliUsage, HelpListsTheCommands) {
    for (const char* help : {"help", "--help", "-h"}) {
        const auto result = RunProgram(kCli, {help});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.out.find("convert FILE"), std::string::npos) << result.out;
        EXPECT_EQ(result.err, "");
    }
    const auto result = RunProgram(kCli, {"convert", "--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out.rfind("usage: tarvo-cli convert FILE\n", 0), 0u) << result.out;
}

}  // namespace
}  // namespace tarvo
