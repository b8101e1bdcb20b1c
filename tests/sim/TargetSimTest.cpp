// The simulated handset over its pseudo-terminal, driven byte for byte from the station's side.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>

#include <functional>
#include <memory>

#include "sim/StationSide.h"
#include "tools/sim/TargetSim.h"

namespace tarvo::sim::test {
namespace {

SimConfig FastConfig(Loader loader = Loader::Bootloader)
{
    SimConfig c;
    c.loader = loader;
    if (loader == Loader::Flashloader) {
        c.version1 = 1;
        c.version2 = 0x25;
    }
    c.eraseTime = 20ms;
    return c;
}

// A started simulator with a raw station port on it.
struct Rig {
    explicit Rig(SimConfig config) : sim(std::make_unique<TargetSim>(std::move(config)))
    {
        std::string error;
        started = sim->Start(error);
        EXPECT_TRUE(started) << error;
        if (started)
            port = std::make_unique<StationPort>(sim->DevicePath());
        EXPECT_TRUE(port && port->Ok()) << (port ? port->Error() : "");
    }
    // Writes `request` and returns the raw answer; nothing when none came within `wait`.
    Bytes Exchange(const Bytes& request, std::chrono::milliseconds wait = 200ms)
    {
        EXPECT_TRUE(port->Write(request));
        return port->ReadAnswer(wait);
    }
    std::unique_ptr<TargetSim> sim;
    bool started = false;
    std::unique_ptr<StationPort> port;
};

const Bytes kData1 = {0xAA, 0x00, 0x01, 0x02, 0x03, 0xFE, 0x55, 0xAA};
const Bytes kData2 = {0x10, 0x20, 0x30, 0x40};
const Bytes kMonitor = Concat({Record('0', 0, 2, {'m', 'o', 'n'}), Record('1', 0x2000, 2, kData1),
                               Record('1', 0x2008, 2, kData2), Record('9', 0x2000, 2, {})});
const Bytes kMonitorData = Concat({kData1, kData2});

// Takes a bootloader handset up to a running monitor.
void LoadAndRunMonitor(Rig& rig)
{
    ASSERT_EQ(rig.Exchange(kIdentify), Frame({0, 0, 2, 3, 12}));
    const uint16_t s = Sum16(kMonitorData);
    ASSERT_EQ(rig.Exchange(Concat({kLoadMonitor, kMonitor})), SumsAnswer(9, s, s));
    ASSERT_EQ(rig.Exchange(RunAt(0x2000)), Frame({10, 0}));
}

Bytes Pattern(std::size_t n, uint8_t seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

TEST(TargetSimIdentify, AnswersWithLoaderTypeAndVersion)
{
    Rig boot(FastConfig());
    EXPECT_EQ(boot.Exchange(kIdentify), (Bytes{0xAA, 0x05, 0x00, 0x00, 0x02, 0x03, 0x0C}));
    Rig flash(FastConfig(Loader::Flashloader));
    EXPECT_EQ(flash.Exchange(kIdentify), (Bytes{0xAA, 0x05, 0x00, 0x00, 0x01, 0x01, 0x25}));

    SimConfig c = FastConfig();
    c.version1 = c.version2 = 0xAA;
    Rig stuffed(c);
    EXPECT_EQ(stuffed.Exchange(kIdentify),
              (Bytes{0xAA, 0x07, 0x00, 0x00, 0x02, 0xAA, 0xAA, 0xAA, 0xAA}));
}

TEST(TargetSimIdentify, EveryPollIsAnsweredCountedAndLogged)
{
    Rig rig(FastConfig());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(rig.Exchange(kIdentify), Frame({0, 0, 2, 3, 12}));
    EXPECT_EQ(rig.sim->Status().handset.identifies, 3u);
    EXPECT_EQ(rig.sim->WireReceived(), Concat({kIdentify, kIdentify, kIdentify}));
    EXPECT_EQ(rig.sim->FramesReceived(), (std::vector<Bytes>(3, Bytes{0})));
    const auto events = rig.sim->Events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].kind, SimEvent::Kind::FrameReceived);
    EXPECT_EQ(events[1].kind, SimEvent::Kind::FrameSent);
    EXPECT_EQ(rig.sim->Events(5).size(), 1u);
}

TEST(TargetSimIdentify, Faults)
{
    struct Case {
        const char* name;
        std::function<void(SimFaults&)> set;
        Bytes answer;
    };
    const Case cases[] = {
        {"result", [](SimFaults& f) { f.identifyResult = 4; }, {0xAA, 0x02, 0x00, 0x04}},
        {"short", [](SimFaults& f) { f.identifyShort = true; },
         {0xAA, 0x04, 0x00, 0x00, 0x02, 0x03}},
        {"cw", [](SimFaults& f) { f.identifyCommandWord = 3; }, {0xAA, 0x03, 0x03, 0x00, 0x00}},
        {"garbage", [](SimFaults& f) { f.garbageBytes = 3; },
         {0x00, 0x55, 0x13, 0xAA, 0x05, 0x00, 0x00, 0x02, 0x03, 0x0C}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimConfig config = FastConfig();
        c.set(config.faults);
        Rig rig(config);
        EXPECT_EQ(rig.Exchange(kIdentify), c.answer);
    }
}

TEST(TargetSimIdentify, SilentUntilInsertedOrForever)
{
    SimConfig late = FastConfig();
    late.faults.identifySilent = 3;
    Rig rig(late);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(rig.Exchange(kIdentify, 30ms).empty());
    EXPECT_EQ(rig.Exchange(kIdentify), Frame({0, 0, 2, 3, 12}));

    SimConfig never = FastConfig();
    never.faults.identifyNever = true;
    Rig mute(never);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(mute.Exchange(kIdentify, 20ms).empty());
    EXPECT_EQ(mute.sim->Status().handset.identifies, 5u);
}

TEST(TargetSimIdentify, HangUpWhileStationPolls)
{
    SimConfig c = FastConfig();
    c.faults.hangupAfterIdentify = 2;
    c.linkPath = ::testing::TempDir() + "tarvo-sim-hangup-link";
    Rig rig(c);
    EXPECT_TRUE(rig.Exchange(kIdentify, 30ms).empty());
    ASSERT_TRUE(rig.port->Write(kIdentify));
    EXPECT_TRUE(rig.sim->WaitHungUp(2s));
    EXPECT_TRUE(rig.port->WaitHangUp(2000ms));
    struct stat st {};
    EXPECT_NE(::stat(rig.sim->DevicePath().c_str(), &st), 0) << "the device must be gone";
    EXPECT_NE(::lstat(c.linkPath.c_str(), &st), 0) << "the link must be gone";
    EXPECT_TRUE(rig.sim->WaitUntil([](const SimStatus& st) { return !st.running; }, 1s));
}

TEST(TargetSimCycle, BootloaderCycleByteForByte)
{
    Rig rig(FastConfig());
    LoadAndRunMonitor(rig);
    // The monitor identifies as a flashloader; its data RAM holds the monitor.
    EXPECT_EQ(rig.Exchange(kIdentify), Frame({0, 0, 1, 1, 0}));
    EXPECT_EQ(rig.Exchange(kErase), (Bytes{0xAA, 0x02, 0x04, 0x00}));
    EXPECT_TRUE(rig.Exchange(kDownload).empty()) << "CW 5 has no answer of its own";

    const Bytes a = Pattern(300, 0xA0), b = Pattern(77, 0x33);
    EXPECT_EQ(rig.Exchange(Block(0x00100000, a)), Frame({5, 0}));
    EXPECT_EQ(rig.Exchange(Block(0x00200010, b)), Frame({5, 0}));
    const uint16_t sum = Sum16(Concat({a, b}));
    EXPECT_EQ(rig.Exchange(Termination(0x00100000)), SumsAnswer(5, sum, sum));
    EXPECT_TRUE(rig.sim->WaitCycles(1, 1s));

    EXPECT_EQ(rig.sim->ReadFlash(0x00100000, a.size()), a);
    EXPECT_EQ(rig.sim->ReadFlash(0x00200010, b.size()), b);
    EXPECT_EQ(rig.sim->ReadFlash(0x00200010 + 77, 1), Bytes{0xFF});
    const SimStatus s = rig.sim->Status();
    EXPECT_EQ(s.handset.runAddress, 0x2000u);
    EXPECT_EQ(s.handset.blocksReceived, 2u);
    EXPECT_EQ(s.handset.imageSum, sum);
    EXPECT_EQ(s.handset.flashSum, sum);
    const auto lines = rig.sim->LinesReceived();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5], Block(0x00200010, b));

