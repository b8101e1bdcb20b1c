// A real Prometheus server (Debian's prometheus, started here in a temporary folder on a free
// loopback port) scrapes a continuous station every second while it flashes simulated
// handsets; its query API then returns the station's runs by result.

#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <memory>
#include <regex>

#include "e2e/Harness.h"
#include "status/StatusHarness.h"
#include "tools/sim/TargetSim.h"

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr char kPrometheus[] = "/usr/bin/prometheus";

// The body of Prometheus's answer to the instant query `promql` ("" when it does not answer).
std::string Query(int port, const std::string& promql)
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2);
    client.set_read_timeout(5);
    const auto res = client.Get("/api/v1/query", httplib::Params{{"query", promql}}, httplib::Headers{});
    return res ? res->body : std::string();
}

// The value Prometheus's instant query result gives for the series with label result="word"
// ("" when there is none).
std::string ValueOf(const std::string& body, const std::string& word)
{
    const std::regex series("\\{\"metric\":\\{\"result\":\"" + word + "\"\\},\"value\":\\[[0-9.]+,\"([0-9.]+)\"\\]\\}");
    std::smatch m;
    return std::regex_search(body, m, series) ? m[1].str() : std::string();
}

}  // namespace

TEST(StatusPrometheus, ScrapesTheRunsOfAStationByResult)
{
    if (::access(kPrometheus, X_OK) != 0)
        GTEST_SKIP() << kPrometheus << " is not installed (Debian package prometheus)";
    Workspace workspace(16 * 1024);
    std::vector<std::unique_ptr<sim::TargetSim>> handsets;
    for (int i = 0; i < 3; ++i) {
        sim::SimConfig config;
        config.baud = 115200;
        config.eraseTime = std::chrono::milliseconds(300);
        handsets.push_back(std::make_unique<sim::TargetSim>(config));
        std::string error;
        ASSERT_TRUE(handsets.back()->Start(error)) << error;
    }
    // A device that is a plain file: its port's run ends ERROR (it cannot be opened as a port).
    const std::string notSerial = workspace.Dir() + "/not-a-serial-port";
    std::ofstream(notSerial) << "x";

    const int stationPort = FreePort();
    Child station(TARVO_CLI_PATH,
                  {"flash", "--continuous", "--image", workspace.Image(), "--port", "5=" + handsets[0]->DevicePath(),
                   "--port", "6=" + handsets[1]->DevicePath(), "--port", "7=" + handsets[2]->DevicePath(), "--port",
                   "8=" + notSerial, "--record", workspace.Dir() + "/records.sqlite", "--listen",
                   "127.0.0.1:" + std::to_string(stationPort)},
                  workspace.Dir(), "station");

    TempDir prometheusDir;
    const int prometheusPort = FreePort();
    std::ofstream(prometheusDir.Path() + "/prometheus.yml")
        << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
        << "scrape_configs:\n  - job_name: tarvo\n    static_configs:\n      - targets: ['127.0.0.1:" << stationPort
        << "']\n";
    Child prometheus(kPrometheus,
                     {"--config.file=" + prometheusDir.Path() + "/prometheus.yml",
                      "--storage.tsdb.path=" + prometheusDir.Path() + "/data",
                      "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort), "--log.level=warn"},
                     prometheusDir.Path(), "prometheus");

    const std::string query = "sum by (result) (tarvo_runs_total{job=\"tarvo\"})";
    std::string body;
    const bool scraped = WaitFor(
        [&] {
            body = Query(prometheusPort, query);
            return ValueOf(body, "PASS") == "3" && ValueOf(body, "ERROR") == "1";
        },
        45s, 500ms);
    EXPECT_TRUE(scraped) << "last answer: " << body << "\nstation: " << station.Err()
                         << "\nprometheus: " << prometheus.Err();
    // The scrape itself is healthy, and the station says which image it flashes.
    const std::string up = Query(prometheusPort, "up{job=\"tarvo\"}");
    EXPECT_NE(up.find("\"value\":["), std::string::npos) << up;
    EXPECT_NE(up.find(",\"1\"]"), std::string::npos) << up;

    prometheus.Signal(SIGTERM);
    EXPECT_GE(prometheus.Wait(15s), 0);
    station.Signal(SIGTERM);
    // Exit 1: the port whose device is not a serial port failed.
    EXPECT_EQ(station.Wait(15s), 1) << station.Err();
}
