// Stopping an engine in each of its long waits: destruction and RequestStop end the run within
// milliseconds, a stopped worker sends nothing more, and a device that stops taking output
// fails the channel instead of holding the writer.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "support/Pty.h"
#include "support/RecordingSink.h"

using namespace std::chrono_literals;
using namespace tarvo;
using tarvo::test::Pty;
using tarvo::test::RecordingSink;

namespace {

const std::vector<uint8_t> kFlashloaderAnswer = {0xAA, 0x05, 0x00, 0x00, 0x01, 0x01, 0x25};
const std::vector<uint8_t> kEraseFrame = {0xAA, 0x01, 0x04};

// A download image of two small blocks in a temporary file.
class ImageFile {
public:
    ImageFile()
    {
        char name[] = "/tmp/tarvo-stop-XXXXXX";
        int fd = ::mkstemp(name);
        ::close(fd);
        m_path = name;
        std::ofstream out(m_path);
        out << "S00600004844521B\nS30900001000DEADBEEF\nS30900002000CAFEF00D\nS70500000000FA\n";
    }
    ~ImageFile() { std::remove(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

std::unique_ptr<CWinMonitorCtrl> OpenEngine(Pty& pty)
{
    auto engine = std::make_unique<CWinMonitorCtrl>();
    engine->SetPortNumber(5);
    EXPECT_TRUE(engine->OpenDevice(pty.SlavePath(), 115200)) << engine->OpenError();
    return engine;
}

// Brings the engine (real clock) to its erase wait: identify answered by a flashloader,
// status 0, download started, erase command received by the test.
void ToEraseWait(CWinMonitorCtrl& engine, Pty& pty, RecordingSink& sink, const ImageFile& image)
{
    ASSERT_TRUE(engine.Start(&sink));
    ASSERT_EQ(pty.Receive(3, 1s).size(), 3u);
    pty.Send(kFlashloaderAnswer);
    ASSERT_TRUE(sink.WaitStatus(status::kReadyForDownload, 2s));
    ASSERT_TRUE(engine.StartDownload(&sink, image.Path()));
    auto bytes = pty.Receive(3, 2s);
    // Late identifies may come first; the erase frame ends what arrived.
    ASSERT_GE(bytes.size(), 3u);
    ASSERT_TRUE(std::equal(kEraseFrame.begin(), kEraseFrame.end(), bytes.end() - 3));
}

}  // namespace

TEST(EngineStop, DestroyingDuringTheSeventySecondEraseWaitReturnsAtOnce)
{
    Pty pty;
    RecordingSink sink;
    ImageFile image;
    auto engine = OpenEngine(pty);
    ToEraseWait(*engine, pty, sink, image);
    std::this_thread::sleep_for(100ms);  // the download thread now waits for the confirmation

    auto t0 = std::chrono::steady_clock::now();
    engine.reset();
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, 200ms) << std::chrono::duration<double, std::milli>(took).count() << " ms";
    EXPECT_TRUE(pty.Drain(300ms).empty()) << "nothing follows the erase command";
}

TEST(EngineStop, RequestStopDuringTheEraseWaitSendsNothingMoreAndEndsTheRunAsStopped)
{
    Pty pty;
    RecordingSink sink;
    ImageFile image;
    auto engine = OpenEngine(pty);
    ToEraseWait(*engine, pty, sink, image);
    std::this_thread::sleep_for(100ms);
    const std::size_t statusesBefore = sink.Statuses().size();

    auto t0 = std::chrono::steady_clock::now();
    engine->RequestStop();
    EXPECT_TRUE(engine->StopRequested());
    ASSERT_TRUE(sink.WaitRunEnded(200ms)) << "the run ends at once";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
    // The woken wait is no missing confirmation: no announcement, no image line, ever.
    EXPECT_TRUE(pty.Drain(2500ms).empty());
    EXPECT_EQ(sink.Statuses().size(), statusesBefore) << "a stop is not reported as a failure";
    EXPECT_FALSE(engine->IsBusy());
}

TEST(EngineStop, StopDuringThePauseAfterTheEraseSendsNoAnnouncement)
{
    Pty pty;
    RecordingSink sink;
    ImageFile image;
    auto engine = OpenEngine(pty);
    ToEraseWait(*engine, pty, sink, image);
    pty.Send({0xAA, 0x02, 0x04, 0x00});  // erased; an 800 ms pause follows
    std::this_thread::sleep_for(100ms);
    auto t0 = std::chrono::steady_clock::now();
    engine->RequestStop();
    ASSERT_TRUE(sink.WaitRunEnded(200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
    EXPECT_TRUE(pty.Drain(1500ms).empty()) << "no CW 5 after a stop";
}

TEST(EngineStop, AStopRightAfterStartIsNotLostAndAStoppedEngineStartsNoDownload)
{
    Pty pty;
    RecordingSink sink;
    ImageFile image;
    auto engine = OpenEngine(pty);
    ASSERT_TRUE(engine->Start(&sink));
    engine->RequestStop();
    ASSERT_TRUE(sink.WaitRunEnded(200ms));
    EXPECT_TRUE(sink.Statuses().empty());
    pty.Drain(50ms);  // at most the identify sent before the stop
    EXPECT_TRUE(pty.Drain(200ms).empty()) << "the polling has ended";

    // A status 0 handled after the stop: the download thread only ends the run.
    ASSERT_TRUE(engine->StartDownload(&sink, image.Path()));
    for (int i = 0; i < 100 && sink.RunsEnded() < 2; ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(sink.RunsEnded(), 2);
    EXPECT_TRUE(pty.Drain(200ms).empty()) << "no erase after a stop";
}

TEST(EngineStop, StopDuringTheFiftySecondRunCommandWaitReportsNoFailure)
{
    char dir[] = "/tmp/tarvo-monitor-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string monitor = std::string(dir) + "/monitor_ul_bs.m0";
    const std::string map = std::string(dir) + "/monitor_ul_bs.map";
    std::ofstream(monitor) << "S00600004844521B\nS30900001000DEADBEEF\nS70500001000EA\n";
    std::ofstream(map) << "ENTRY POINT SYMBOL: _start 00001000\n";

    Pty pty;
    RecordingSink sink;
    EngineEnvironment env;
    env.monitorDir = dir;
    auto engine = std::make_unique<CWinMonitorCtrl>(env);
    ASSERT_TRUE(engine->OpenDevice(pty.SlavePath(), 115200));
    ASSERT_TRUE(engine->Start(&sink));
    pty.Receive(3, 1s);
    pty.Send({0xAA, 0x05, 0x00, 0x00, 0x02, 0x03, 0x0C});  // a bootloader: the monitor is loaded
    ASSERT_TRUE(sink.WaitStatus(status::kInformation, 2s));
    std::this_thread::sleep_for(100ms);
    pty.Drain(50ms);
    pty.Send({0xAA, 0x06, 0x09, 0x00, 0x12, 0x34, 0x12, 0x34});  // loaded; a 1 s pause follows
    auto run = pty.Receive(7, 3s);  // the run command: now up to 50 s for its confirmation
    ASSERT_EQ(run.size(), 7u);
    EXPECT_EQ(run[2], 0x0A);
    std::this_thread::sleep_for(50ms);

    auto t0 = std::chrono::steady_clock::now();
    engine->RequestStop();
    ASSERT_TRUE(sink.WaitRunEnded(200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
    EXPECT_NE(sink.Statuses().back().code, status::kRunAddressMissing) << "a stop is no missing confirmation";
    EXPECT_TRUE(pty.Drain(200ms).empty());
    engine.reset();
    std::remove(monitor.c_str());
    std::remove(map.c_str());
    ::rmdir(dir);
}

TEST(CommOutput, AWriteToADeviceThatStopsReadingReturnsWithin20msAndFailsTheChannel)
{
    Pty pty;  // the test never reads the master: the device takes no more output
    CComm comm;
    comm.SetOutputStallLimit(10s);  // only a full backlog ends it here
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200)) << comm.LastError();
    std::vector<uint8_t> block(64 * 1024, 0x55);
    std::chrono::nanoseconds longest{0};
    for (int i = 0; i < 12 && !comm.HasFailed(); ++i) {
        uint32_t written = 0;
        auto t0 = std::chrono::steady_clock::now();
        comm.Write(block.data(), static_cast<int>(block.size()), written);
        longest = std::max(longest, std::chrono::steady_clock::now() - t0);
    }
    EXPECT_LT(longest, 60ms) << "about 20 ms at most, on a loaded machine";
    for (int i = 0; i < 100 && !comm.HasFailed(); ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(comm.HasFailed());
    EXPECT_STREQ(comm.FailureReason(), "device stopped taking output");
    EXPECT_NE(comm.LastError().find(pty.SlavePath()), std::string::npos);
    uint32_t written = 7;
    EXPECT_FALSE(comm.Write(block.data(), 10, written));
    EXPECT_EQ(written, 0u);
}

TEST(CommOutput, InterruptWakesAWaitAndStopsWrites)
{
    Pty pty;
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200));
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        comm.Interrupt();
    });
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(comm.WaitForData(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    stopper.join();
    uint32_t written = 0;
    const uint8_t bytes[3] = {1, 2, 3};
    EXPECT_FALSE(comm.Write(bytes, 3, written));
    EXPECT_TRUE(pty.Drain(100ms).empty());
    comm.ClearInterrupt();
    EXPECT_TRUE(comm.Write(bytes, 3, written));
    EXPECT_EQ(pty.Receive(3, 1s).size(), 3u);
}

TEST(EngineStop, ADeviceThatStopsTakingOutputAbortsTheDownloadWithItsCause)
{
    // One image block far larger than the pseudo-terminal takes while nobody reads it.
    char name[] = "/tmp/tarvo-stall-XXXXXX";
    ::close(::mkstemp(name));
    {
        std::ofstream out(name);
        out << "S00600004844521B\nS3" << std::string(120000, 'A') << "\nS70500000000FA\n";
    }
    Pty pty;
    RecordingSink sink;
    auto engine = OpenEngine(pty);
    engine->Comm().SetOutputStallLimit(300ms);
    ASSERT_TRUE(engine->Start(&sink));
    pty.Receive(3, 1s);
    pty.Send(kFlashloaderAnswer);
    ASSERT_TRUE(sink.WaitStatus(status::kReadyForDownload, 2s));
    ASSERT_TRUE(engine->StartDownload(&sink, name));
    pty.Receive(3, 2s);
    pty.Send({0xAA, 0x02, 0x04, 0x00});  // erased; from now on the device reads nothing
    const bool aborted = sink.WaitStatus(status::kDownloadAborted, 6s);
    ASSERT_TRUE(aborted) << "not after the 20 s acknowledgement wait";
    auto last = sink.Statuses().back();
    EXPECT_EQ(last.text, "Downloading Aborted !!!");
    EXPECT_EQ(last.reason, "device stopped taking output");
    std::remove(name);
}

TEST(EngineStop, AHangUpIsNamedBesideTheSpecifiedText)
{
    Pty pty;
    RecordingSink sink;
    auto engine = OpenEngine(pty);
    ASSERT_TRUE(engine->Start(&sink));
    pty.Receive(3, 1s);
    pty.HangUp();
    ASSERT_TRUE(sink.WaitStatus(status::kPortLost, 2s));
    auto last = sink.Statuses().back();
    EXPECT_EQ(last.text, "Serial Port Lost...");
    EXPECT_EQ(last.reason, "device hung up");
}
