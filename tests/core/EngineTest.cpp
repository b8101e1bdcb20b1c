// The port engine on a pseudo-terminal, with the test playing the target: frame waits,
// the identify polling, stopping and destroying engines in every awkward moment.

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "engine/Clock.h"
#include "engine/ReportQueue.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "serial/PortDirectory.h"
#include "serial/Trace.h"
#include "support/Cpu.h"
#include "support/Pty.h"
#include "support/RecordingSink.h"

using namespace std::chrono_literals;
using namespace tarvo;
using tarvo::test::Pty;
using tarvo::test::RecordingSink;

namespace {

std::unique_ptr<CWinMonitorCtrl> OpenEngine(Pty& pty, EngineEnvironment env = {})
{
    auto engine = std::make_unique<CWinMonitorCtrl>(std::move(env));
    engine->SetPortNumber(5);
    EXPECT_TRUE(engine->OpenDevice(pty.SlavePath(), 115200)) << engine->OpenError();
    return engine;
}

// Counts identify frames (AA 01 00) in a byte stream.
int CountIdentifies(const std::vector<uint8_t>& bytes)
{
    int n = 0;
    for (std::size_t i = 0; i + 2 < bytes.size(); ++i)
        if (bytes[i] == 0xAA && bytes[i + 1] == 0x01 && bytes[i + 2] == 0x00)
            ++n;
    return n;
}

}  // namespace

TEST(EngineWaitFrame, TimeOutZeroTakesAtMostOneByte)
{
    Pty pty;
    auto engine = OpenEngine(pty);
    pty.Send({0xAA, 0x02, 0x04, 0x00});
    ASSERT_TRUE(engine->Comm().WaitForData(1s));
    std::this_thread::sleep_for(50ms);
    Payload p{};
    int calls = 0;
    while (!engine->WaitFrame(0, p))
        ASSERT_LT(++calls, 4) << "one byte per call";
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(p[0], 2);
    EXPECT_EQ(p[1], 4);
}

TEST(EngineWaitFrame, FrameSplitOverWaitsIsAssembledAndTimeoutsHold)
{
    Pty pty;
    auto engine = OpenEngine(pty);
    Payload p{};
    pty.Send({0x55, 0xAA, 0x06, 0x05});
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(engine->WaitFrame(20, p));  // 100 ms
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, 95ms);
    EXPECT_LT(waited, 400ms);
    pty.Send({0x00, 0x1A, 0x2B, 0x1A, 0x2B});
    EXPECT_TRUE(engine->WaitFrame(200, p));
    EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 7), (std::vector<uint8_t>{6, 5, 0, 0x1A, 0x2B, 0x1A, 0x2B}));
}

TEST(EngineWaitFrame, FailedChannelEndsALongWaitAtOnce)
{
    Pty pty;
    auto engine = OpenEngine(pty);
    pty.HangUp();
    Payload p{};
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(engine->WaitFrame(1000, p));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
}

TEST(EngineWaitFrame, ScaledClockRunsFiftySecondsInAHalf)
{
    Pty pty;
    ScaledClock clock(100.0);
    EngineEnvironment env;
    env.clock = &clock;
    auto engine = OpenEngine(pty, env);
    TargetCommand run;
    run.cw = 10;
    run.param2 = 0x1000;
    TargetConfirmation c;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(engine->ExecuteCommand(10000, run, c));
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, 480ms);
    EXPECT_LT(waited, 2s);
    EXPECT_EQ(pty.Receive(7, 1s), (std::vector<uint8_t>{0xAA, 0x05, 0x0A, 0x00, 0x00, 0x10, 0x00}));
}

