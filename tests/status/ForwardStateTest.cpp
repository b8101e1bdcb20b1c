// The station's page and metrics follow its forwarder: while the line database is away a
// continuous station shows the records that wait and why; once the server is back they drain
// and the time of the last successful forward is shown.

#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "e2e/Harness.h"
#include "record/PgServer.h"
#include "status/StatusHarness.h"
#include "tools/sim/TargetSim.h"

using namespace tarvo;
using namespace tarvo::test;

namespace {

double Metric(const std::string& metrics, const std::string& name)
{
    std::smatch m;
    if (!std::regex_search(metrics, m, std::regex(name + R"(\{[^}]*\} ([0-9.e+-]+)\n)")))
        return -1;
    return std::stod(m[1].str());
}

}  // namespace

TEST(StatusForwarding, PageShowsWaitingRecordsUntilTheLineDatabaseTakesThem)
{
    if (!PgServer::Available())
        GTEST_SKIP() << "PostgreSQL 15 is not installed";
    PgServer server;
    ASSERT_TRUE(server.Error().empty()) << server.Error();
    ASSERT_TRUE(server.Stop());  // away when the station starts

    Workspace workspace(16 * 1024);
    sim::SimConfig config;
    config.baud = 115200;
    config.eraseTime = std::chrono::milliseconds(100);
    sim::TargetSim handset(config);
    std::string error;
    ASSERT_TRUE(handset.Start(error)) << error;
    const int port = FreePort();
    Child cli(TARVO_CLI_PATH,
              {"flash", "--continuous", "--image", workspace.Image(), "--port", "5=" + handset.DevicePath(), "--record",
               workspace.Dir() + "/records.sqlite", "--forward", server.Url(), "--listen", std::to_string(port)},
              workspace.Dir());
    ASSERT_TRUE(WaitFor([&] { return Get(port, "/api/status").status == 200 || !cli.Running(); }, 10s)) << cli.Err();

    // The run passes and its record waits: the page says so, with the server's refusal.
    std::string metrics;
    ASSERT_TRUE(WaitFor(
        [&] {
            metrics = Get(port, "/metrics").body;
            return Metric(metrics, "tarvo_forward_pending") == 1;
        },
        30s, 200ms))
        << metrics << cli.Err();
    EXPECT_EQ(Metric(metrics, "tarvo_forward_last_success_timestamp_seconds"), 0) << metrics;
    const std::string waiting = Get(port, "/api/status").body;
    EXPECT_TRUE(std::regex_search(waiting, std::regex(R"("forward":\{[^}]*"pending":1[^}]*"problem":"[^"]+")")))
        << waiting;

    // The server returns: the record is forwarded while the station still runs.
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(WaitFor(
        [&] {
            metrics = Get(port, "/metrics").body;
            return Metric(metrics, "tarvo_forward_pending") == 0 &&
                   Metric(metrics, "tarvo_forward_last_success_timestamp_seconds") > 1.7e9;
        },
        60s, 250ms))
        << metrics << cli.Err();
    const std::string drained = Get(port, "/api/status").body;
    EXPECT_TRUE(std::regex_search(drained, std::regex(R"("forward":\{[^}]*"problem":null)"))) << drained;

    cli.Signal(SIGTERM);
    EXPECT_EQ(cli.Wait(20s), 0) << cli.Err();
}
