// The line page (tarvo-cli line) against a real PostgreSQL server holding records of three
// stations: /api/line gives each station's last record, its silence, the counts and yields of
// the last hour and of today, units per hour and top failure reasons as the views compute
// them; /metrics the same as tarvo_line_* series; / a page under a same-origin policy; and
// with the server away, an answer naming the server's error within seconds.

#include <gtest/gtest.h>

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "record/Identity.h"
#include "record/LineDatabase.h"
#include "record/PgServer.h"

using namespace std::chrono_literals;
using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::PgServer;
using tarvo::test::PgSuite;

namespace {

// tarvo-cli line as a child process on a free loopback port, ended with SIGTERM.
class LineProcess {
public:
    explicit LineProcess(const std::string& url)
    {
        int out[2];
        if (::pipe(out) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            ::execl(TARVO_CLI_PATH, TARVO_CLI_PATH, "line", "--db", url.c_str(), "--listen", "127.0.0.1:0",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        // "line page: http://127.0.0.1:PORT/ (...)"
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        const auto colon = line.find("127.0.0.1:");
        if (colon != std::string::npos)
            m_port = std::atoi(line.c_str() + colon + 10);
    }
    ~LineProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    int Port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

std::string Ago(std::chrono::seconds age)
{
    return IsoUtc(std::chrono::system_clock::now() - age);
}

class LinePage : public PgSuite {
protected:
    void SetUp() override
    {
        PgSuite::SetUp();
        if (!Ready())
            return;
        ASSERT_EQ(server->Sql(PgServer::kDropSchema), "");
    }

    void Add(const std::string& station, std::chrono::seconds age, const char* result, const char* reason = nullptr,
             const char* text = nullptr)
    {
        RunRecord r;
        r.run_id = station + "-" + std::to_string(records.size());
        r.station = station;
        r.port = 5;
        r.started_at = Ago(age);
        r.ended_at = Ago(age - 1s);
        r.result = result;
        r.total_ms = 60000;
        if (reason)
            r.reason = reason;
        if (text)
            r.text = text;
        records.push_back(r);
    }

    std::vector<RunRecord> records;
};

// Seconds since today's UTC midnight: records older than that belong to yesterday.
std::chrono::seconds SinceMidnight()
{
    const std::time_t now = std::time(nullptr);
    return std::chrono::seconds(now % 86400);
}

TEST_F(LinePage, ApiAndMetricsOfThreeStations)
{
    const auto today = SinceMidnight();
    // Assembly 1: busy and current. Within the last two minutes (today too unless the test
    // runs in the first two minutes of the UTC day).
    Add("Assembly 1", 100s, "PASS");
    Add("Assembly 1", 90s, "PASS");
    Add("Assembly 1", 80s, "FAIL", "checksum mismatch");
    Add("Assembly 1", 70s, "ERROR", nullptr, "Serial Port Lost...");
    Add("Assembly 1", 60s, "FAIL", "checksum mismatch");
    Add("Assembly 1", 50s, "NO TARGET");
    Add("Assembly 1", 40s, "PASS");
    Add("Assembly 1", 26h, "FAIL", "yesterday's fault");  // neither this hour nor today
    // Rework 2: ran in the last hour, nothing for 20 minutes: silent.
    Add("Rework 2", 30min, "PASS");
    Add("Rework 2", 25min, "PASS");
    Add("Rework 2", 20min, "ERROR", "device lost");
    // Spare 3: nothing in the last hour: quiet, but not flagged.
    Add("Spare 3", 3h, "PASS");
    LineDatabase db;
    std::string error;
    ASSERT_TRUE(db.Connect(server->Url(), 5000, error)) << error;
    ASSERT_TRUE(db.Insert(records, error)) << error;

    LineProcess line(server->Url());
    ASSERT_GT(line.Port(), 0);
    httplib::Client client("127.0.0.1", line.Port());
    client.set_read_timeout(10, 0);
    auto res = client.Get("/api/line");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const std::string& body = res->body;

    const bool a1Today = today > 100s;
    const std::string a1Window = R"({"runs":7,"pass":3,"fail":2,"error":1,"yield":0.5000})";
    EXPECT_NE(body.find(R"({"station":"Assembly 1","last_record_at":")" + Ago(39s).substr(0, 15)), std::string::npos) << body;
    EXPECT_NE(body.find(R"(,"silent":false,"hour":)" + a1Window + R"(,"today":)" +
                        (a1Today ? a1Window : R"({"runs":0,"pass":0,"fail":0,"error":0,"yield":null})") +
                        R"(,"units_per_hour":6,"top_reasons":[)" +
                        (a1Today ? R"({"reason":"checksum mismatch","count":2},{"reason":"Serial Port Lost...","count":1})" : "") +
                        "]}"),
              std::string::npos)
        << body;

    const bool r2Today = today > 30min;
    const std::string r2Window = R"({"runs":3,"pass":2,"fail":0,"error":1,"yield":0.6667})";
    EXPECT_NE(body.find(R"({"station":"Rework 2",)"), std::string::npos) << body;
    EXPECT_NE(body.find(R"(,"silent":true,"hour":)" + r2Window), std::string::npos) << body;
    if (r2Today) {
        EXPECT_NE(body.find(R"("units_per_hour":3,"top_reasons":[{"reason":"device lost","count":1}]})"), std::string::npos)
            << body;
    }

    EXPECT_NE(body.find(R"({"station":"Spare 3",)"), std::string::npos) << body;
    EXPECT_NE(body.find(R"(,"silent":false,"hour":{"runs":0,"pass":0,"fail":0,"error":0,"yield":null})"), std::string::npos)
        << body;

    // The same numbers as Prometheus series.
    res = client.Get("/metrics");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("tarvo_line_runs{station=\"Assembly 1\",window=\"hour\"} 7"), std::string::npos) << res->body;
    EXPECT_NE(res->body.find("tarvo_line_results{result=\"FAIL\",station=\"Assembly 1\",window=\"hour\"} 2"),
              std::string::npos)
        << res->body;
    EXPECT_NE(res->body.find("tarvo_line_silent{station=\"Rework 2\"} 1"), std::string::npos) << res->body;
    EXPECT_NE(res->body.find("tarvo_line_units_per_hour{station=\"Spare 3\"} 0"), std::string::npos) << res->body;

    // The page and its parts, same-origin only; nothing but GET.
    res = client.Get("/");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Security-Policy"), "default-src 'self'");
    EXPECT_NE(res->body.find("<script src=\"/line.js\">"), std::string::npos);
    EXPECT_EQ(client.Get("/line.js")->status, 200);
    EXPECT_EQ(client.Get("/nothing")->status, 404);
    EXPECT_GE(client.Post("/api/line", "x", "text/plain")->status, 400);
}

TEST_F(LinePage, ServerAwayIsAnsweredWithItsError)
{
    LineProcess line("postgresql://tarvo@127.0.0.1:1/postgres");
    ASSERT_GT(line.Port(), 0);
    httplib::Client client("127.0.0.1", line.Port());
    client.set_read_timeout(10, 0);
    const auto start = std::chrono::steady_clock::now();
    auto res = client.Get("/api/line");
    ASSERT_TRUE(res);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(res->status, 503);
    EXPECT_NE(res->body.find("line database postgresql://tarvo@127.0.0.1:1/postgres: cannot connect"), std::string::npos)
        << res->body;
    EXPECT_EQ(client.Get("/metrics")->status, 503);
}

}  // namespace
