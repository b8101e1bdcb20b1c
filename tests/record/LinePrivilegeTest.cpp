// The line database's schema and roles, against a real PostgreSQL server: `records migrate`
// makes the schema; a station role with only INSERT, UPDATE and SELECT on runs forwards, a
// reader with only SELECT lists and summarises; a role that may not create tables is told
// that the schema is behind; the first release's schema (times as text) is migrated with its
// rows, which read back exactly as they were written.

#include <gtest/gtest.h>

#include <libpq-fe.h>

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

// The schema of the first release, as a server that ran it holds it.
constexpr const char* kFirstSchema =
    "CREATE TABLE schema_migrations (version INTEGER PRIMARY KEY, applied_at TIMESTAMPTZ NOT NULL DEFAULT now());"
    "CREATE TABLE runs ("
    " seq BIGSERIAL,"
    " run_id TEXT PRIMARY KEY, station TEXT, host TEXT, operator TEXT, tarvo_version TEXT,"
    " port INTEGER, device TEXT, device_resolved TEXT, started_at TEXT, ended_at TEXT,"
    " result TEXT NOT NULL, status INTEGER, text TEXT, reason TEXT, loader TEXT, loader_version TEXT,"
    " monitor_checksums TEXT, checksums TEXT, main_software TEXT, main_sha256 TEXT, image TEXT,"
    " image_sha256 TEXT, image_bytes BIGINT, bytes_sent BIGINT, wait_ms BIGINT, monitor_ms BIGINT,"
    " erase_ms BIGINT, download_ms BIGINT, verify_ms BIGINT, total_ms BIGINT, unit TEXT,"
    " received_at TIMESTAMPTZ NOT NULL DEFAULT now());"
    "CREATE INDEX runs_started_at ON runs(started_at);"
    "CREATE INDEX runs_station ON runs(station, started_at);"
    "INSERT INTO schema_migrations(version) VALUES (1);";

// The grants the README gives the two roles.
constexpr const char* kRoles =
    "CREATE ROLE tarvo_station LOGIN; GRANT INSERT, UPDATE, SELECT ON runs TO tarvo_station;"
    "CREATE ROLE tarvo_reader LOGIN; GRANT SELECT ON runs TO tarvo_reader;";

class LinePrivilege : public PgSuite {
protected:
    void SetUp() override
    {
        PgSuite::SetUp();
        if (!Ready())
            return;
        ASSERT_EQ(server->Sql(std::string(PgServer::kDropSchema) +
                              "DROP ROLE IF EXISTS tarvo_station; DROP ROLE IF EXISTS tarvo_reader"),
                  "");
    }

    void WritePending(int from, int to)
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        for (int n = from; n < to; ++n)
            ASSERT_TRUE(store.Upsert(test::AwkwardRecord(n), "", error)) << error;
    }

    test::ProgramResult Push(const std::string& url)
    {
        return test::RunProgram(TARVO_CLI_PATH, {"records", "push", "--record", db, "--forward", url, "--wait", "3"});
    }

    TempDir dir;
    std::string db = dir.Path() + "/records.sqlite";
};

