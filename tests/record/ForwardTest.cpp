// Forwarding to a line's PostgreSQL database, against a real server that the test starts in a
// temporary folder: every record arrives once, through a stop and a start of the server in the
// middle of forwarding; the schema and its migration table are made on first connection;
// tarvo-cli names the connection error of an absent server and pushes what is pending.

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <set>
#include <thread>

#include "cli/RunProgram.h"
#include "record/Forwarder.h"
#include "record/Identity.h"
#include "record/LineDatabase.h"
#include "record/PgServer.h"
#include "record/RecordStore.h"
#include "record/RecordWriter.h"
#include "record/TestSupport.h"

using namespace std::chrono_literals;
using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::PgServer;
using tarvo::test::PgSuite;
using tarvo::test::TempDir;

namespace {

class Forwarding : public PgSuite {
protected:
    void SetUp() override
    {
        PgSuite::SetUp();
        if (!Ready())
            return;
        // Each test starts from an empty line database.
        PGconn* conn = PQconnectdb(server->Url().c_str());
        ASSERT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
        PQclear(PQexec(conn, (std::string("SET client_min_messages = warning; ") + PgServer::kDropSchema).c_str()));
        PQfinish(conn);
    }

    // Rows of the line database: run_id -> result, and the total count (duplicates show).
    std::multiset<std::string> ServerRunIds()
    {
        PGconn* conn = PQconnectdb(server->Url().c_str());
        std::multiset<std::string> ids;
        PGresult* r = PQexec(conn, "SELECT run_id FROM runs");
        for (int i = 0; i < PQntuples(r); ++i)
            ids.insert(PQgetvalue(r, i, 0));
        PQclear(r);
        PQfinish(conn);
        return ids;
    }

    TempDir dir;
    std::string db = dir.Path() + "/records.sqlite";
};

TEST_F(Forwarding, ServerStopAndStartLosesAndDuplicatesNothing)
{
    RecordWriter writer(db, "s", HostName());
    std::set<std::string> expected;
    auto write = [&](int from, int to) {
        for (int n = from; n < to; ++n) {
            RunRecord r = test::AwkwardRecord(n);
            expected.insert(*r.run_id);
            writer.Submit(r);
        }
        ASSERT_TRUE(writer.Flush(10s));
    };
    write(0, 150);
    Forwarder forwarder(db, server->Url());
    // Stop the server while the forwarder works through the first records.
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(server->Stop());
    write(150, 300);
    forwarder.Notify();
    std::this_thread::sleep_for(1500ms);
    EXPECT_NE(forwarder.Problem(), "") << "a stopped server must show as a problem";
    ASSERT_TRUE(server->Start());
    write(300, 320);
    forwarder.Notify();
    std::string error;
    int64_t pending = -1;
    for (int i = 0; i < 200 && pending != 0; ++i) {
        std::this_thread::sleep_for(100ms);
        RecordStore store;
        if (store.Open(db, error, true))
            pending = store.PendingForward(error);
    }
    EXPECT_EQ(pending, 0) << forwarder.Problem();
    const auto ids = ServerRunIds();
    EXPECT_EQ(ids.size(), expected.size());
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()), expected);

    // The server's copy holds the texts exactly.
    LineDatabase line;
    ASSERT_TRUE(line.Connect(server->Url(), 5000, error)) << error;
    RecordFilter filter;
    filter.limit = 1;
    RunRecord back;
    ASSERT_TRUE(line.Query(filter, [&](const RunRecord& r) { back = r; }, error)) << error;
    const RunRecord original = test::AwkwardRecord(std::stoi(back.run_id->substr(24)));
    for (int f = 0; f < kFieldCount; ++f)
        EXPECT_EQ(FieldText(back, Fields()[f]), FieldText(original, Fields()[f])) << Fields()[f].name;
}