    // A fresh handset again: the bootloader answers and wants a monitor.
    EXPECT_EQ(rig.Exchange(kIdentify), Frame({0, 0, 2, 3, 12}));
    EXPECT_EQ(rig.Exchange(kErase), Frame({4, 1}));
}

TEST(TargetSimCycle, MonitorAndImageBytesAreStuffedInAnswersOnly)
{
    Rig rig(FastConfig(Loader::Flashloader));
    EXPECT_EQ(rig.Exchange(kLoadMonitor), Frame({9, 1})) << "a flashloader takes no monitor";
    ASSERT_EQ(rig.Exchange(kErase), Frame({4, 0}));
    // Data whose sum is 0x00AA: the answer doubles the 0xAA bytes, the raw line did not.
    const Bytes data = {0x55, 0x55};
    ASSERT_TRUE(rig.port->Write(kDownload));
    EXPECT_EQ(rig.Exchange(Block(0xAAAAAAAA, data)), Frame({5, 0}));
    EXPECT_EQ(rig.Exchange(Termination(0)),
              (Bytes{0xAA, 0x08, 0x05, 0x00, 0x00, 0xAA, 0xAA, 0x00, 0xAA, 0xAA}));
}

TEST(TargetSimCycle, LargestBlockIsTakenWhole)
{
    Rig rig(FastConfig(Loader::Flashloader));
    ASSERT_EQ(rig.Exchange(kErase), Frame({4, 0}));
    const Bytes big = Pattern(0x7FF0, 1);
    ASSERT_TRUE(rig.port->Write(kDownload));
    EXPECT_EQ(rig.Exchange(Block(0x01000000, big)), Frame({5, 0}));
    const uint16_t s = Sum16(big);
    EXPECT_EQ(rig.Exchange(Termination(0)), SumsAnswer(5, s, s));
    EXPECT_EQ(rig.sim->ReadFlash(0x01000000, big.size()), big);
}