TEST_F(LinePrivilege, StationRoleForwardsAndReaderRoleReads)
{
    const auto migrate = test::RunProgram(TARVO_CLI_PATH, {"records", "migrate", "--db", server->Url()});
    ASSERT_EQ(migrate.exitCode, 0) << migrate.err;
    EXPECT_NE(migrate.out.find("schema version " + std::to_string(LineDatabase::LatestSchemaVersion())),
              std::string::npos)
        << migrate.out;
    ASSERT_EQ(server->Sql(kRoles), "");

    WritePending(0, 6);
    auto push = Push(server->UrlAs("tarvo_station"));
    ASSERT_EQ(push.exitCode, 0) << push.err;
    // A record sent again is updated, which the station role may do too.
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error));
        RunRecord changed = test::AwkwardRecord(2);
        changed.result = "ERROR";
        ASSERT_TRUE(store.Upsert(changed, "", error));
    }
    push = Push(server->UrlAs("tarvo_station"));
    ASSERT_EQ(push.exitCode, 0) << push.err;

    const auto list = test::RunProgram(TARVO_CLI_PATH, {"records", "--db", server->UrlAs("tarvo_reader"), "--format", "csv"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(test::ParseCsv(list.out).size(), 7u);
    const auto summary = test::RunProgram(TARVO_CLI_PATH, {"records", "summary", "--db", server->UrlAs("tarvo_reader")});
    ASSERT_EQ(summary.exitCode, 0) << summary.err;
    EXPECT_NE(summary.out.find("all"), std::string::npos) << summary.out;

    // The reader may not write.
    WritePending(6, 7);
    push = Push(server->UrlAs("tarvo_reader"));
    EXPECT_EQ(push.exitCode, 1);
    EXPECT_NE(push.err.find("permission denied"), std::string::npos) << push.err;
}

TEST_F(LinePrivilege, RoleThatMayNotCreateIsToldTheSchemaIsBehind)
{
    // No schema at all.
    ASSERT_EQ(server->Sql("CREATE ROLE tarvo_station LOGIN"), "");
    WritePending(0, 3);
    auto push = Push(server->UrlAs("tarvo_station"));
    EXPECT_EQ(push.exitCode, 1);
    const std::string needs = "this station needs " + std::to_string(LineDatabase::LatestSchemaVersion()) +
                              ": run tarvo-cli records migrate";
    EXPECT_NE(push.err.find("line database schema is version 0, " + needs), std::string::npos) << push.err;

    // The first release's schema.
    ASSERT_EQ(server->Sql(kFirstSchema), "");
    ASSERT_EQ(server->Sql("GRANT INSERT, UPDATE, SELECT ON runs TO tarvo_station; GRANT SELECT ON schema_migrations TO "
                          "tarvo_station; GRANT USAGE ON SEQUENCE runs_seq_seq TO tarvo_station"),
              "");
    push = Push(server->UrlAs("tarvo_station"));
    EXPECT_EQ(push.exitCode, 1);
    EXPECT_NE(push.err.find("line database schema is version 1, " + needs), std::string::npos) << push.err;
    EXPECT_NE(push.err.find("3 left"), std::string::npos) << push.err;

    const auto migrate = test::RunProgram(TARVO_CLI_PATH, {"records", "migrate", "--db", server->Url()});
    ASSERT_EQ(migrate.exitCode, 0) << migrate.err;
    push = Push(server->UrlAs("tarvo_station"));
    EXPECT_EQ(push.exitCode, 0) << push.err;
}

TEST_F(LinePrivilege, FirstSchemaRowsKeepTheirTimesAsTimestamptz)
{
    ASSERT_EQ(server->Sql(kFirstSchema), "");
    ASSERT_EQ(server->Sql("INSERT INTO runs (run_id, station, port, started_at, ended_at, result, total_ms) VALUES "
                          "('old-1', 'Line B', 5, '2026-12-07T10:14:03.512Z', '2026-12-07T10:15:00.000Z', 'PASS', 56488),"
                          "('old-2', 'Line B', 6, '2026-12-06T23:59:59.999Z', NULL, 'INTERRUPTED', NULL)"),
              "");
    std::string error;
    {
        LineDatabase line;
        ASSERT_TRUE(line.Connect(server->Url(), 5000, error)) << error;
        EXPECT_EQ(line.SchemaVersion(), LineDatabase::LatestSchemaVersion());
    }
    PGconn* conn = PQconnectdb(server->Url().c_str());
    PGresult* r = PQexec(conn, "SELECT column_name, data_type FROM information_schema.columns WHERE table_name = 'runs' "
                               "AND column_name IN ('started_at', 'ended_at')");
    ASSERT_EQ(PQntuples(r), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_STREQ(PQgetvalue(r, i, 1), "timestamp with time zone") << PQgetvalue(r, i, 0);
    PQclear(r);
    // A time range uses the index.
    r = PQexec(conn, "SET enable_seqscan = off; EXPLAIN SELECT * FROM runs WHERE started_at >= '2026-12-07T00:00:00.000Z'");
    std::string plan;
    for (int i = 0; i < PQntuples(r); ++i)
        plan += PQgetvalue(r, i, 0);
    PQclear(r);
    PQfinish(conn);
    EXPECT_NE(plan.find("runs_started_at"), std::string::npos) << plan;

    // New records follow the old ones; every time reads back in the record's text form.
    WritePending(0, 1);
    ASSERT_EQ(ForwardPending(db, server->Url(), 10s).left, 0);
    LineDatabase line;
    ASSERT_TRUE(line.Connect(server->Url(), 5000, error)) << error;
    std::vector<RunRecord> back;
    RecordFilter filter;
    ASSERT_TRUE(line.Query(filter, [&](const RunRecord& rec) { back.push_back(rec); }, error)) << error;
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].started_at.value_or(""), test::AwkwardRecord(0).started_at.value_or("-"));
    EXPECT_EQ(back[1].run_id.value_or(""), "old-2");
    EXPECT_EQ(back[1].started_at.value_or(""), "2026-12-06T23:59:59.999Z");
    EXPECT_FALSE(back[1].ended_at.has_value());
    EXPECT_EQ(back[2].started_at.value_or(""), "2026-12-07T10:14:03.512Z");
    EXPECT_EQ(back[2].ended_at.value_or(""), "2026-12-07T10:15:00.000Z");
    filter.since = "2026-12-07T00:00:00.000Z";
    back.clear();
    ASSERT_TRUE(line.Query(filter, [&](const RunRecord& rec) { back.push_back(rec); }, error)) << error;
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].run_id.value_or(""), "old-1");
}

}  // namespace