TEST_F(Forwarding, ResendingIsIdempotentAndSchemaIsMigratedOnce)
{
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        for (int n = 0; n < 5; ++n)
            ASSERT_TRUE(store.Upsert(test::AwkwardRecord(n), "", error));
    }
    auto outcome = ForwardPending(db, server->Url(), 10s);
    EXPECT_EQ(outcome.sent, 5);
    EXPECT_EQ(outcome.left, 0);
    // A station that lost the server's answer sends the same records again.
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error));
        RunRecord changed = test::AwkwardRecord(1);
        changed.result = "FAIL";
        ASSERT_TRUE(store.Upsert(changed, "", error));
        for (int n : {0, 2})
            ASSERT_TRUE(store.Upsert(test::AwkwardRecord(n), "", error));
    }
    outcome = ForwardPending(db, server->Url(), 10s);
    EXPECT_EQ(outcome.sent, 3);
    EXPECT_EQ(ServerRunIds().size(), 5u);

    PGconn* conn = PQconnectdb(server->Url().c_str());
    PGresult* r = PQexec(conn, "SELECT version FROM schema_migrations");
    EXPECT_EQ(PQntuples(r), LineDatabase::LatestSchemaVersion());
    PQclear(r);
    r = PQexec(conn, "SELECT result FROM runs WHERE run_id = '00000000-0000-4000-8000-000000000001'");
    ASSERT_EQ(PQntuples(r), 1);
    EXPECT_STREQ(PQgetvalue(r, 0, 0), "FAIL");
    PQclear(r);
    PQfinish(conn);
}

TEST_F(Forwarding, CommandLineReadsPushesAndNamesTheConnectionError)
{
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        for (int n = 0; n < 4; ++n)
            ASSERT_TRUE(store.Upsert(test::AwkwardRecord(n), "", error));
    }
    auto push = test::RunProgram(TARVO_CLI_PATH, {"records", "push", "--record", db, "--forward", server->Url()});
    EXPECT_EQ(push.exitCode, 0) << push.err;
    auto csv = test::RunProgram(TARVO_CLI_PATH, {"records", "--db", server->Url(), "--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(test::ParseCsv(csv.out).size(), 5u);
    auto summary = test::RunProgram(TARVO_CLI_PATH, {"records", "summary", "--db", server->Url()});
    EXPECT_EQ(summary.exitCode, 0) << summary.err;
    EXPECT_NE(summary.out.find("50.0%"), std::string::npos) << summary.out;

    // Nobody listens on this port: the error names the server and the reason.
    const std::string absent = "postgresql://tarvo@127.0.0.1:" + std::to_string(server->Port() + 1) + "/postgres";
    auto down = test::RunProgram(TARVO_CLI_PATH, {"records", "--db", absent});
    EXPECT_EQ(down.exitCode, 1);
    EXPECT_NE(down.err.find("127.0.0.1"), std::string::npos) << down.err;
    EXPECT_NE(down.err.find("refused"), std::string::npos) << down.err;
    // A push to an absent server exits non-zero within its wait and keeps the records.
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error));
        ASSERT_TRUE(store.Upsert(test::AwkwardRecord(9), "", error));
    }
    const auto start = std::chrono::steady_clock::now();
    auto stuck = test::RunProgram(TARVO_CLI_PATH, {"records", "push", "--record", db, "--forward", absent, "--wait", "2"});
    EXPECT_EQ(stuck.exitCode, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(stuck.err.find("1 left"), std::string::npos) << stuck.err;
}

}  // namespace

namespace {

TEST_F(Forwarding, DemoForwardsItsRecordsBeforeItExits)
{
    auto demo = test::RunProgram(TARVO_CLI_PATH, {"demo", "--ports", "2", "--size", "4", "--record", db, "--forward",
                                                  server->Url()});
    ASSERT_EQ(demo.exitCode, 0) << demo.err;
    EXPECT_EQ(ServerRunIds().size(), 2u);
    RecordStore store;
    std::string error;
    ASSERT_TRUE(store.Open(db, error, true)) << error;
    EXPECT_EQ(store.PendingForward(error), 0);
}

}  // namespace
