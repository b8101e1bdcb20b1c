// One record per run, written by the recorder in front of real port engines against simulated
// handsets, into a real SQLite file: the fields of PASS, FAIL, ERROR, NO TARGET and ABORTED
// runs, the final word held back until the record is durable, and a unit label.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "e2e/Harness.h"
#include "record/TestSupport.h"
#include "engine/StatusCodes.h"
#include "record/Identity.h"
#include "record/RecordStore.h"
#include "record/RecordWriter.h"
#include "record/RunRecorder.h"
#include "record/Sha256.h"
#include "tools/sim/TargetSim.h"

using namespace std::chrono_literals;
using namespace tarvo;
using namespace tarvo::record;

namespace {

constexpr double kScale = 50.0;

using test::TempDir;

std::vector<RunRecord> ReadAll(const std::string& path)
{
    RecordStore store;
    std::string error;
    EXPECT_TRUE(store.Open(path, error, true)) << error;
    std::vector<RunRecord> out;
    EXPECT_TRUE(store.Query({}, [&](const RunRecord& r) { out.push_back(r); }, error)) << error;
    return out;
}

// One port's run through the recorder: the test's thread is the receiver, as in the station.
struct Drive {
    test::Workspace& workspace;
    RecordWriter* writer;
    sim::SimConfig config;
    // What the receiver does when a progress report comes: return true to stop the run there
    // (the engine is destroyed, as when the operator restarts the row).
    std::function<bool(const QueuedReport&)> stopAt;
    std::chrono::milliseconds giveUpAfter{0};  // > 0: end the run as NO TARGET after this
    std::optional<std::string> unit;
    // Set during the run: whether the record in the file was final when the final word came.
    bool finalWordAfterRecord = false;

    void Run()
    {
        ScaledClock clock(kScale);
        config.timeScale = kScale;
        sim::TargetSim handset(config);
        std::string error;
        ASSERT_TRUE(handset.Start(error)) << error;
        ReportQueue queue;
        RunRecorder recorder(queue, writer, StationInfo::ForThisProcess("line-3"));
        EngineEnvironment env;
        env.clock = &clock;
        env.monitorDir = workspace.Dir();
        auto engine = std::make_unique<CWinMonitorCtrl>(env);
        engine->SetPortNumber(7);
        RunSetup setup;
        setup.port = 7;
        setup.device = handset.DevicePath();
        setup.image = workspace.Image();
        setup.mainSoftware = workspace.Dir() + "/main.m0";
        setup.unit = unit;
        recorder.BeginRun(*engine, setup);
        ASSERT_TRUE(engine->OpenDevice(handset.DevicePath(), CWinMonitorCtrl::kBaudRate));
        ASSERT_TRUE(engine->Start(&recorder));
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        const auto giveUp = std::chrono::steady_clock::now() + giveUpAfter;
        QueuedReport report;
        bool ended = false;
        while (!ended && std::chrono::steady_clock::now() < deadline) {
            if (giveUpAfter.count() > 0 && std::chrono::steady_clock::now() >= giveUp) {
                recorder.EndRun(*engine, result::kNoTarget, "no target answered");
                break;
            }
            if (!queue.Pop(report, 50ms))
                continue;
            bool stop = false;
            if (report.kind == QueuedReport::Kind::Status) {
                if (report.code == status::kReadyForDownload)
                    engine->StartDownload(&recorder, workspace.Image());
                if (report.code == status::kPass || status::IsError(report.code)) {
                    const auto records = ReadAll(writer->Path());
                    finalWordAfterRecord = records.size() == 1 && records[0].result != result::kRunning;
                    ended = true;
                }
            } else if (report.kind == QueuedReport::Kind::Progress) {
                stop = stopAt && stopAt(report);
            } else {
                ended = true;
            }
            queue.Done();
            if (stop)
                break;
        }
        engine.reset();
        writer->Flush(5s);
    }
};

class RecordRuns : public ::testing::Test {
protected:
    RunRecord RunOne(Drive& drive)
    {
        drive.Run();
        const auto records = ReadAll(db);
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? RunRecord{} : records[0];
    }
    Drive MakeDrive(sim::Loader loader = sim::Loader::Bootloader)
    {
        sim::SimConfig config;
        config.loader = loader;
        if (loader == sim::Loader::Flashloader) {
            config.version1 = 1;
            config.version2 = 0x25;
        }
        config.eraseTime = 1000ms;
        return Drive{workspace, writer.get(), config, {}, {}, {}, false};
    }