TEST(EngineExecute, ChecksRunInOrder)
{
    Pty pty;
    auto engine = OpenEngine(pty);
    TargetCommand erase;
    erase.cw = 4;
    TargetConfirmation c;
    auto answerWith = [&](std::vector<uint8_t> frame) {
        std::thread target([&] {
            pty.Receive(3, 1s);
            pty.Send(frame);
        });
        bool ok = engine->ExecuteCommand(200, erase, c);
        target.join();
        return ok;
    };
    EXPECT_TRUE(answerWith({0xAA, 0x02, 0x04, 0x00}));
    EXPECT_FALSE(answerWith({0xAA, 0x02, 0x04, 0x02}));
    EXPECT_EQ(c.result, 2);
    EXPECT_FALSE(answerWith({0xAA, 0x02, 0x05, 0x00}));
    EXPECT_EQ(c.cw, 5);

    char text[256];
    Payload p{};
    EXPECT_EQ(CWinMonitorCtrl::CheckConfirmation(false, p, 5, c, text, sizeof text), CWinMonitorCtrl::Check::NoAnswer);
    EXPECT_STREQ(text, "No answer from the target ! (CW=5)");
    p = {3, 5, 0, 0};
    EXPECT_EQ(CWinMonitorCtrl::CheckConfirmation(true, p, 5, c, text, sizeof text), CWinMonitorCtrl::Check::Format);
    EXPECT_STREQ(text, "Error in confirmation format ! (CW=5)");
    p = {2, 4, 0};
    EXPECT_EQ(CWinMonitorCtrl::CheckConfirmation(true, p, 5, c, text, sizeof text), CWinMonitorCtrl::Check::CommandWord);
    EXPECT_STREQ(text, "Bad command word ! (CW=4)");
}

TEST(EngineDetect, PollsSilentPortEvery20msWithoutSpinningAndStopsPromptly)
{
    Pty pty;
    RecordingSink sink;
    auto engine = OpenEngine(pty);
    ASSERT_TRUE(engine->Start(&sink));
    std::vector<uint8_t> seen;
    double share = tarvo::test::CpuShare([&] { seen = pty.Drain(5s); });
    int identifies = CountIdentifies(seen);
    EXPECT_EQ(static_cast<std::size_t>(identifies) * 3, seen.size()) << "nothing but identify frames";
    EXPECT_GT(identifies, 100);  // about 250 at one per 20 ms; the machine is shared
    EXPECT_LT(identifies, 260);
    EXPECT_LT(share, tarvo::test::kPollingCpuShare) << share * 100 << " % of a core";

    auto t0 = std::chrono::steady_clock::now();
    engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 300ms);
    EXPECT_TRUE(sink.Events().empty()) << "no target, no report";
}

TEST(EngineDetect, FlashloaderGoesStraightToReady)
{
    Pty pty;
    RecordingSink sink;
    auto engine = OpenEngine(pty);
    ASSERT_TRUE(engine->Start(&sink));
    ASSERT_EQ(pty.Receive(3, 1s).size(), 3u);
    pty.Send({0xAA, 0x05, 0x00, 0x00, 0x01, 0x01, 0x25});
    ASSERT_TRUE(sink.WaitStatus(status::kReadyForDownload, 2s));
    auto statuses = sink.Statuses();
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].code, 1);
    EXPECT_EQ(statuses[0].text, "The flashloader is running. Version 1.2.5.");
    EXPECT_EQ(statuses[0].port, 5);
    EXPECT_EQ(statuses[1].text, "Download Reday End !");
    EXPECT_EQ(engine->LoaderType(), 1);
    EXPECT_EQ(engine->LoaderVersion(), 0x010025);
}

