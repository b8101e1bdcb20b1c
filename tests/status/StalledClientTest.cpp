// A client that stops reading its event stream never holds up the station: the model's updates
// (what an engine's reports become) stay quick while the client's buffer fills, the client is
// dropped, and the next client is served.

#include <gtest/gtest.h>

#include <sys/socket.h>

#include "status/StationModel.h"
#include "status/StatusHarness.h"
#include "status/StatusServer.h"

using namespace tarvo;
using namespace tarvo::test;

TEST(StatusStalledClient, IsDroppedWhileUpdatesStayQuick)
{
    status::StationModel model;
    model.SetStation("bench", "1.0", "");
    model.AddPort(5, "/dev/ttyUSB0", "1-1.4");
    status::StatusServer server(model);
    std::string error;
    ASSERT_TRUE(server.Start(status::ListenAddress{"127.0.0.1", 0}, error)) << error;

    // The stalled client: a small receive buffer, and it never reads.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(server.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string request = "GET /events HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    ASSERT_TRUE(WaitFor([&] { return server.EventClients() == 1; }, 5s));

    // Far more than the client's buffer and the sockets' buffers hold: 200,000 progress reports
    // with a long text each (about 40 MB of events).
    const std::string text(150, 'x');
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int i = 0; i < 200000; ++i) {
        const auto before = std::chrono::steady_clock::now();
        if (i % 2 == 0)
            model.OnProgress(5, i % 100, i, 200000);
        else
            model.OnStatus(5, 1, text, "");
        slowest = std::max(slowest, std::chrono::steady_clock::now() - before);
    }
    // A wait for the client would cost its write time-out (1 s); an update takes microseconds.
    EXPECT_LT(slowest, 250ms) << "an update waited for the client";
    EXPECT_TRUE(WaitFor([&] { return server.EventClients() == 0; }, 5s)) << "the stalled client was kept";
    ::close(fd);

    // The next client is served as usual.
    EventStream next(server.Port());
    ASSERT_TRUE(WaitFor([&] { return server.EventClients() == 1; }, 5s));
    model.OnProgress(5, 100, 200000, 200000);
    server.Finish(1s);
    ASSERT_TRUE(next.WaitEnded(3s));
    const auto events = next.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events.front().first, "status");
    EXPECT_NE(events.front().second.find("\"location\":\"1-1.4\""), std::string::npos);
    EXPECT_EQ(events.back().second, R"({"port":5,"progress":100,"position":200000,"size":200000})");
}
