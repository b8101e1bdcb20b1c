// An event stream costs the station a bounded number of wake-ups and writes, however many
// events the ports make: a burst of reports (64 ports ending a block at once) reaches a client
// in a few writes gathered over the server's batching interval, not one write per event, and
// nothing of it is lost or reordered.

#include <gtest/gtest.h>

#include "status/StationModel.h"
#include "status/StatusHarness.h"
#include "status/StatusServer.h"

using namespace tarvo;
using namespace tarvo::test;

namespace {

// The data of each chunk of a chunked HTTP response (`text`: the whole response).
std::vector<std::string> Chunks(const std::string& text)
{
    std::vector<std::string> chunks;
    std::size_t at = text.find("\r\n\r\n");
    if (at == std::string::npos)
        return chunks;
    at += 4;
    while (at < text.size()) {
        const std::size_t lineEnd = text.find("\r\n", at);
        if (lineEnd == std::string::npos)
            break;
        const std::size_t size = std::stoul(text.substr(at, lineEnd - at), nullptr, 16);
        if (size == 0 || lineEnd + 2 + size > text.size())
            break;
        chunks.push_back(text.substr(lineEnd + 2, size));
        at = lineEnd + 2 + size + 2;
    }
    return chunks;
}

}  // namespace

TEST(StatusEventBatch, BurstOfReportsReachesAClientInFewWrites)
{
    status::StationModel model;
    model.SetStation("bench", "1.0", "");
    for (int port = 5; port < 69; ++port)
        model.AddPort(port, "/dev/ttyUSB" + std::to_string(port), std::nullopt);
    status::StatusServer server(model);
    std::string error;
    ASSERT_TRUE(server.Start(status::ListenAddress{"127.0.0.1", 0}, error)) << error;

    Connection client(server.Port());
    ASSERT_TRUE(client.Ok());
    client.Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_NE(client.Read(5s, "event: status").find("event: status"), std::string::npos);

    // 64 reports spread over about 60 ms, as 64 ports' progress arrives: each one alone would
    // wake the client's thread for a write of its own.
    const auto begin = std::chrono::steady_clock::now();
    for (int port = 5; port < 69; ++port) {
        model.OnProgress(port, 50, 1000, 2000);
        std::this_thread::sleep_for(1ms);
    }
    const auto spread = std::chrono::steady_clock::now() - begin;
    server.Finish(2s);
    const std::string text = client.Read(5s, "\r\n0\r\n\r\n");

    std::vector<std::string> withReports;
    std::string reports;
    for (const std::string& chunk : Chunks(text)) {
        if (chunk.find("event: report") == std::string::npos)
            continue;
        withReports.push_back(chunk);
        reports += chunk;
    }
    // Every report arrived, in order.
    std::size_t at = 0;
    for (int port = 5; port < 69; ++port) {
        at = reports.find("{\"port\":" + std::to_string(port) + ",\"progress\":50", at);
        ASSERT_NE(at, std::string::npos) << "port " << port << " missing or out of order";
    }
    // At most one write per batching interval the burst spanned, and one more for its start.
    const auto intervals = spread / status::StatusServer::kEventBatch + 2;
    EXPECT_LE(static_cast<long>(withReports.size()), static_cast<long>(intervals))
        << withReports.size() << " writes for 64 reports over "
        << std::chrono::duration_cast<std::chrono::milliseconds>(spread).count() << " ms";
}
