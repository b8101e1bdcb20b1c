// The report gate: a worker waits until its report was handled, and never once its engine is
// being released.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "station/ReportGate.h"

namespace tarvo::station {
namespace {

using namespace std::chrono_literals;

TEST(ReportGate, WorkerWaitsUntilTheReportIsHandled)
{
    ReportGate gate;
    int engine = 0;
    const auto ticket = gate.Register(&engine);
    auto pass = gate.Enter(&engine);
    ASSERT_TRUE(pass);
    EXPECT_EQ(pass->ticket, ticket);
    auto waited = std::async(std::launch::async, [&] { gate.Wait(pass); });
    EXPECT_EQ(waited.wait_for(50ms), std::future_status::timeout);
    gate.Finish(pass);
    EXPECT_EQ(waited.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(gate.Waiting(), 0u);
}

TEST(ReportGate, ReleaseEndsTheWaitAndDropsLaterReports)
{
    ReportGate gate;
    int engine = 0;
    const auto ticket = gate.Register(&engine);
    auto pass = gate.Enter(&engine);
    auto waited = std::async(std::launch::async, [&] { gate.Wait(pass); });
    EXPECT_EQ(waited.wait_for(30ms), std::future_status::timeout);
    gate.Release(&engine);
    EXPECT_EQ(waited.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(gate.IsLive(ticket));
    EXPECT_EQ(gate.Enter(&engine), nullptr);
    gate.Release(&engine);  // repeated by the engine's destructor: harmless
    // A handler that still runs afterwards finds nobody waiting.
    gate.Finish(pass);
}

TEST(ReportGate, AReplacementAtTheSameAddressGetsANewTicket)
{
    ReportGate gate;
    int engine = 0;
    const auto first = gate.Register(&engine);
    gate.Release(&engine);
    gate.Forget(&engine);
    const auto second = gate.Register(&engine);
    EXPECT_NE(first, second);
    EXPECT_FALSE(gate.IsLive(first));
    EXPECT_TRUE(gate.IsLive(second));
    auto pass = gate.Enter(&engine);
    ASSERT_TRUE(pass);
    EXPECT_EQ(pass->ticket, second);
}

TEST(ReportGate, UnknownEnginesAreDropped)
{
    ReportGate gate;
    int engine = 0;
    EXPECT_EQ(gate.Enter(&engine), nullptr);
    gate.Wait(nullptr);  // returns at once
}

TEST(ReportGate, ManyWorkersOfTwoEnginesReleaseIndependently)
{
    ReportGate gate;
    int a = 0;
    int b = 0;
    gate.Register(&a);
    gate.Register(&b);
    std::atomic<int> returned{0};
    std::vector<ReportGate::PassPtr> passesOfB;
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        auto passA = gate.Enter(&a);
        auto passB = gate.Enter(&b);
        passesOfB.push_back(passB);
        workers.emplace_back([&, passA] { gate.Wait(passA); ++returned; });
        workers.emplace_back([&, passB] { gate.Wait(passB); ++returned; });
    }
    gate.Release(&a);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (returned.load() < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(returned.load(), 4);  // only engine a's workers
    for (auto& pass : passesOfB)
        gate.Finish(pass);
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(returned.load(), 8);
}

}  // namespace
}  // namespace tarvo::station
