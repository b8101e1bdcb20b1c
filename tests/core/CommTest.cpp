// The serial channel over pseudo-terminals: raw transfer of every byte value, ring order and
// overrun, exclusive open, purge, and what happens when the device disappears.

#include <gtest/gtest.h>

#include <numeric>
#include <thread>

#include "serial/Comm.h"
#include "serial/PortDirectory.h"
#include "support/Cpu.h"
#include "support/Pty.h"

using namespace std::chrono_literals;
using tarvo::CComm;
using tarvo::test::Pty;

namespace {

std::vector<uint8_t> TakeAll(CComm& comm, std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<uint8_t> out;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
        uint8_t b;
        if (comm.TakeByte(b))
            out.push_back(b);
        else
            comm.WaitForData(10ms);
    }
    return out;
}





}  // namespace

TEST(CommLifecycle, ClosedChannelRefusesEverything)
{
    CComm comm;
    uint32_t written = 99;
    uint8_t data[3] = {1, 2, 3};
    EXPECT_FALSE(comm.Write(data, 3, written));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(comm.Close());
    uint8_t b;
    EXPECT_FALSE(comm.TakeByte(b));
    EXPECT_FALSE(comm.WaitForData(0ms));
}

TEST(CommLifecycle, MissingDeviceFailsWithItsNameAndReason)
{
    tarvo::MapPortDirectory ports({{5, "/dev/tarvo-no-such-device"}});
    CComm comm(&ports);
    EXPECT_FALSE(comm.Open(5, 115200));
    EXPECT_NE(comm.LastError().find("/dev/tarvo-no-such-device"), std::string::npos);
    EXPECT_NE(comm.LastError().find("no such device"), std::string::npos);
    EXPECT_FALSE(comm.Close());
}

TEST(CommLifecycle, DefaultDirectoryNamesTtyS)
{
    EXPECT_EQ(tarvo::DefaultDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(tarvo::DefaultDevicePath(12), "/dev/ttyS11");
    tarvo::MapPortDirectory ports({{5, "/dev/serial/by-path/x"}});
    EXPECT_EQ(ports.DevicePath(5), "/dev/serial/by-path/x");
    EXPECT_EQ(ports.DevicePath(6), "/dev/ttyS5");
}

TEST(CommLifecycle, OpenCloseAndSecondCloseAndWriteAfterClose)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200)) << comm.LastError();
    EXPECT_TRUE(comm.IsRunning());
    EXPECT_FALSE(comm.OpenDevice(pty.SlavePath(), 115200)) << "a channel opens once";
    EXPECT_TRUE(comm.Close());
    EXPECT_FALSE(comm.Close());
    uint32_t written = 7;
    uint8_t byte = 0x55;
    EXPECT_FALSE(comm.Write(&byte, 1, written));
    EXPECT_EQ(written, 0u);
}

TEST(CommLifecycle, SecondOpenOfOneDeviceIsRefusedUntilTheFirstCloses)
{
    Pty pty;
    CComm first, second, third;
    ASSERT_TRUE(first.OpenDevice(pty.SlavePath(), 115200));
    EXPECT_FALSE(second.OpenDevice(pty.SlavePath(), 115200));
    EXPECT_NE(second.LastError().find("in use"), std::string::npos) << second.LastError();
    first.Close();
    EXPECT_TRUE(third.OpenDevice(pty.SlavePath(), 115200)) << third.LastError();
}

TEST(CommTransfer, FrameBytesLeaveInOrder)
{
    Pty pty;
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200));
    uint32_t written = 0;
    const uint8_t frame[] = {0xAA, 0x01, 0x00};
    EXPECT_TRUE(comm.Write(frame, 3, written));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(pty.Receive(3, 1s), (std::vector<uint8_t>{0xAA, 0x01, 0x00}));
}

TEST(CommTransfer, EveryByteValuePassesUnchangedBothWays)
{
    // A wrong termios flag turns 0x0D into 0x0A, swallows 0x11/0x13 or echoes input.
    Pty pty;
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200));
    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);

    uint32_t written = 0;
    comm.Write(all.data(), 256, written);
    EXPECT_EQ(pty.Receive(256, 2s), all);

    pty.Send(all);
    EXPECT_EQ(TakeAll(comm, 256, 2s), all);
    EXPECT_TRUE(pty.Drain(100ms).empty()) << "nothing may be echoed back";
}

