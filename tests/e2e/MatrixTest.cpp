// A whole run of one port against a simulated handset, once for every way a handset can
// behave: what the operator sees (status codes and texts, in order) and what went over the
// wire. Long limits (50 s run command, 70 s erase, 20 s acknowledgement) run on a scaled clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "e2e/Harness.h"
#include "engine/StatusCodes.h"

using namespace std::chrono_literals;
using namespace tarvo;
using tarvo::test::PortRun;
using tarvo::test::Station;
using tarvo::test::Workspace;

namespace {

constexpr double kScale = 100.0;  // 50 s of protocol time in 0.5 s

using Bytes = std::vector<uint8_t>;

sim::SimConfig Bootloader()
{
    sim::SimConfig c;
    c.loader = sim::Loader::Bootloader;
    c.version1 = 3;
    c.version2 = 12;
    c.eraseTime = 2000ms;
    return c;
}

sim::SimConfig Flashloader()
{
    sim::SimConfig c;
    c.loader = sim::Loader::Flashloader;
    c.version1 = 1;
    c.version2 = 0x25;
    c.eraseTime = 2000ms;
    return c;
}

std::string Hex4(uint16_t v)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v);
    return text;
}

bool HasFrame(const PortRun& run, uint8_t cw)
{
    for (const Bytes& f : run.sim->FramesReceived())
        if (!f.empty() && f[0] == cw)
            return true;
    return false;
}

// The frames the station sent without the identifies that polled for the target.
std::vector<Bytes> CommandFrames(const PortRun& run)
{
    std::vector<Bytes> out;
    for (const Bytes& f : run.sim->FramesReceived())
        if (!(f.size() == 1 && f[0] == 0))
            out.push_back(f);
    return out;
}

class Matrix : public ::testing::Test {
protected:
    PortRun& RunOne(sim::SimConfig config, double scale = kScale, std::chrono::milliseconds limit = 20s)
    {
        station = std::make_unique<Station>(workspace, scale);
        PortRun& run = station->AddPort(5, std::move(config));
        EXPECT_TRUE(station->Run(limit)) << "the run did not end in time";
        return run;
    }
    Workspace workspace;
    std::unique_ptr<Station> station;
};

}  // namespace

TEST_F(Matrix, BootloaderAllGoodPasses)
{
    PortRun& run = RunOne(Bootloader());
    auto texts = run.StatusTexts();
    ASSERT_EQ(texts.size(), 5u) << ::testing::PrintToString(texts);
    const uint16_t monitorSum = run.sim->Status().handset.monitorFileSum;
    const uint16_t imageSum = workspace.ImageDataSum();
    EXPECT_EQ(texts[0], "The bootloader is running. Version 3.12.");
    EXPECT_EQ(texts[1], "Loading Monitor in data RAM...");
    EXPECT_EQ(texts[2], "Checksum: File: " + Hex4(monitorSum) + " RAM: " + Hex4(monitorSum));
    EXPECT_EQ(texts[3], "Download Reday End !");
    EXPECT_EQ(texts[4], "PASS - Checksum: [" + Hex4(imageSum) + "," + Hex4(imageSum) + "]");
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 1, 1, 0, 20}));
    for (const auto& r : run.Statuses())
        EXPECT_EQ(r.report.port, 5);

    // Wire order on the handset's side: identify, load, run at the map's entry point, erase,
    // download announcement.
    auto frames = CommandFrames(run);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], Bytes{9});
    EXPECT_EQ(frames[1], (Bytes{10, 0x00, 0x08, 0x01, 0x00}));
    EXPECT_EQ(frames[2], Bytes{4});
    EXPECT_EQ(frames[3], Bytes{5});
    EXPECT_EQ(run.sim->Status().handset.runAddress, 0x00080100u);

    // The 1 s pause after the checksum report (10 ms at this scale) and the run command.
    auto statuses = run.Statuses();
    EXPECT_GE(statuses[3].time - statuses[2].time, 9ms);

    // Flash holds the image.
    EXPECT_EQ(run.sim->Status().handset.flashSum, imageSum);
}

