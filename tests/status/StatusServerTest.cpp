// tarvo-cli flash --listen against simulated handsets: the event stream carries exactly the
// lines --json prints and ends with the last runs' end lines and records; the status object
// describes the station; requests that are not plain GETs of the endpoints are refused with
// 4xx while the runs go on to PASS; at most 32 event streams are served at once; a second
// station cannot take a port that one already serves.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>

#include "e2e/Harness.h"
#include "status/StatusHarness.h"
#include "tools/sim/TargetSim.h"

using namespace tarvo;
using namespace tarvo::test;

namespace {

std::unique_ptr<sim::TargetSim> StartHandset(sim::Loader loader)
{
    sim::SimConfig config;
    config.loader = loader;
    if (loader == sim::Loader::Flashloader) {
        config.version1 = 1;
        config.version2 = 0x25;
    }
    config.baud = 115200;
    config.eraseTime = std::chrono::milliseconds(300);
    auto handset = std::make_unique<sim::TargetSim>(config);
    std::string error;
    EXPECT_TRUE(handset->Start(error)) << error;
    return handset;
}

bool ServerUp(int port) { return Get(port, "/api/status").status == 200; }

}  // namespace

TEST(StatusServer, EventsCarryTheJsonLinesAndTheLastRecords)
{
    Workspace workspace(48 * 1024);
    auto first = StartHandset(sim::Loader::Bootloader);
    auto second = StartHandset(sim::Loader::Flashloader);
    const int port = FreePort();
    const std::string label = "unit \"7\" <b>&amp;";
    Child cli(TARVO_CLI_PATH,
              {"flash", "--image", workspace.Image(), "--port", "5=" + first->DevicePath(), "--port",
               "6=" + second->DevicePath(), "--json", "--record", workspace.Dir() + "/records.sqlite", "--listen",
               "127.0.0.1:" + std::to_string(port)},
              workspace.Dir());
    ASSERT_TRUE(WaitFor([&] { return ServerUp(port) || !cli.Running(); }, 10s)) << cli.Err();
    ASSERT_TRUE(cli.Running()) << cli.Err();
    EventStream events(port);

    // The station as one object: its ports, devices and image.
    const HttpReply status = Get(port, "/api/status");
    EXPECT_NE(status.headers.find("Content-Security-Policy: default-src 'self'"), std::string::npos);
    EXPECT_NE(status.body.find("\"port\":5,\"device\":\"" + first->DevicePath() + "\",\"location\":null"),
              std::string::npos)
        << status.body;
    EXPECT_NE(status.body.find("\"sha256\":\""), std::string::npos) << status.body;

    ASSERT_EQ(cli.Wait(60s), 0) << cli.Err();
    ASSERT_TRUE(events.WaitEnded(3s));
    const auto received = events.Events();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front().first, "status");

    // The reports are the lines --json printed from the moment the stream began, in order.
    std::vector<std::string> reports;
    std::vector<std::string> records;
    for (const auto& [name, data] : received) {
        if (name == "report")
            reports.push_back(data);
        else if (name == "record")
            records.push_back(data);
    }
    const std::vector<std::string> printed = Lines(cli.Out());
    ASSERT_FALSE(reports.empty());
    ASSERT_LE(reports.size(), printed.size());
    EXPECT_TRUE(std::equal(reports.begin(), reports.end(), printed.end() - static_cast<long>(reports.size())))
        << "events:\n" << reports.front() << "\n...\n" << reports.back() << "\nprinted:\n" << cli.Out();
    // The last events reached the client before the program ended: both end lines, both records.
    EXPECT_NE(std::find(reports.begin(), reports.end(), R"({"port":5,"end":"COMPLETE"})"), reports.end());
    EXPECT_NE(std::find(reports.begin(), reports.end(), R"({"port":6,"end":"COMPLETE"})"), reports.end());
    ASSERT_EQ(records.size(), 2u);
    for (const std::string& record : records) {
        EXPECT_NE(record.find("\"result\":\"PASS\""), std::string::npos) << record;
        EXPECT_NE(record.find("\"run_id\":\""), std::string::npos) << record;
    }
    // Nothing was left on the port after the program ended.
    EXPECT_FALSE(ServerUp(port));
}