TEST(CommTransfer, LargeWriteReturnsQuicklyAndArrivesWhole)
{
    Pty pty;
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200));
    std::vector<uint8_t> block(100000);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 7 + 3);
    std::vector<uint8_t> tail = {1, 2, 3};

    uint32_t written = 0;
    auto t0 = std::chrono::steady_clock::now();
    comm.Write(block.data(), static_cast<int>(block.size()), written);
    comm.Write(tail.data(), 3, written);
    auto held = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(held, 200ms) << "the nobody-reads device must not hold the writer";

    auto got = pty.Receive(block.size() + 3, 5s);
    ASSERT_EQ(got.size(), block.size() + 3);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), got.begin()));
    EXPECT_EQ(std::vector<uint8_t>(got.end() - 3, got.end()), tail) << "successive writes keep call order";
}

TEST(CommRing, BurstOf4999ReadBackInOrderAcrossTheWrap)
{
    Pty pty;
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200));
    // Move the indices near the end first, so the burst wraps from 4999 to 0.
    std::vector<uint8_t> first(3000, 0x11);
    pty.Send(first);
    ASSERT_EQ(TakeAll(comm, 3000, 2s).size(), 3000u);

    std::vector<uint8_t> burst(4999);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<uint8_t>(i % 251);
    pty.Send(burst);
    std::this_thread::sleep_for(300ms);  // let the whole burst reach the ring untaken
    EXPECT_EQ(TakeAll(comm, 4999, 2s), burst);
    EXPECT_EQ(comm.DroppedBytes(), 0u);
}

TEST(CommRing, OverrunKeepsTheOldestAndCountsTheDropped)
{
    Pty pty;
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200));
    std::vector<uint8_t> flood(5500);
    for (std::size_t i = 0; i < flood.size(); ++i)
        flood[i] = static_cast<uint8_t>(i % 253);
    pty.Send(flood);
    std::this_thread::sleep_for(500ms);
    auto got = TakeAll(comm, 5500, 300ms);
    ASSERT_EQ(got.size(), 4999u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), flood.begin()));
    EXPECT_EQ(comm.DroppedBytes(), 501u);
}

TEST(CommRing, PurgeAndDiscardDropUnreadBytesOnly)
{
    Pty pty;
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200));
    pty.Send({1, 2, 3});
    ASSERT_TRUE(comm.WaitForData(1s));
    std::this_thread::sleep_for(50ms);
    comm.Purge();
    uint8_t b;
    EXPECT_FALSE(comm.TakeByte(b));
    pty.Send({4});
    EXPECT_EQ(TakeAll(comm, 1, 1s), std::vector<uint8_t>{4});

    pty.Send({5, 6});
    ASSERT_TRUE(comm.WaitForData(1s));
    std::this_thread::sleep_for(50ms);
    comm.DiscardReceived();
    EXPECT_FALSE(comm.TakeByte(b));
}

TEST(CommWait, WaitReturnsWhenDataArrivesAndTimesOutOtherwise)
{
    Pty pty;
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(comm.WaitForData(100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 95ms);

    std::thread sender([&] {
        std::this_thread::sleep_for(50ms);
        pty.Send({0x42});
    });
    t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(comm.WaitForData(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    sender.join();
}

TEST(CommFailure, HangUpFailsTheChannelReleasesTheDeviceAndEndsWaits)
{
    Pty pty;
    CComm comm;
    ASSERT_TRUE(comm.OpenDevice(pty.SlavePath(), 115200));
    pty.Send({0x33});
    ASSERT_TRUE(comm.WaitForData(1s));
    pty.HangUp();
    for (int i = 0; i < 100 && !comm.HasFailed(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(comm.HasFailed());
    EXPECT_FALSE(comm.LastError().empty());

    uint8_t b;
    EXPECT_TRUE(comm.TakeByte(b)) << "bytes received before the hang-up stay readable";
    EXPECT_EQ(b, 0x33);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(comm.WaitForData(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 50ms) << "a failed channel ends a wait at once";
    uint32_t written = 0;
    EXPECT_FALSE(comm.Write(&b, 1, written));

    t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(comm.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 250ms);
}

TEST(CommCpu, IdleAndFailedChannelsDoNotSpin)
{
    Pty idle, dead;
    CComm idleComm, deadComm;
    ASSERT_TRUE(idleComm.OpenDevice(idle.SlavePath(), 115200));
    ASSERT_TRUE(deadComm.OpenDevice(dead.SlavePath(), 115200));
    dead.HangUp();
    double share = tarvo::test::CpuShare([] { std::this_thread::sleep_for(5s); });
    EXPECT_LT(share, tarvo::test::kIdleCpuShare) << "an idle and a failed channel together used " << share * 100 << " % of a core";
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(idleComm.Close());
    EXPECT_TRUE(deadComm.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 250ms) << "Close wakes the receive thread at once";
}