TEST_F(Matrix, WireBytesOfTheBootloaderRunAsTheHandsetSawThem)
{
    PortRun& run = RunOne(Bootloader());
    const auto wire = run.sim->WireReceived();
    // Identify first, then the load command, then the monitor's raw lines.
    ASSERT_GE(wire.size(), 6u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 3), (Bytes{0xAA, 0x01, 0x00}));
    const Bytes loadFrame = {0xAA, 0x01, 0x09};
    auto load = std::search(wire.begin(), wire.end(), loadFrame.begin(), loadFrame.end());
    ASSERT_NE(load, wire.end());
    EXPECT_EQ(*(load + 3), 'S') << "the monitor's lines follow the load command raw";
    for (auto it = wire.begin(); it != load; it += 3)
        EXPECT_EQ(Bytes(it, it + 3), (Bytes{0xAA, 0x01, 0x00})) << "only identifies before the load";
    const Bytes run10 = {0xAA, 0x05, 0x0A, 0x00, 0x08, 0x01, 0x00};
    EXPECT_NE(std::search(wire.begin(), wire.end(), run10.begin(), run10.end()), wire.end());

    // Every image line arrives as ConvertLine makes it, in order, after AA 01 04 and AA 01 05.
    const Bytes erase = {0xAA, 0x01, 0x04}, announce = {0xAA, 0x01, 0x05};
    auto e = std::search(wire.begin(), wire.end(), erase.begin(), erase.end());
    auto a = std::search(e, wire.end(), announce.begin(), announce.end());
    ASSERT_NE(a, wire.end());
    Bytes expected;
    for (const std::string& line : workspace.ImageLines()) {
        std::vector<uint8_t> bytes(line.size() / 2 + 2);
        uint16_t count = 0;
        ConvertLine((line + "\n").c_str(), bytes.data(), count);
        expected.insert(expected.end(), bytes.begin(), bytes.begin() + count);
    }
    EXPECT_EQ(Bytes(a + 3, wire.end()), expected);
}

TEST_F(Matrix, ProgressOncePerLineBeforeTheLineIsSent)
{
    PortRun& run = RunOne(Flashloader());
    const auto lines = workspace.ImageLines();
    const auto progress = run.Progress();
    ASSERT_EQ(progress.size(), lines.size());
    long position = 0;
    const long size = progress.front().report.size;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        position += static_cast<long>(lines[i].size() + 1);
        EXPECT_EQ(progress[i].report.position, position);
        EXPECT_EQ(progress[i].report.size, size);
        EXPECT_EQ(progress[i].report.percent, static_cast<int>(position * 100 / size));
        // The handset has every earlier line and not this one.
        EXPECT_EQ(progress[i].linesAtReport, i) << "line " << i;
    }
    EXPECT_EQ(progress.back().report.percent, 100);
    EXPECT_EQ(position, size);
}

TEST_F(Matrix, FlashloaderNeedsNoMonitor)
{
    PortRun& run = RunOne(Flashloader());
    auto texts = run.StatusTexts();
    ASSERT_EQ(texts.size(), 3u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[0], "The flashloader is running. Version 1.2.5.");
    EXPECT_EQ(texts[1], "Download Reday End !");
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 0, 20}));
    EXPECT_FALSE(HasFrame(run, 9));
    EXPECT_FALSE(HasFrame(run, 10));
}

TEST_F(Matrix, IdentifyFaults)
{
    struct Case { const char* name; void (*apply)(sim::SimFaults&); int code; const char* text; };
    const Case cases[] = {
        {"R 4", [](sim::SimFaults& f) { f.identifyResult = 4; }, 1, "Bad parameters ! (CW=0)"},
        {"short", [](sim::SimFaults& f) { f.identifyShort = true; }, 11, "Error in the format of confirmation ! (CW=0)"},
        {"CW 3", [](sim::SimFaults& f) { f.identifyCommandWord = 3; }, 12, "Bad command word ! (CW=3)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto config = Bootloader();
        c.apply(config.faults);
        PortRun& run = RunOne(config);
        EXPECT_EQ(run.StatusCodes(), std::vector<int>{c.code});
        EXPECT_EQ(run.StatusTexts(), std::vector<std::string>{c.text});
        EXPECT_TRUE(CommandFrames(run).empty()) << "nothing follows";
    }
}

TEST_F(Matrix, MonitorFileAbsentSendsNothingForTheLoad)
{
    station = std::make_unique<Station>(workspace, kScale);
    station->monitorDir = workspace.Dir() + "/nowhere";
    PortRun& run = station->AddPort(5, Bootloader());
    ASSERT_TRUE(station->Run(10s));
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 14}));
    EXPECT_EQ(run.StatusTexts().back(), "File Not Found Error 'monitor_ul_bs.m0'");
    EXPECT_TRUE(CommandFrames(run).empty());
    EXPECT_TRUE(run.sim->LinesReceived().empty());
}

