// The bounds of every wait on the line database, against a real PostgreSQL server and a
// loopback listener that accepts connections and never answers: `records push --wait N`
// returns within N + 2 s whatever the server does and keeps trying for the whole N seconds;
// a Forwarder stuck in a statement on a locked table goes away within 1 s, and a read waiting
// there is cancelled from another thread; the summary the
// server computes is the local journal's; a million records list and summarise in bounded
// memory.

#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <future>
#include <thread>

#include "cli/RunProgram.h"
#include "record/Forwarder.h"
#include "record/LineDatabase.h"
#include "record/PgServer.h"
#include "record/RecordStore.h"
#include "record/TestSupport.h"

using namespace std::chrono_literals;
using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::PgServer;
using tarvo::test::PgSuite;
using tarvo::test::TempDir;

namespace {

// Accepts TCP connections (the kernel completes them) and never reads or answers.
class SilentServer {
public:
    SilentServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_fd, 64);
        socklen_t size = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &size);
        m_port = ntohs(addr.sin_port);
    }
    ~SilentServer() { ::close(m_fd); }
    std::string Url() const { return "postgresql://tarvo@127.0.0.1:" + std::to_string(m_port) + "/postgres"; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Holds an exclusive lock on the runs table from a connection of its own until released.
class TableLock {
public:
    explicit TableLock(const std::string& url) : m_conn(PQconnectdb(url.c_str()))
    {
        PGresult* r = PQexec(m_conn, "BEGIN; LOCK TABLE runs IN ACCESS EXCLUSIVE MODE");
        m_ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
    }
    ~TableLock() { Release(); }
    bool Ok() const { return m_ok; }
    void Release()
    {
        if (m_conn)
            PQfinish(m_conn);
        m_conn = nullptr;
    }

private:
    PGconn* m_conn;
    bool m_ok = false;
};

class LineBounds : public PgSuite {
protected:
    void SetUp() override
    {
        PgSuite::SetUp();
        if (!Ready())
            return;
        ASSERT_EQ(server->Sql(PgServer::kDropSchema), "");
        std::string error;
        LineDatabase line;
        ASSERT_TRUE(line.Connect(server->Url(), 5000, error)) << error;
    }

    void WritePending(int count)
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        for (int n = 0; n < count; ++n)
            ASSERT_TRUE(store.Upsert(test::AwkwardRecord(n), "", error)) << error;
    }

    int64_t Pending()
    {
        RecordStore store;
        std::string error;
        return store.Open(db, error, true) ? store.PendingForward(error) : -1;
    }

    TempDir dir;
    std::string db = dir.Path() + "/records.sqlite";
};

TEST_F(LineBounds, PushReturnsWithinItsWaitFromASilentServerAndALockedTable)
{
    WritePending(3);
    SilentServer silent;
    auto start = std::chrono::steady_clock::now();
    auto push = test::RunProgram(TARVO_CLI_PATH, {"records", "push", "--record", db, "--forward", silent.Url(), "--wait", "2"});
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(push.exitCode, 1);
    EXPECT_LT(took, 4s);
    EXPECT_NE(push.err.find("3 left"), std::string::npos) << push.err;

    // The server answers the connection, but the table is locked: the insert waits.
    TableLock lock(server->Url());
    ASSERT_TRUE(lock.Ok());
    std::promise<void> returned;
    auto releaser = std::async(std::launch::async, [&, done = returned.get_future()] {
        // Ends a push that does not return on its own, so that the test fails instead of hanging.
        if (done.wait_for(12s) == std::future_status::timeout)
            lock.Release();
    });
    start = std::chrono::steady_clock::now();
    push = test::RunProgram(TARVO_CLI_PATH, {"records", "push", "--record", db, "--forward", server->Url(), "--wait", "2"});
    took = std::chrono::steady_clock::now() - start;
    returned.set_value();
    releaser.wait();
    lock.Release();
    EXPECT_EQ(push.exitCode, 1);
    EXPECT_LT(took, 4s);
    EXPECT_NE(push.err.find("3 left"), std::string::npos) << push.err;
    EXPECT_NE(push.err.find("no answer from the server"), std::string::npos) << push.err;
    EXPECT_EQ(Pending(), 3) << "what was not forwarded stays in the journal";

    // The lock is gone: everything arrives.
    push = test::RunProgram(TARVO_CLI_PATH, {"records", "push", "--record", db, "--forward", server->Url(), "--wait", "5"});
    EXPECT_EQ(push.exitCode, 0) << push.err;
    EXPECT_EQ(Pending(), 0);
}

TEST_F(LineBounds, PushKeepsTryingForItsWholeWait)
{
    WritePending(2);
    ASSERT_TRUE(server->Stop());
    const auto start = std::chrono::steady_clock::now();
    auto push = std::async(std::launch::async, [&] {
        return test::RunProgram(TARVO_CLI_PATH, {"records", "push", "--record", db, "--forward", server->Url(), "--wait", "7"});
    });
    // The server comes back after more than half the wait.
    std::this_thread::sleep_for(4s);
    ASSERT_TRUE(server->Start());
    const auto result = push.get();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 9s);
    EXPECT_EQ(Pending(), 0);
}

