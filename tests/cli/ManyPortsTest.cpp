// tarvo-cli flash with 64 ports at once, numbered up to COM255: every port runs to PASS.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/RunProgram.h"
#include "e2e/Harness.h"
#include "tools/sim/TargetSim.h"

using namespace std::chrono_literals;
using namespace tarvo;

TEST(CliManyPorts, SixtyFourPortsUpToCom255AllComplete)
{
    test::Workspace workspace(4 * 1024, 0);
    std::vector<std::unique_ptr<sim::TargetSim>> handsets;
    std::vector<std::string> args = {"flash", "--json", "--image", workspace.Image()};
    for (int i = 0; i < 64; ++i) {
        sim::SimConfig config;
        config.loader = i % 2 ? sim::Loader::Flashloader : sim::Loader::Bootloader;
        config.version1 = i % 2 ? 1 : 3;
        config.version2 = i % 2 ? 0x25 : 12;
        config.eraseTime = 10ms;
        config.wireLogLimit = 0;
        auto handset = std::make_unique<sim::TargetSim>(config);
        std::string error;
        ASSERT_TRUE(handset->Start(error)) << error;
        args.push_back("--port");
        args.push_back(std::to_string(192 + i) + "=" + handset->DevicePath());
        handsets.push_back(std::move(handset));
    }
    ::setenv("XDG_CONFIG_HOME", (workspace.Dir() + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (workspace.Dir() + "/data").c_str(), 1);  // the runs' record
    const auto result = test::RunProgram(TARVO_CLI_PATH, args, workspace.Dir());
    EXPECT_EQ(result.exitCode, 0) << result.err;

    const std::regex end(R"re(^\{"port":(\d+),"end":"([A-Z ]+)"\}$)re");
    std::map<int, std::string> ends;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, end))
            ends[std::stoi(m[1])] = m[2];
    }
    ASSERT_EQ(ends.size(), 64u) << result.err;
    for (const auto& [port, word] : ends) {
        EXPECT_GE(port, 192);
        EXPECT_LE(port, 255);
        EXPECT_EQ(word, "COMPLETE") << "COM" << port;
    }
    for (const auto& handset : handsets)
        EXPECT_EQ(handset->Status().cyclesFinished, 1u);
}