TEST_F(Matrix, LoadNotConfirmedAbortsWithoutErase)
{
    auto config = Bootloader();
    config.faults.monitorUnconfirmed = true;
    PortRun& run = RunOne(config);
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 1, 1, 13}));
    auto texts = run.StatusTexts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[2], "No answer from the target ! (CW=9)");
    EXPECT_EQ(texts[3], "Application loading aborted.");
    EXPECT_FALSE(HasFrame(run, 10));
    EXPECT_FALSE(HasFrame(run, 4));
}

TEST_F(Matrix, MissingMapOrTaglessMapGivesNoRunCommand)
{
    for (bool tagless : {false, true}) {
        SCOPED_TRACE(tagless ? "map without the tag" : "no map");
        const std::string map = workspace.Dir() + "/monitor_ul_bs.map";
        std::remove(map.c_str());
        if (tagless) {
            std::FILE* f = std::fopen(map.c_str(), "w");
            for (int i = 0; i < 11; ++i)
                std::fputs("SECTION .text 00001000\n", f);
            std::fputs("ENTRY POINT SYMBOL: late   00001000\n", f);  // the 12th line is not read
            std::fclose(f);
        }
        PortRun& run = RunOne(Bootloader());
        EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 1, 1, 2}));
        EXPECT_EQ(run.StatusTexts().back(), "Run Address not received !");
        EXPECT_FALSE(HasFrame(run, 10));
        EXPECT_FALSE(HasFrame(run, 4));
    }
}

TEST_F(Matrix, RunCommandNotConfirmedAfterFiftySeconds)
{
    auto config = Bootloader();
    config.faults.runUnconfirmed = true;
    PortRun& run = RunOne(config);
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 1, 1, 2}));
    EXPECT_EQ(run.StatusTexts().back(), "Run Address not received !");
    auto statuses = run.Statuses();
    // 1 s pause + 50 s wait of protocol time.
    EXPECT_GE(statuses[3].time - statuses[2].time, std::chrono::milliseconds(static_cast<int>(51000 / kScale)));
    EXPECT_FALSE(HasFrame(run, 4));
}

TEST_F(Matrix, EraseRefusedEndsTheRun)
{
    auto config = Flashloader();
    config.faults.eraseResult = 2;
    PortRun& run = RunOne(config);
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 0, 25}));
    EXPECT_EQ(run.StatusTexts().back(), "The flash memory can't be erased ! (CW=4)");
    EXPECT_FALSE(HasFrame(run, 5));
    EXPECT_TRUE(run.Progress().empty());
}

TEST_F(Matrix, EraseNeverConfirmedDownloadsAfterSeventySeconds)
{
    auto config = Flashloader();
    config.faults.eraseUnconfirmed = true;
    PortRun& run = RunOne(config);
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 0, 20}));
    auto statuses = run.Statuses();
    auto progress = run.Progress();
    ASSERT_FALSE(progress.empty());
    // 70 s limit + 0.8 s + 1 s of protocol time between status 0 and the first line.
    EXPECT_GE(progress.front().time - statuses[1].time, std::chrono::milliseconds(static_cast<int>(71800 / kScale)));
}

TEST_F(Matrix, UnacknowledgedBlockAbortsTwentySecondsAfterIt)
{
    auto config = Flashloader();
    config.faults.blockUnacked = 2;
    PortRun& run = RunOne(config);
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 0, 41}));
    EXPECT_EQ(run.StatusTexts().back(), "Downloading Aborted !!!");
    auto progress = run.Progress();
    ASSERT_EQ(progress.size(), 2u) << "no further line";
    EXPECT_EQ(run.sim->LinesReceived().size(), 2u);
    auto elapsed = run.Statuses().back().time - progress.back().time;
    EXPECT_GE(elapsed, std::chrono::milliseconds(static_cast<int>(20000 / kScale)));
    EXPECT_LT(elapsed, std::chrono::milliseconds(static_cast<int>(20000 / kScale)) + 1s);
}

TEST_F(Matrix, FinalConfirmationFaults)
{
    struct Case { const char* name; void (*apply)(sim::SimFaults&); int code; const char* text; };
    const Case cases[] = {
        {"missing", [](sim::SimFaults& f) { f.finalMissing = true; }, 22, "No answer from the target ! (CW=5)"},
        {"5 bytes", [](sim::SimFaults& f) { f.finalShort = true; }, 23, "Error in confirmation format ! (CW=5)"},
        {"CW 4", [](sim::SimFaults& f) { f.finalCommandWord = 4; }, 24, "Bad command word ! (CW=4)"},
        {"R 3", [](sim::SimFaults& f) { f.finalResult = 3; }, 25, "\rError while writing into the flash memory !"},
        {"sums differ", [](sim::SimFaults& f) { f.finalSums = sim::ForcedSums{0x1A2B, 0x1A2C}; }, 21,
         "FAIL - Checksum: [1A2B,1A2C]"},
        {"0xAA in the sums", [](sim::SimFaults& f) { f.finalSums = sim::ForcedSums{0xAAAA, 0xAAAA}; }, 20,
         "PASS - Checksum: [AAAA,AAAA]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto config = Flashloader();
        c.apply(config.faults);
        PortRun& run = RunOne(config);
        EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 0, c.code}));
        EXPECT_EQ(run.StatusTexts().back(), c.text);
    }
}