TEST(TargetSimCycle, CommandsOutOfPlaceAreRefused)
{
    Rig rig(FastConfig());
    EXPECT_EQ(rig.Exchange(kErase), Frame({4, 1}));
    EXPECT_EQ(rig.Exchange(kDownload), Frame({5, 1}));
    EXPECT_EQ(rig.Exchange(RunAt(0x1000)), Frame({10, 1})) << "no monitor loaded";
    EXPECT_EQ(rig.Exchange(Frame({7, 0, 1, 2})), Frame({7, 9}));
    EXPECT_EQ(rig.Exchange(Frame({12})), Frame({12, 9}));
    EXPECT_EQ(rig.Exchange(Frame({0, 1})), Frame({0, 4}));
    EXPECT_EQ(rig.Exchange(Frame({10, 0, 0})), Frame({10, 4}));
}

TEST(TargetSimCycle, BadRecordChecksumRefusesTheMonitor)
{
    Rig rig(FastConfig());
    Bytes bad = Record('1', 0x2000, 2, kData1);
    bad.back() ^= 0x01;
    EXPECT_EQ(rig.Exchange(Concat({kLoadMonitor, bad, Record('9', 0, 2, {})})), Frame({9, 6}));
    EXPECT_EQ(rig.Exchange(RunAt(0x2000)), Frame({10, 1}));
    EXPECT_EQ(rig.sim->Status().handset.recordErrors, 1u);
}

TEST(TargetSimCycle, BadBlockIsAcknowledgedButNotProgrammed)
{
    Rig rig(FastConfig(Loader::Flashloader));
    ASSERT_EQ(rig.Exchange(kErase), Frame({4, 0}));
    const Bytes data = Pattern(40, 9);
    Bytes bad = Block(0x3000, data);
    bad.back() ^= 0xFF;
    ASSERT_TRUE(rig.port->Write(kDownload));
    EXPECT_EQ(rig.Exchange(bad), Frame({5, 6}));
    EXPECT_EQ(rig.Exchange(Termination(0)),
              SumsAnswer(5, Sum16(data), static_cast<uint16_t>(40 * 0xFF)));
    EXPECT_EQ(rig.sim->Status().handset.blockErrors, 1u);
}

TEST(TargetSimCycle, PollingStationInterruptsADownload)
{
    Rig rig(FastConfig(Loader::Flashloader));
    ASSERT_TRUE(rig.port->Write(kDownload));
    EXPECT_EQ(rig.Exchange(Block(0x10, {1, 2, 3})), Frame({5, 0}));
    EXPECT_EQ(rig.Exchange(kIdentify), Frame({0, 0, 1, 1, 0x25}));
    EXPECT_EQ(rig.sim->Status().state, HandsetState::Resident);
}

