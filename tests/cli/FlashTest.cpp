// tarvo-cli flash as a program: its JSON Lines contract, its exit status and its handling of
// ports whose target never answers, against simulated handsets.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "e2e/Harness.h"
#include "tools/sim/TargetSim.h"

using namespace std::chrono_literals;
using namespace tarvo;

namespace {

struct Output {
    int exitStatus = -1;
    std::vector<std::string> lines;
};

Output RunCli(const std::string& dir, const std::string& arguments)
{
    std::string command = "cd '" + dir + "' && XDG_CONFIG_HOME='" + dir + "/config' " TARVO_CLI_PATH " " + arguments;
    Output out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    std::string line;
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        line += buffer;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            out.lines.push_back(line);
            line.clear();
        }
    }
    int status = ::pclose(pipe);
    out.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::unique_ptr<sim::TargetSim> Handset(sim::SimFaults faults = {})
{
    sim::SimConfig config;
    config.loader = sim::Loader::Flashloader;
    config.version1 = 1;
    config.version2 = 0x25;
    config.eraseTime = 100ms;
    config.faults = faults;
    auto handset = std::make_unique<sim::TargetSim>(config);
    std::string error;
    EXPECT_TRUE(handset->Start(error)) << error;
    return handset;
}

// One JSON object per line, with exactly the fields of one of the three kinds.
const std::regex kStatus(R"re(^\{"port":(\d+),"status":(\d+),"text":"((?:[^"\\]|\\.)*)"\}$)re");
const std::regex kProgress(R"re(^\{"port":(\d+),"progress":(\d+),"position":(\d+),"size":(\d+)\}$)re");
const std::regex kEnd(R"re(^\{"port":(\d+),"end":"(COMPLETE|ERROR|NO TARGET)"\}$)re");

}  // namespace

TEST(CliFlash, JsonLinesFollowTheContract)
{
    test::Workspace workspace(20 * 1024, 8 * 1024);
    auto good = Handset();
    sim::SimFaults writeError;
    writeError.finalResult = 3;
    auto bad = Handset(writeError);
    Output out = RunCli(workspace.Dir(), "flash --json --image '" + workspace.Image() + "' --port 5=" +
                                             good->DevicePath() + " --port 7=" + bad->DevicePath());
    EXPECT_EQ(out.exitStatus, 1) << "one port did not complete";

    std::map<int, std::vector<std::string>> statuses;
    std::map<int, std::string> ends;
    std::map<int, int> lastPercent;
    for (const std::string& line : out.lines) {
        std::smatch m;
        if (std::regex_match(line, m, kStatus)) {
            int port = std::stoi(m[1]);
            EXPECT_FALSE(ends.count(port)) << "nothing after the end: " << line;
            statuses[port].push_back(m[2].str() + " " + m[3].str());
        } else if (std::regex_match(line, m, kProgress)) {
            int port = std::stoi(m[1]);
            EXPECT_FALSE(ends.count(port)) << line;
            int percent = std::stoi(m[2]);
            EXPECT_GE(percent, lastPercent[port]);
            lastPercent[port] = percent;
            EXPECT_EQ(std::stoll(m[2]), std::stoll(m[3]) * 100 / std::stoll(m[4]));
        } else if (std::regex_match(line, m, kEnd)) {
            int port = std::stoi(m[1]);
            EXPECT_FALSE(ends.count(port)) << "one end per port";
            ends[port] = m[2];
        } else {
            ADD_FAILURE() << "not a report line: " << line;
        }
    }
    EXPECT_EQ(ends[5], "COMPLETE");
    EXPECT_EQ(ends[7], "ERROR");
    EXPECT_EQ(lastPercent[5], 100);
    ASSERT_EQ(statuses[5].size(), 3u);
    EXPECT_EQ(statuses[5][0], "1 The flashloader is running. Version 1.2.5.");
    EXPECT_EQ(statuses[5][1], "0 Download Reday End !");
    EXPECT_EQ(statuses[5][2].rfind("20 PASS - Checksum: [", 0), 0u);
    ASSERT_FALSE(statuses[7].empty());
    EXPECT_EQ(statuses[7].back(), "25 \\rError while writing into the flash memory !") << "the carriage return is escaped";
}

TEST(CliFlash, WaitGivesUpOnSilentPortsAndHumanOutputSummarises)
{
    test::Workspace workspace(4 * 1024, 0);
    sim::SimFaults never;
    never.identifyNever = true;
    auto silent = Handset(never);
    auto good = Handset();
    Output out = RunCli(workspace.Dir(), "flash --wait 1 --image '" + workspace.Image() + "' --port 6=" +
                                             silent->DevicePath() + " --port 5=" + good->DevicePath());
    EXPECT_EQ(out.exitStatus, 1);
    std::string all;
    for (const std::string& line : out.lines)
        all += line + "\n";
    EXPECT_NE(all.find("COM5 [1] The flashloader is running. Version 1.2.5."), std::string::npos) << all;
    EXPECT_NE(all.find("COM5 [20] PASS - Checksum: ["), std::string::npos) << all;
    EXPECT_NE(all.find("COM5 progress 100 %"), std::string::npos) << all;
    EXPECT_NE(all.find("COM6    NO TARGET"), std::string::npos) << all;
    EXPECT_NE(all.find("COM5    COMPLETE"), std::string::npos) << all;
}

TEST(CliFlash, UsageAndStartErrors)
{
    test::Workspace workspace(1024, 0);
    EXPECT_EQ(RunCli(workspace.Dir(), "flash 2>/dev/null").exitStatus, 2);
    EXPECT_EQ(RunCli(workspace.Dir(), "flash --image a --main b 2>/dev/null").exitStatus, 2);
    EXPECT_EQ(RunCli(workspace.Dir(), "flash --image x --port 5=").exitStatus, 2);
    EXPECT_EQ(RunCli(workspace.Dir(), "flash --image x --port zero 2>/dev/null").exitStatus, 2);
    Output missing = RunCli(workspace.Dir(), "flash --image /nonexistent.cp64 --port 5 2>&1");
    EXPECT_EQ(missing.exitStatus, 1);
    ASSERT_FALSE(missing.lines.empty());
    EXPECT_EQ(missing.lines[0], "error: /nonexistent.cp64: cannot open: No such file or directory");
    Output noPorts = RunCli(workspace.Dir(), "flash --image '" + workspace.Image() + "' 2>&1");
    EXPECT_EQ(noPorts.exitStatus, 1);
    Output openFails = RunCli(workspace.Dir(), "flash --image '" + workspace.Image() + "' --port 5=/dev/tarvo-none");
    EXPECT_EQ(openFails.exitStatus, 1);
    std::string all;
    for (const std::string& line : openFails.lines)
        all += line + "\n";
    EXPECT_NE(all.find("COM5 Serial Port Open Failed... (/dev/tarvo-none: no such device)"), std::string::npos) << all;
}

TEST(CliFlash, PortsComeFromTheProfileWhenNotGiven)
{
    test::Workspace workspace(4 * 1024, 0);
    auto handset = Handset();
    std::string config = workspace.Dir() + "/config/Local AppWizard-Generated Applications";
    std::filesystem::create_directories(config);
    std::FILE* f = std::fopen((config + "/Tarvo.conf").c_str(), "w");
    std::fprintf(f, "[Device]\nCOM6=%s\n\n[Port]\nm_intPort1=0\nm_intPort2=1\nm_intPort3=5\n", handset->DevicePath().c_str());
    std::fclose(f);
    Output out = RunCli(workspace.Dir(), "flash --json --main main.m0");
    EXPECT_EQ(out.exitStatus, 0);
    ASSERT_FALSE(out.lines.empty());
    EXPECT_EQ(out.lines.back(), "{\"port\":6,\"end\":\"COMPLETE\"}");
}

TEST(CliDemo, EightSimulatedHandsetsPass)
{
    Output out = RunCli("/tmp", "demo --json --size 8");
    EXPECT_EQ(out.exitStatus, 0);
    int complete = 0;
    for (const std::string& line : out.lines)
        if (line.find("\"end\":\"COMPLETE\"") != std::string::npos)
            ++complete;
    EXPECT_EQ(complete, 8);
}