TEST_F(Matrix, GarbageBetweenFramesIsIgnored)
{
    auto config = Bootloader();
    config.faults.garbageBytes = 7;
    PortRun& run = RunOne(config);
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 1, 1, 0, 20}));
}

TEST_F(Matrix, HangUpWhilePollingReportsPortLost)
{
    auto config = Bootloader();
    config.faults.hangupAfterIdentify = 3;
    PortRun& run = RunOne(config, 1.0, 10s);
    ASSERT_EQ(run.StatusCodes(), std::vector<int>{15});
    EXPECT_EQ(run.StatusTexts()[0], "Serial Port Lost...");
    auto hangUp = run.sim->Events().back().time;
    EXPECT_LT(run.Statuses()[0].time - hangUp, 1s);
}

TEST_F(Matrix, HangUpMidDownloadAbortsAtOnceWhileAnotherPortPasses)
{
    station = std::make_unique<Station>(workspace, 1.0);
    auto dying = Flashloader();
    dying.faults.hangupAfterBlock = 1;
    dying.eraseTime = 100ms;
    auto healthy = Flashloader();
    healthy.eraseTime = 100ms;
    PortRun& lost = station->AddPort(5, dying);
    PortRun& fine = station->AddPort(6, healthy);
    ASSERT_TRUE(station->Run(30s));
    EXPECT_EQ(lost.StatusCodes(), (std::vector<int>{1, 0, 41}));
    EXPECT_TRUE(lost.sim->Status().hungUp);
    auto hangUp = lost.sim->Events().back().time;
    EXPECT_LT(lost.Statuses().back().time - hangUp, 1s) << "the failed channel ends the 20 s wait";
    EXPECT_EQ(fine.StatusCodes(), (std::vector<int>{1, 0, 20}));
}

TEST_F(Matrix, EightPortsInParallelAllPass)
{
    station = std::make_unique<Station>(workspace, kScale);
    for (int port = 5; port <= 12; ++port)
        station->AddPort(port, port % 2 ? Bootloader() : Flashloader());
    ASSERT_TRUE(station->Run(60s));
    for (int port = 5; port <= 12; ++port) {
        SCOPED_TRACE(port);
        PortRun& run = station->Port(port);
        ASSERT_FALSE(run.StatusCodes().empty());
        EXPECT_EQ(run.StatusCodes().back(), 20);
        for (const auto& r : run.records) {
            if (r.report.kind != QueuedReport::Kind::RunEnded) {
                EXPECT_EQ(r.report.port, port);
            }
        }
    }
}

TEST(MatrixTiming, IdentifyRepeatsAboutEvery20msUntilTheTargetAnswers)
{
    Workspace workspace;
    Station station(workspace, 1.0);
    auto config = Flashloader();
    config.faults.identifySilent = 10;
    config.eraseTime = 50ms;
    PortRun& run = station.AddPort(5, config);
    ASSERT_TRUE(station.Run(30s));
    EXPECT_EQ(run.StatusCodes().back(), 20);
    std::vector<std::chrono::steady_clock::time_point> identifies;
    for (const auto& e : run.sim->Events())
        if (e.kind == sim::SimEvent::Kind::FrameReceived && e.bytes == Bytes{0})
            identifies.push_back(e.time);
    ASSERT_EQ(identifies.size(), 11u);
    auto spread = identifies.back() - identifies.front();
    EXPECT_GE(spread, 10 * 19ms);
    EXPECT_LT(spread, 10 * 100ms);  // generous: the machine is shared
}

TEST(MatrixSlow, AcknowledgementLimitAtFullLength)
{
    Workspace workspace;
    Station station(workspace, 1.0);
    auto config = Flashloader();
    config.eraseTime = 100ms;
    config.faults.blockUnacked = 1;
    PortRun& run = station.AddPort(5, config);
    ASSERT_TRUE(station.Run(60s));
    EXPECT_EQ(run.StatusCodes(), (std::vector<int>{1, 0, 41}));
    auto elapsed = run.Statuses().back().time - run.Progress().back().time;
    EXPECT_GE(elapsed, 20s);
    EXPECT_LT(elapsed, 21s);
}
