// The station model: a port's state words and colours follow its runs as the window's rows
// do (failures that come without a status of their own included), and units per hour counts
// the PASS records of the last hour only.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "record/RunRecord.h"
#include "status/StationModel.h"

using namespace tarvo;

namespace {

record::RunRecord Finished(int port, const char* result, int64_t totalMs)
{
    record::RunRecord r;
    r.run_id = "run-" + std::to_string(port);
    r.port = port;
    r.result = result;
    r.total_ms = totalMs;
    r.bytes_sent = 1000;
    return r;
}

const status::PortState& PortOf(const status::StationSnapshot& s, int port)
{
    for (const auto& p : s.ports)
        if (p.port == port)
            return p;
    throw std::runtime_error("no port");
}

}  // namespace

TEST(StationModel, PortStatesFollowTheRunsAsTheWindowsRows)
{
    status::StationModel model;
    model.AddPort(9, "/dev/ttyUSB0", std::nullopt);
    EXPECT_EQ(PortOf(model.Snapshot(), 9).state, "CLOSE");
    model.RunBegun(9, "run-9", "SN-1");
    EXPECT_EQ(PortOf(model.Snapshot(), 9).state, "READY");
    EXPECT_EQ(PortOf(model.Snapshot(), 9).text, "INSERT TARGET");
    model.OnStatus(9, 0, "ready", "");
    EXPECT_EQ(PortOf(model.Snapshot(), 9).state, "ERASE");
    model.OnProgress(9, 40, 400, 1000);
    auto port = PortOf(model.Snapshot(), 9);
    EXPECT_EQ(port.state, "DOWNLOAD");
    EXPECT_EQ(port.text, "Downloading : 40 %");
    EXPECT_EQ(port.progress, 40);
    model.OnStatus(9, 41, "Downloading Aborted !!!", "device hung up");
    port = PortOf(model.Snapshot(), 9);
    EXPECT_EQ(port.state, "ERROR");
    EXPECT_EQ(status::CssColour(port.stateBg), "#ff0000");
    EXPECT_EQ(port.reason, "device hung up");

    // A run that ends without a status of its own: no target answered.
    model.RunBegun(9, "run-10", std::nullopt);
    model.OnEnd(9, "NO TARGET");
    port = PortOf(model.Snapshot(), 9);
    EXPECT_EQ(port.state, "ERROR");
    EXPECT_EQ(port.text, "no target answered");

    // A pass, then a stop: the port closes.
    model.RunBegun(9, "run-11", std::nullopt);
    model.OnStatus(9, 20, "PASS - Checksum: [1,1]", "");
    port = PortOf(model.Snapshot(), 9);
    EXPECT_EQ(port.state, "COMPLETE");
    EXPECT_EQ(status::CssColour(port.textBg), "#00ff00");
    model.RunBegun(9, "run-12", std::nullopt);
    model.OnEnd(9, "ABORTED");
    EXPECT_EQ(PortOf(model.Snapshot(), 9).state, "CLOSE");

    // Continuous mode: the device is gone.
    model.Waiting(9, true);
    EXPECT_EQ(PortOf(model.Snapshot(), 9).state, "NO DEVICE");
}

TEST(StationModel, UnitsPerHourCountsTheLastHourAndRecordsFillTheCounts)
{
    status::StationModel model;
    auto now = std::chrono::system_clock::now();
    model.SetClock([&now] { return now; });
    std::vector<std::string> events;
    model.Subscribe([&events](const status::StationEvent& e) { events.push_back(e.name); });

    model.OnRecord(Finished(5, "PASS", 12000), true);
    now += std::chrono::minutes(40);
    model.OnRecord(Finished(6, "PASS", 130000), true);
    model.OnRecord(Finished(6, "FAIL", 9000), true);
    model.OnRecord(Finished(6, "NO TARGET", 30000), true);
    EXPECT_EQ(model.Snapshot().unitsPerHour, 2);
    now += std::chrono::minutes(21);  // the first PASS is now more than an hour old
    auto s = model.Snapshot();
    EXPECT_EQ(s.unitsPerHour, 1);
    EXPECT_EQ(s.runs, 4);
    EXPECT_EQ(s.pass, 2);
    EXPECT_EQ(s.fail, 1);
    EXPECT_EQ(s.error, 1);
    const auto& six = PortOf(s, 6);
    EXPECT_EQ(six.pass, 1);
    EXPECT_EQ(six.fail, 1);
    EXPECT_EQ(six.error, 1);
    EXPECT_EQ(six.results.at("NO TARGET"), 1);
    EXPECT_EQ(six.bytesSent, 3000);
    // 9 s in the 10 s bucket, 30 s in the 30 s bucket, 130 s in the 180 s bucket.
    const auto& bounds = status::DurationBuckets();
    auto bucket = [&](double upper) {
        return six.durationBuckets[static_cast<std::size_t>(std::find(bounds.begin(), bounds.end(), upper) - bounds.begin())];
    };
    EXPECT_EQ(bucket(10), 1u);
    EXPECT_EQ(bucket(30), 1u);
    EXPECT_EQ(bucket(180), 1u);
    EXPECT_DOUBLE_EQ(six.durationSum, 169.0);
    EXPECT_EQ(events, std::vector<std::string>(4, "record"));
    EXPECT_EQ(s.recentRecords.size(), 4u);
}