TEST(EngineDetect, HangUpWhilePollingReportsPortLost)
{
    Pty pty;
    RecordingSink sink;
    auto engine = OpenEngine(pty);
    ASSERT_TRUE(engine->Start(&sink));
    pty.Receive(3, 1s);
    auto t0 = std::chrono::steady_clock::now();
    pty.HangUp();
    ASSERT_TRUE(sink.WaitStatus(status::kPortLost, 2s));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    EXPECT_EQ(sink.Statuses().back().text, "Serial Port Lost...");
    for (int i = 0; i < 100 && engine->IsBusy(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(engine->IsBusy()) << "the run has ended";
}

TEST(EngineLifetime, DestroyingWhileAWorkerIsHeldInAReportDoesNotDeadlock)
{
    Pty pty;
    RecordingSink sink;
    sink.Hold();
    auto engine = OpenEngine(pty);
    ASSERT_TRUE(engine->Start(&sink));
    pty.Receive(3, 1s);
    pty.Send({0xAA, 0x05, 0x00, 0x00, 0x02, 0x03, 0x0C});  // bootloader 3.12
    ASSERT_TRUE(sink.WaitHeld(2s)) << "the worker is now blocked inside its first report";

    auto t0 = std::chrono::steady_clock::now();
    engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    EXPECT_TRUE(sink.released());
    auto statuses = sink.Statuses();
    ASSERT_EQ(statuses.size(), 1u) << "nothing is reported after the release";
    EXPECT_EQ(statuses[0].text, "The bootloader is running. Version 3.12.");
}

TEST(EngineLifetime, EnginesThatNeverOpenedOrFinishedDestroyAtOnce)
{
    auto t0 = std::chrono::steady_clock::now();
    {
        CWinMonitorCtrl never;
    }
    {
        tarvo::MapPortDirectory ports({{5, "/dev/tarvo-missing"}});
        EngineEnvironment env;
        env.ports = &ports;
        CWinMonitorCtrl failed(env);
        EXPECT_FALSE(failed.OpenPort(5, 115200));
        EXPECT_NE(failed.OpenError().find("/dev/tarvo-missing"), std::string::npos);
        EXPECT_FALSE(failed.IsBusy());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 100ms);

    RecordingSink sink;
    CWinMonitorCtrl unopened;
    EXPECT_TRUE(unopened.Start(&sink));
    EXPECT_TRUE(sink.WaitStatus(status::kPortLost, 1s)) << "a port that is not open cannot be polled";
}

TEST(EngineLifetime, StartDownloadFailsOnMissingImageWithoutAThread)
{
    Pty pty;
    RecordingSink sink;
    auto engine = OpenEngine(pty);
    EXPECT_FALSE(engine->StartDownload(&sink, "/nonexistent/image.cp64"));
    EXPECT_FALSE(engine->StartDownload(&sink, ""));
    EXPECT_FALSE(engine->IsBusy());
}

TEST(EngineReportQueue, DestroyingAnEngineDropsItsQueuedReportsAndFreesItsWorker)
{
    Pty pty;
    ReportQueue queue;
    auto engine = OpenEngine(pty);
    ASSERT_TRUE(engine->Start(&queue));
    pty.Receive(3, 1s);
    pty.Send({0xAA, 0x05, 0x00, 0x00, 0x01, 0x01, 0x25});
    QueuedReport report;
    ASSERT_TRUE(queue.Pop(report, 2s));
    EXPECT_EQ(report.text, "The flashloader is running. Version 1.2.5.");
    queue.Done();
    std::this_thread::sleep_for(100ms);  // the worker is now waiting with status 0 in the queue

    auto t0 = std::chrono::steady_clock::now();
    engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_FALSE(queue.Pop(report, 100ms)) << "a dying engine's status 0 must not reach the receiver";
}

TEST(EngineTrace, ReceivedBytesAreTracedTwiceWhenATraceIsGiven)
{
    struct Collect : tarvo::ITraceSink {
        std::mutex mutex;
        std::vector<std::string> lines;
        void Trace(const char* line) override
        {
            std::lock_guard lock(mutex);
            lines.emplace_back(line);
        }
    } trace;
    Pty pty;
    EngineEnvironment env;
    env.trace = &trace;
    auto engine = OpenEngine(pty, env);
    pty.Send({0xAA, 0x01, 0x0F});
    Payload p{};
    ASSERT_TRUE(engine->WaitFrame(200, p));
    std::lock_guard lock(trace.mutex);
    EXPECT_EQ(trace.lines, (std::vector<std::string>{"~0xaa~", "~0x01~", "~0x0f~", "[0xaa]", "[0x01]", "[0x0f]"}));
}

TEST(EngineLateAnswers, ALateIdentifyAnswerIsNotTakenForTheNextConfirmation)
{
    // A target that needs a little more than 20 ms answers the second identify too; that answer
    // arrives after the next command went out.
    const std::vector<uint8_t> identifyAnswer = {0xAA, 0x05, 0x00, 0x00, 0x02, 0x03, 0x0C};
    Pty pty;
    auto engine = OpenEngine(pty);

    TargetCommand run;
    run.cw = 10;
    run.param2 = 0x1000;
    TargetConfirmation c;
    std::thread target([&] {
        pty.Receive(7, 1s);
        pty.Send(identifyAnswer);
        pty.Send({0xAA, 0x02, 0x0A, 0x00});
    });
    EXPECT_TRUE(engine->ExecuteCommand(200, run, c));
    target.join();

    // The erase waits on for its own confirmation.
    std::thread eraser([&] {
        pty.Receive(3, 1s);
        pty.Send(identifyAnswer);
        std::this_thread::sleep_for(200ms);
        pty.Send({0xAA, 0x02, 0x04, 0x00});
    });
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(engine->EraseFlash());
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 190ms);
    eraser.join();
}