    TempDir dir;
    std::string db = dir.Path() + "/records.sqlite";
    test::Workspace workspace{24 * 1024, 8 * 1024};
    std::unique_ptr<RecordWriter> writer = std::make_unique<RecordWriter>(db, "line-3", HostName());
};

TEST_F(RecordRuns, PassKeepsEveryFieldAndIsDurableBeforeTheFinalWord)
{
    Drive drive = MakeDrive();
    drive.unit = "SN,\"42\"\nÄ";
    const RunRecord r = RunOne(drive);
    EXPECT_TRUE(drive.finalWordAfterRecord) << "the final word came before the record was complete";
    EXPECT_TRUE(std::regex_match(r.run_id.value_or(""),
                                 std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
    EXPECT_EQ(r.station, "line-3");
    EXPECT_EQ(r.host, HostName());
    EXPECT_EQ(r.operator_, UserName());
    EXPECT_TRUE(r.tarvo_version && !r.tarvo_version->empty());
    EXPECT_EQ(r.port, 7);
    EXPECT_TRUE(r.device && r.device->rfind("/dev/pts/", 0) == 0);
    EXPECT_EQ(r.device_resolved, r.device);
    const std::regex iso("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z");
    EXPECT_TRUE(std::regex_match(r.started_at.value_or(""), iso)) << r.started_at.value_or("");
    EXPECT_TRUE(std::regex_match(r.ended_at.value_or(""), iso));
    EXPECT_LE(*r.started_at, *r.ended_at);
    EXPECT_EQ(r.result, "PASS");
    EXPECT_EQ(r.status, 20);
    EXPECT_EQ(r.loader, "bootloader");
    EXPECT_EQ(r.loader_version, "3.12");
    ASSERT_TRUE(r.monitor_checksums);
    EXPECT_TRUE(std::regex_match(*r.monitor_checksums, std::regex("[0-9A-F]{4},[0-9A-F]{4}")));
    EXPECT_EQ(r.monitor_checksums->substr(0, 4), r.monitor_checksums->substr(5));
    char sums[16];
    std::snprintf(sums, sizeof sums, "%04X,%04X", workspace.ImageDataSum(), workspace.ImageDataSum());
    EXPECT_EQ(r.checksums, sums);
    EXPECT_EQ(r.text, std::string("PASS - Checksum: [") + sums + "]");
    std::string hex, error;
    ASSERT_TRUE(Sha256File(workspace.Image(), hex, error));
    EXPECT_EQ(r.image_sha256, hex);
    ASSERT_TRUE(Sha256File(workspace.Dir() + "/main.m0", hex, error));
    EXPECT_EQ(r.main_sha256, hex);
    EXPECT_EQ(r.image, workspace.Image());
    EXPECT_EQ(r.image_bytes, static_cast<int64_t>(std::filesystem::file_size(workspace.Image())));
    EXPECT_GT(r.bytes_sent.value_or(0), 0);
    EXPECT_LE(r.bytes_sent.value_or(0), r.image_bytes.value_or(0));
    // Phases through the engine's clock: the erase takes 1000 ms of the handset's time.
    for (const auto* ms : {&r.wait_ms, &r.monitor_ms, &r.erase_ms, &r.download_ms, &r.verify_ms, &r.total_ms})
        ASSERT_TRUE(ms->has_value());
    EXPECT_GE(*r.erase_ms, 900);
    EXPECT_GE(*r.total_ms, *r.wait_ms + *r.monitor_ms + *r.erase_ms + *r.download_ms);
    EXPECT_EQ(r.unit, "SN,\"42\"\nÄ");
    EXPECT_FALSE(r.reason.has_value());
}

TEST_F(RecordRuns, FailErrorAndFlashloaderResults)
{
    {
        Drive drive = MakeDrive(sim::Loader::Flashloader);
        drive.config.faults.finalSums = sim::ForcedSums{0x1A2B, 0x1A2C};
        const RunRecord r = RunOne(drive);
        EXPECT_EQ(r.result, "FAIL");
        EXPECT_EQ(r.status, 21);
        EXPECT_EQ(r.checksums, "1A2B,1A2C");
        EXPECT_EQ(r.loader, "flashloader");
        EXPECT_EQ(r.loader_version, "1.2.5");
        EXPECT_FALSE(r.monitor_checksums.has_value()) << "a flashloader gets no monitor";
    }
    writer.reset();
    std::filesystem::remove(db);
    writer = std::make_unique<RecordWriter>(db, "line-3", HostName());
    {
        Drive drive = MakeDrive();
        drive.config.faults.eraseResult = 2;
        const RunRecord r = RunOne(drive);
        EXPECT_EQ(r.result, "ERROR");
        EXPECT_EQ(r.status, 25);
        EXPECT_FALSE(r.download_ms.has_value());
        EXPECT_FALSE(r.checksums.has_value());
        EXPECT_TRUE(r.erase_ms.has_value());
    }
}

TEST_F(RecordRuns, NoTargetAndAborted)
{
    {
        Drive drive = MakeDrive();
        drive.config.faults.identifyNever = true;
        drive.giveUpAfter = 300ms;
        const RunRecord r = RunOne(drive);
        EXPECT_EQ(r.result, "NO TARGET");
        EXPECT_FALSE(r.wait_ms.has_value());
        EXPECT_FALSE(r.status.has_value());
        EXPECT_EQ(r.reason, "no target answered");
        EXPECT_TRUE(r.total_ms.has_value());
    }
    writer.reset();
    std::filesystem::remove(db);
    writer = std::make_unique<RecordWriter>(db, "line-3", HostName());
    {
        // The operator restarts the row in the middle of the download.
        Drive drive = MakeDrive();
        drive.stopAt = [](const QueuedReport& report) { return report.position > 0; };
        const RunRecord r = RunOne(drive);
        EXPECT_EQ(r.result, "ABORTED");
        EXPECT_GT(r.bytes_sent.value_or(0), 0);
        EXPECT_LT(r.bytes_sent.value_or(0), r.image_bytes.value_or(0));
        EXPECT_TRUE(r.ended_at.has_value());
        // Stopped in the download: its time is download time; the verification never began.
        EXPECT_TRUE(r.download_ms.has_value());
        EXPECT_FALSE(r.verify_ms.has_value());
        ASSERT_TRUE(r.total_ms && r.wait_ms && r.monitor_ms && r.erase_ms);
        EXPECT_GE(*r.total_ms, *r.wait_ms + *r.monitor_ms + *r.erase_ms + r.download_ms.value_or(0));
    }
}

TEST_F(RecordRuns, UnitLabelAttachedToTheNextRunOfItsPortOnly)
{
    ReportQueue queue;
    RunRecorder recorder(queue, writer.get(), StationInfo::ForThisProcess(""));
    recorder.SetNextUnit(7, "IMEI 3520990");
    CWinMonitorCtrl first, second, other;
    recorder.BeginRun(other, RunSetup{8, "/dev/null", "", "", std::nullopt});
    recorder.BeginRun(first, RunSetup{7, "/dev/null", "", "", std::nullopt});
    recorder.BeginRun(second, RunSetup{7, "/dev/null", "", "", std::nullopt});
    EXPECT_FALSE(recorder.Current(other)->unit.has_value());
    EXPECT_EQ(recorder.Current(first)->unit, "IMEI 3520990");
    EXPECT_FALSE(recorder.Current(second)->unit.has_value());
    EXPECT_EQ(recorder.Current(first)->station, HostName()) << "the station defaults to the host name";
}

}  // namespace