// A flashloader download of two blocks with `faults`; returns the station's view of it:
// the answer to each block and to the termination line.
struct DownloadResult {
    Bytes ack1, ack2, final;
    Bytes data1, data2;
};
DownloadResult Download(const std::function<void(SimFaults&)>& set, std::unique_ptr<Rig>& rig)
{
    SimConfig c = FastConfig(Loader::Flashloader);
    set(c.faults);
    rig = std::make_unique<Rig>(c);
    DownloadResult r;
    r.data1 = Pattern(64, 0x11);
    r.data2 = Pattern(32, 0x80);
    rig->Exchange(kErase);
    rig->port->Write(kDownload);
    r.ack1 = rig->Exchange(Block(0x8000, r.data1));
    r.ack2 = rig->Exchange(Block(0x8040, r.data2));
    r.final = rig->Exchange(Termination(0x8000));
    return r;
}

TEST(TargetSimDownloadFaults, EachSwitchShowsOnTheWire)
{
    const uint16_t sum = Sum16(Concat({Pattern(64, 0x11), Pattern(32, 0x80)}));
    const Bytes ack = Frame({5, 0});
    struct Case {
        const char* name;
        std::function<void(SimFaults&)> set;
        Bytes ack2, final;
    };
    const Case cases[] = {
        {"block unacked", [](SimFaults& f) { f.blockUnacked = 2; }, {}, SumsAnswer(5, sum, sum)},
        {"final missing", [](SimFaults& f) { f.finalMissing = true; }, ack, {}},
        {"final short", [](SimFaults& f) { f.finalShort = true; }, ack,
         Frame({5, 0, uint8_t(sum >> 8), uint8_t(sum), uint8_t(sum >> 8)})},
        {"final cw", [](SimFaults& f) { f.finalCommandWord = 4; }, ack, Frame({4, 0})},
        {"final result", [](SimFaults& f) { f.finalResult = 3; }, ack, Frame({5, 3})},
        {"final sums", [](SimFaults& f) { f.finalSums = ForcedSums{0x1A2B, 0x1A2C}; }, ack,
         {0xAA, 0x06, 0x05, 0x00, 0x1A, 0x2B, 0x1A, 0x2C}},
        {"final sums AA", [](SimFaults& f) { f.finalSums = ForcedSums{0xAAAA, 0xAAAA}; }, ack,
         {0xAA, 0x0A, 0x05, 0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Rig> rig;
        const DownloadResult r = Download(c.set, rig);
        EXPECT_EQ(r.ack1, ack);
        EXPECT_EQ(r.ack2, c.ack2);
        EXPECT_EQ(r.final, c.final);
        EXPECT_TRUE(rig->sim->WaitCycles(1, 1s)) << "the cycle ends, answered or not";
    }
}

TEST(TargetSimDownloadFaults, CorruptBlockMakesTheSumsDiffer)
{
    std::unique_ptr<Rig> rig;
    const DownloadResult r = Download([](SimFaults& f) { f.blockCorrupt = 2; }, rig);
    const uint16_t sum = Sum16(Concat({r.data1, r.data2}));
    // The first data byte of block 2 (0x80) is programmed as 0x81.
    EXPECT_EQ(r.final, SumsAnswer(5, sum, static_cast<uint16_t>(sum + 1)));
    EXPECT_EQ(rig->sim->ReadFlash(0x8040, 1), Bytes{0x81});
}

TEST(TargetSimDownloadFaults, HangUpAfterABlock)
{
    SimConfig c = FastConfig(Loader::Flashloader);
    c.faults.hangupAfterBlock = 2;
    Rig rig(c);
    ASSERT_TRUE(rig.port->Write(kDownload));
    EXPECT_EQ(rig.Exchange(Block(0, {1})), Frame({5, 0}));
    ASSERT_TRUE(rig.port->Write(Block(1, {2})));
    EXPECT_TRUE(rig.port->WaitHangUp(2000ms));
    EXPECT_TRUE(rig.sim->Status().hungUp);
    EXPECT_FALSE(rig.port->Write(Block(2, {3}), 100ms));
}

// Milliseconds from writing `request` to the first byte of the answer.
double AnswerDelayMs(Rig& rig, const Bytes& request)
{
    const auto start = Clock::now();
    rig.port->Write(request);
    if (rig.port->Read(1, 5000ms).empty())
        return -1;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    rig.port->ReadUntilQuiet(30ms);
    return ms;
}

TEST(TargetSimTiming, DelaysRunTimeScaleTimesFaster)
{
    SimConfig c = FastConfig(Loader::Flashloader);
    c.eraseTime = 4000ms;
    c.timeScale = 40;  // 100 ms
    c.faults.blockDelayIndex = 2;
    c.faults.blockDelay = 6000ms;  // 150 ms
    Rig rig(c);
    const double erase = AnswerDelayMs(rig, kErase);
    EXPECT_GE(erase, 95);
    EXPECT_LT(erase, 1000);
    rig.port->Write(kDownload);
    EXPECT_LT(AnswerDelayMs(rig, Block(0, {1})), 80) << "only block 2 is late";
    const double late = AnswerDelayMs(rig, Block(1, {2}));
    EXPECT_GE(late, 145);
    EXPECT_LT(late, 1000);
}

TEST(TargetSimTiming, EraseFaults)
{
    SimConfig refused = FastConfig(Loader::Flashloader);
    refused.faults.eraseResult = 2;
    Rig r1(refused);
    EXPECT_EQ(r1.Exchange(kErase), (Bytes{0xAA, 0x02, 0x04, 0x02}));

    SimConfig silent = FastConfig(Loader::Flashloader);
    silent.faults.eraseUnconfirmed = true;
    Rig r2(silent);
    EXPECT_TRUE(r2.Exchange(kErase, 150ms).empty());
    EXPECT_EQ(r2.sim->Status().handset.erases, 1u);
}

TEST(TargetSimTiming, MonitorFaults)
{
    struct Case {
        const char* name;
        std::function<void(SimFaults&)> set;
        std::function<Bytes(uint16_t)> load;  // the load answer from the file sum
        Bytes run;
    };
    const Case cases[] = {
        {"unconfirmed", [](SimFaults& f) { f.monitorUnconfirmed = true; },
         [](uint16_t) { return Bytes{}; }, Frame({10, 0})},
        // The first data byte, 0xAA, lands in RAM as 0xAB.
        {"corrupt", [](SimFaults& f) { f.monitorCorrupt = true; },
         [](uint16_t s) { return SumsAnswer(9, s, static_cast<uint16_t>(s + 1)); }, Frame({10, 0})},
        {"forced sums", [](SimFaults& f) { f.monitorSums = ForcedSums{0xAA12, 0x34AA}; },
         [](uint16_t) { return Bytes{0xAA, 0x08, 0x09, 0x00, 0xAA, 0xAA, 0x12, 0x34, 0xAA, 0xAA}; },
         Frame({10, 0})},
        {"run unconfirmed", [](SimFaults& f) { f.runUnconfirmed = true; },
         [](uint16_t s) { return SumsAnswer(9, s, s); }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimConfig config = FastConfig();
        c.set(config.faults);
        Rig rig(config);
        EXPECT_EQ(rig.Exchange(Concat({kLoadMonitor, kMonitor})), c.load(Sum16(kMonitorData)));
        EXPECT_EQ(rig.Exchange(RunAt(0x2000)), c.run);
    }
}

TEST(TargetSimTiming, PacingTakesWireTimeBothWays)
{
    // 9600 bit/s: 960 bytes a second.
    SimConfig c = FastConfig(Loader::Flashloader);
    c.baud = 9600;
    Rig rig(c);
    rig.port->Write(kDownload);
    const Bytes block = Block(0x100, Pattern(475, 3));  // 484 bytes on the wire
    const double in = AnswerDelayMs(rig, block);
    EXPECT_GE(in, 484 * 1000.0 / 960 * 0.95);
    EXPECT_LT(in, 484 * 1000.0 / 960 + 700);

    SimConfig junk = FastConfig();
    junk.baud = 9600;
    junk.timeScale = 2;  // 1920 bytes a second
    junk.faults.garbageBytes = 400;
    Rig out(junk);
    const auto start = Clock::now();
    out.port->Write(kIdentify);
    EXPECT_EQ(out.port->Read(407, 5000ms).size(), 407u);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_GE(ms, 410 * 1000.0 / 1920 * 0.95);
    EXPECT_LT(ms, 410 * 1000.0 / 1920 + 700);
}

double CpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

TEST(TargetSimDevice, LeftCookedAndStationSettingsPersist)
{
    TargetSim sim(FastConfig());
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    termios t{};
    {
        StationPort cooked(sim.DevicePath(), false);
        ASSERT_TRUE(cooked.Ok());
        ASSERT_EQ(::tcgetattr(cooked.Fd(), &t), 0);
        EXPECT_TRUE(t.c_lflag & ICANON);
        EXPECT_TRUE(t.c_lflag & ECHO);
    }
    {
        StationPort raw(sim.DevicePath());
        ASSERT_TRUE(raw.Ok());
        ASSERT_EQ(::ioctl(raw.Fd(), TIOCEXCL), 0);
        raw.Write(kIdentify);
        EXPECT_EQ(raw.ReadFrame(1000ms), (Bytes{0, 0, 2, 3, 12}));
    }
    // No station now: the handset waits without spinning on the master's hang-up.
    const double cpu = CpuMs();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(CpuMs() - cpu, 60);

    StationPort again(sim.DevicePath(), false);
    ASSERT_TRUE(again.Ok());
    ASSERT_EQ(::tcgetattr(again.Fd(), &t), 0);
    EXPECT_FALSE(t.c_lflag & ICANON) << "the last station's raw mode is kept";
    int exclusive = -1;
    ASSERT_EQ(::ioctl(again.Fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the last station's exclusive flag would refuse the next open";
}

TEST(TargetSimDevice, StopIsPromptAndRemovesTheDevice)
{
    SimConfig c = FastConfig(Loader::Flashloader);
    c.eraseTime = std::chrono::milliseconds(100'000);
    c.baud = 300;
    TargetSim sim(c);
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    StationPort port(sim.DevicePath());
    port.Write(Concat({kErase, kIdentify, kIdentify}));
    std::this_thread::sleep_for(150ms);
    const auto start = Clock::now();
    sim.Stop();
    EXPECT_LT(Clock::now() - start, 200ms);
    EXPECT_FALSE(sim.Status().running);
    struct stat st {};
    EXPECT_NE(::stat(sim.DevicePath().c_str(), &st), 0);
    sim.Stop();  // again: nothing
}

TEST(TargetSimDevice, LinkIsMadeReplacedAndRemoved)
{
    const std::string link = ::testing::TempDir() + "tarvo-sim-link";
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink("/nonexistent-stale-device", link.c_str()), 0);
    {
        SimConfig c = FastConfig();
        c.linkPath = link;
        TargetSim sim(c);
        std::string error;
        ASSERT_TRUE(sim.Start(error)) << error;
        StationPort port(link);
        ASSERT_TRUE(port.Ok()) << port.Error();
        port.Write(kIdentify);
        EXPECT_EQ(port.ReadFrame(1000ms), (Bytes{0, 0, 2, 3, 12}));
        EXPECT_FALSE(sim.Start(error)) << "a simulator starts once";
    }
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);

    // A file that is not a link is never replaced.
    { FILE* f = std::fopen(link.c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
    SimConfig c = FastConfig();
    c.linkPath = link;
    TargetSim sim(c);
    std::string error;
    EXPECT_FALSE(sim.Start(error));
    EXPECT_NE(error.find(link), std::string::npos) << error;
    EXPECT_EQ(::lstat(link.c_str(), &st), 0);
    ::unlink(link.c_str());

    SimConfig bad = FastConfig();
    bad.timeScale = 0;
    TargetSim badSim(bad);
    EXPECT_FALSE(badSim.Start(error));
}

TEST(TargetSimDevice, LogsAreBoundedAndWaitsTimeOut)
{
    SimConfig c = FastConfig();
    c.wireLogLimit = 10;
    c.eventLogLimit = 1;  // keeps only the newest event
    Rig rig(c);
    for (int i = 0; i < 4; ++i)
        rig.Exchange(kIdentify);
    EXPECT_EQ(rig.sim->WireReceived().size(), 10u);
    EXPECT_EQ(rig.sim->WireSent().size(), 10u);
    const auto events = rig.sim->Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].sequence, 7u);
    EXPECT_EQ(rig.sim->Status().bytesReceived, 12u);

    const auto start = Clock::now();
    EXPECT_FALSE(rig.sim->WaitCycles(1, 100ms));
    EXPECT_GE(Clock::now() - start, 100ms);
    rig.sim->ClearLogs();
    EXPECT_TRUE(rig.sim->WireReceived().empty());
}

}  // namespace
}  // namespace tarvo::sim::test