TEST_F(LineBounds, ForwardOrReadStuckOnALockedTableEndsWithinOneSecond)
{
    WritePending(5);
    TableLock lock(server->Url());
    ASSERT_TRUE(lock.Ok());
    auto forwarder = std::make_unique<Forwarder>(db, server->Url());
    // Long enough to be inside the insert, which waits for the lock.
    std::this_thread::sleep_for(1500ms);
    auto gone = std::async(std::launch::async, [&] {
        const auto start = std::chrono::steady_clock::now();
        forwarder.reset();
        return std::chrono::steady_clock::now() - start;
    });
    const bool inTime = gone.wait_for(3s) == std::future_status::ready;
    lock.Release();  // ends a destructor that did not return on its own
    EXPECT_TRUE(inTime);
    EXPECT_LT(gone.get(), 1s);
    EXPECT_EQ(Pending(), 5);

    // A read waiting for the lock, cancelled from another thread.
    {
        TableLock again(server->Url());
        ASSERT_TRUE(again.Ok());
        LineDatabase line;
        std::string error;
        ASSERT_TRUE(line.Connect(server->Url(), 5000, error)) << error;
        std::promise<void> returned;
        auto canceller = std::async(std::launch::async, [&, done = returned.get_future()] {
            std::this_thread::sleep_for(300ms);
            line.Cancel();
            // Ends a read that the cancel did not, so that the test fails instead of hanging.
            if (done.wait_for(3s) == std::future_status::timeout)
                again.Release();
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(line.Query(RecordFilter(), [](const RunRecord&) {}, error));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1300ms);
        returned.set_value();
        EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
        canceller.wait();
    }

    // The same while connecting to a server that never answers.
    SilentServer silent;
    forwarder = std::make_unique<Forwarder>(db, silent.Url());
    std::this_thread::sleep_for(300ms);
    const auto start = std::chrono::steady_clock::now();
    forwarder.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(LineBounds, ServerSummaryIsTheJournals)
{
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        for (int n = 0; n < 61; ++n) {
            RunRecord r = test::AwkwardRecord(n);
            r.total_ms = 1000 + (n * 7919) % 613;
            if (n % 11 == 0)
                r.result = "ERROR";
            if (n % 13 == 0)
                r.total_ms.reset();
            if (n % 17 == 0)
                r.result = "ABORTED";
            ASSERT_TRUE(store.Upsert(r, "", error)) << error;
        }
    }
    ASSERT_EQ(ForwardPending(db, server->Url(), 10s).left, 0);
    for (const char* by : {"", "port", "station", "image", "day"}) {
        std::vector<std::string> local = {"records", "summary", "--record", db};
        std::vector<std::string> line = {"records", "summary", "--db", server->Url()};
        if (*by) {
            for (auto* args : {&local, &line}) {
                args->push_back("--by");
                args->push_back(by);
            }
        }
        const auto a = test::RunProgram(TARVO_CLI_PATH, local);
        const auto b = test::RunProgram(TARVO_CLI_PATH, line);
        ASSERT_EQ(b.exitCode, 0) << b.err;
        EXPECT_EQ(a.out, b.out) << "--by " << by;
    }
    // A time range selects the same records on both.
    const auto a = test::RunProgram(TARVO_CLI_PATH, {"records", "--record", db, "--since", "2026-12-03T00:00Z", "--until",
                                                     "2026-12-05T00:00Z", "--format", "csv"});
    const auto b = test::RunProgram(TARVO_CLI_PATH, {"records", "--db", server->Url(), "--since", "2026-12-03T00:00Z",
                                                     "--until", "2026-12-05T00:00Z", "--format", "csv"});
    EXPECT_EQ(test::ParseCsv(a.out).size(), test::ParseCsv(b.out).size());
    EXPECT_GT(test::ParseCsv(b.out).size(), 1u);
}

// Runs tarvo-cli, counts the lines it prints, and returns its peak resident memory in KiB.
long PeakMemoryKiB(const std::vector<std::string>& args, long& lines, int& exitCode)
{
    int out[2];
    if (::pipe(out) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> argv{const_cast<char*>(TARVO_CLI_PATH)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(TARVO_CLI_PATH, argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    lines = 0;
    char buffer[65536];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        lines += std::count(buffer, buffer + n, '\n');
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return usage.ru_maxrss;
}

TEST_F(LineBounds, SlowMillionRecordsListAndSummariseInBoundedMemory)
{
    ASSERT_EQ(server->Sql("INSERT INTO runs (run_id, station, host, port, started_at, ended_at, result, status, text, "
                          "image, total_ms, unit) SELECT 'run-' || g, 'Line B', 'host', 5 + g % 8, "
                          "timestamptz '2026-11-01 00:00Z' + g * interval '1 second', "
                          "timestamptz '2026-11-01 00:00:30Z' + g * interval '1 second', "
                          "CASE WHEN g % 10 = 0 THEN 'FAIL' ELSE 'PASS' END, 20, 'Download complete', "
                          "'/images/main.cp64', 20000 + g % 9000, 'SN' || g FROM generate_series(1, 1000000) g"),
              "");
    long lines = 0;
    int exitCode = -1;
    const long listed = PeakMemoryKiB({"records", "--db", server->Url(), "--format", "csv"}, lines, exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(lines, 1000001);
    EXPECT_LT(listed, 64 * 1024) << "KiB";
    const long summarised = PeakMemoryKiB({"records", "summary", "--db", server->Url(), "--by", "port"}, lines, exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(lines, 9);
    EXPECT_LT(summarised, 64 * 1024) << "KiB";
    std::printf("peak resident memory: listing %ld KiB, summary %ld KiB\n", listed, summarised);
}

}  // namespace