TEST(StatusServer, ContinuousStationRefusesBadRequestsAndItsRunsGoOn)
{
    Workspace workspace(32 * 1024);
    auto handset = StartHandset(sim::Loader::Bootloader);
    const int port = FreePort();
    const std::string absent = workspace.Dir() + "/absent-device";
    Child cli(TARVO_CLI_PATH,
              {"flash", "--continuous", "--image", workspace.Image(), "--port", "5=" + handset->DevicePath(), "--port",
               "6=" + absent, "--record", workspace.Dir() + "/records.sqlite", "--listen",
               std::to_string(port)},
              workspace.Dir());
    ASSERT_TRUE(WaitFor([&] { return ServerUp(port) || !cli.Running(); }, 10s)) << cli.Err();
    EventStream events(port);

    // Bad requests: refused, nothing else changes.
    EXPECT_EQ(Request(port, "POST /api/status HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}").status, 405);
    EXPECT_EQ(Request(port, "DELETE / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").status, 405);
    EXPECT_EQ(Get(port, "/etc/passwd").status, 404);
    EXPECT_EQ(Get(port, "/../status").status / 100, 4);
    const std::string megabyte(1 << 20, 'a');
    const HttpReply bigBody = Request(port, "GET /api/status HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                                                std::to_string(megabyte.size()) + "\r\n\r\n" + megabyte);
    EXPECT_EQ(bigBody.status, 413);
    const HttpReply bigHeader =
        Request(port, "GET /api/status HTTP/1.1\r\nHost: x\r\nX-Filler: " + megabyte + "\r\n\r\n");
    EXPECT_TRUE(bigHeader.status == 0 || bigHeader.status / 100 == 4) << bigHeader.status;
    const HttpReply bigPath = Request(port, "GET /" + megabyte + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(bigPath.status == 0 || bigPath.status / 100 == 4) << bigPath.status;

    // 32 event streams at once, not 33.
    {
        std::vector<std::unique_ptr<Connection>> streams;
        for (int i = 0; i < 31; ++i) {  // the stream above is the 32nd
            streams.push_back(std::make_unique<Connection>(port));
            streams.back()->Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
            EXPECT_NE(streams.back()->Read(5s, "event: status").find("event: status"), std::string::npos) << i;
        }
        EXPECT_EQ(Get(port, "/events").status, 503);
    }

    std::string body;
    const bool counted = WaitFor(
        [&] {
            body = Get(port, "/api/status").body;
            return body.find("\"totals\":{\"runs\":1,\"pass\":1,") != std::string::npos;
        },
        30s, 200ms);
    EXPECT_TRUE(counted) << body << cli.Err();
    EXPECT_NE(body.find("\"port\":6,\"device\":\"" + absent + "\",\"location\":null,\"state\":\"NO DEVICE\""),
              std::string::npos)
        << body;
    EXPECT_NE(body.find("\"state\":\"COMPLETE\""), std::string::npos) << body;
    EXPECT_NE(body.find("\"units_per_hour\":1"), std::string::npos) << body;
    const std::string metrics = Get(port, "/metrics").body;
    EXPECT_NE(metrics.find(R"(tarvo_port_state{port="6",state="NO DEVICE",station=)"), std::string::npos);
    EXPECT_TRUE(std::regex_search(metrics, std::regex(R"(tarvo_runs_total\{port="5",result="PASS",station="[^"]*"\} 1\n)")))
        << metrics;
    // The handset is unplugged: its port waits for the next one, on the page too.
    handset->Stop();
    EXPECT_TRUE(WaitFor(
        [&] {
            body = Get(port, "/api/status").body;
            return body.find("\"port\":5,\"device\":\"" + handset->DevicePath() +
                             "\",\"location\":null,\"state\":\"NO DEVICE\"") != std::string::npos;
        },
        10s, 100ms))
        << body;
    cli.Signal(SIGTERM);
    EXPECT_EQ(cli.Wait(15s), 0) << cli.Err();
    // The stream that watched it all got the run's record and the port's wait for a device.
    ASSERT_TRUE(events.WaitEnded(3s));
    int records = 0;
    bool waiting = false;
    for (const auto& [name, data] : events.Events()) {
        records += name == "record";
        waiting |= name == "port" && data.find("{\"port\":5,") == 0 && data.find("\"state\":\"NO DEVICE\"") != std::string::npos;
    }
    EXPECT_EQ(records, 1);
    EXPECT_TRUE(waiting);
}

TEST(StatusServer, ListenOnAnAddressInUseFailsBeforeAnyPortOpens)
{
    Workspace workspace(8 * 1024);
    auto handset = StartHandset(sim::Loader::Bootloader);
    const int port = FreePort();
    Child holder(TARVO_CLI_PATH,
                 {"flash", "--continuous", "--image", workspace.Image(), "--port", "7=" + workspace.Dir() + "/none",
                  "--no-record", "--listen", std::to_string(port)},
                 workspace.Dir(), "holder");
    ASSERT_TRUE(WaitFor([&] { return ServerUp(port); }, 10s)) << holder.Err();
    Child second(TARVO_CLI_PATH,
                 {"flash", "--image", workspace.Image(), "--port", "5=" + handset->DevicePath(), "--no-record",
                  "--listen", "127.0.0.1:" + std::to_string(port)},
                 workspace.Dir(), "second");
    EXPECT_EQ(second.Wait(10s), 1);
    EXPECT_NE(second.Err().find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos)
        << second.Err();
    // The handset was never touched.
    EXPECT_EQ(handset->Status().bytesReceived, 0u);
    holder.Signal(SIGTERM);
    EXPECT_EQ(holder.Wait(10s), 0) << holder.Err();
}
