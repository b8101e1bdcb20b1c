// Forwarding that never halts on one record, against a real PostgreSQL server the test starts:
// records whose text held bytes that are no UTF-8 arrive with U+FFFD in their place; a record
// the server refuses for its data (a CHECK constraint the test adds) is set aside with the
// server's message while every other record arrives; tarvo-cli records push names it, and
// --retry-set-aside sends it once the cause is gone. A connection failure or a missing table
// sets nothing aside.

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
#include "record/TestSupport.h"

using namespace std::chrono_literals;
using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::PgServer;
using tarvo::test::PgSuite;
using tarvo::test::TempDir;

namespace {

constexpr const char* kRefusedUnit = "REFUSED-7";

class SetAside : public PgSuite {
protected:
    void SetUp() override
    {
        PgSuite::SetUp();
        if (!Ready())
            return;
        Sql(std::string("SET client_min_messages = warning; DROP TABLE IF EXISTS runs_away; ") + PgServer::kDropSchema);
        // The station creates the schema on its first connection; the line's administrator then
        // adds a rule of the plant's own that one record breaks.
        LineDatabase line;
        std::string error;
        ASSERT_TRUE(line.Connect(server->Url(), 5000, error)) << error;
        Sql(std::string("ALTER TABLE runs ADD CONSTRAINT unit_not_refused CHECK (unit IS DISTINCT FROM '") +
            kRefusedUnit + "')");
    }

    void Sql(const std::string& sql)
    {
        PGconn* conn = PQconnectdb(server->Url().c_str());
        ASSERT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
        PGresult* r = PQexec(conn, sql.c_str());
        const auto status = PQresultStatus(r);
        EXPECT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) << sql << ": " << PQerrorMessage(conn);
        PQclear(r);
        PQfinish(conn);
    }

    // run_id -> unit of the server's rows ("<null>" for null).
    std::multimap<std::string, std::string> ServerUnits()
    {
        PGconn* conn = PQconnectdb(server->Url().c_str());
        std::multimap<std::string, std::string> out;
        PGresult* r = PQexec(conn, "SELECT run_id, unit, main_software FROM runs");
        for (int i = 0; i < PQntuples(r); ++i)
            out.emplace(PQgetvalue(r, i, 0), PQgetisnull(r, i, 1) ? "<null>" : PQgetvalue(r, i, 1));
        PQclear(r);
        PQfinish(conn);
        return out;
    }

    // 40 finished records: three carry bytes that are no UTF-8 (a scanner in another code
    // page, a Latin-1 path from a USB stick, a label cut in the middle of a character), one
    // breaks the server's rule. The refused one comes early, inside the first batch.
    std::vector<RunRecord> WriteJournal()
    {
        std::vector<RunRecord> written;
        RecordStore store;
        std::string error;
        EXPECT_TRUE(store.Open(db, error)) << error;
        for (int n = 0; n < 40; ++n) {
            RunRecord r = test::AwkwardRecord(n);
            r.unit = "SN-" + std::to_string(n);
            if (n == 2)
                r.unit = "SN\xff\xfe-2";
            if (n == 3)
                r.unit = kRefusedUnit;
            if (n == 5)
                r.main_software = "/media/usb/v\xe9rsion-5.m0";
            if (n == 8)
                r.operator_ = "J\xc3";  // truncated two-byte sequence
            EXPECT_TRUE(store.Upsert(r, "", error)) << error;
            written.push_back(r);
        }
        return written;
    }

    TempDir dir;
    std::string db = dir.Path() + "/records.sqlite";
};

TEST_F(SetAside, RefusedRecordIsSetAsideAndEveryOtherArrivesTheInvalidTextMadeValid)
{
    const auto written = WriteJournal();
    const std::string refusedId = *written[3].run_id;

    // The window's forwarder: everything but the refused record arrives; it tells the count.
    {
        Forwarder forwarder(db, server->Url());
        for (int i = 0; i < 200 && forwarder.SetAside().count == 0; ++i)
            std::this_thread::sleep_for(50ms);
        const SetAsideSummary setAside = forwarder.SetAside();
        EXPECT_EQ(setAside.count, 1) << forwarder.Problem();
        ASSERT_EQ(setAside.reasons.size(), 1u);
        EXPECT_NE(setAside.reasons[0].find("unit_not_refused"), std::string::npos) << setAside.reasons[0];
        EXPECT_EQ(forwarder.Problem(), "") << "a refused record is no failure of the forwarding";
    }
    auto units = ServerUnits();
    EXPECT_EQ(units.size(), 39u);
    EXPECT_EQ(units.count(refusedId), 0u);
    EXPECT_EQ(units.find(*written[2].run_id)->second, "SN\xef\xbf\xbd\xef\xbf\xbd-2");
    {
        PGconn* conn = PQconnectdb(server->Url().c_str());
        PGresult* r = PQexec(conn, ("SELECT main_software, operator FROM runs WHERE run_id IN ('" + *written[5].run_id +
                                    "', '" + *written[8].run_id + "') ORDER BY run_id")
                                       .c_str());
        ASSERT_EQ(PQntuples(r), 2);
        EXPECT_STREQ(PQgetvalue(r, 0, 0), "/media/usb/v\xef\xbf\xbdrsion-5.m0");
        EXPECT_STREQ(PQgetvalue(r, 1, 1), "J\xef\xbf\xbd");
        PQclear(r);
        PQfinish(conn);
    }

    // The journal keeps it aside with the server's message; nothing else waits.
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error, true)) << error;
        EXPECT_EQ(store.PendingForward(error), 0);
        std::vector<SetAsideRecord> aside;
        ASSERT_TRUE(store.ListSetAside(0, aside, error)) << error;
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(aside[0].runId, refusedId);
        EXPECT_NE(aside[0].reason.find("violates check constraint"), std::string::npos) << aside[0].reason;
    }

    // Records written later go on past it.
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        RunRecord later = test::AwkwardRecord(100);
        ASSERT_TRUE(store.Upsert(later, "", error)) << error;
    }
    auto push = test::RunProgram(TARVO_CLI_PATH, {"records", "push", "--record", db, "--forward", server->Url()});
    EXPECT_EQ(push.exitCode, 1) << push.out << push.err;
    EXPECT_NE(push.out.find("1 record(s) forwarded, none left"), std::string::npos) << push.out;
    EXPECT_NE(push.err.find("1 record(s) set aside"), std::string::npos) << push.err;
    EXPECT_NE(push.err.find("unit_not_refused"), std::string::npos) << push.err;
    EXPECT_NE(push.err.find(refusedId), std::string::npos) << push.err;
    EXPECT_NE(push.err.find("--retry-set-aside"), std::string::npos) << push.err;
    EXPECT_EQ(ServerUnits().size(), 40u);

    // Still refused: tried again and set aside again.
    auto again = test::RunProgram(TARVO_CLI_PATH,
                                  {"records", "push", "--retry-set-aside", "--record", db, "--forward", server->Url()});
    EXPECT_EQ(again.exitCode, 1) << again.err;
    EXPECT_NE(again.err.find("1 record(s) set aside"), std::string::npos) << again.err;

    // The administrator lifts the rule: the set-aside record goes on request.
    Sql("ALTER TABLE runs DROP CONSTRAINT unit_not_refused");
    auto retry = test::RunProgram(TARVO_CLI_PATH,
                                  {"records", "push", "--retry-set-aside", "--record", db, "--forward", server->Url()});
    EXPECT_EQ(retry.exitCode, 0) << retry.out << retry.err;
    EXPECT_NE(retry.out.find("1 record(s) forwarded, none left"), std::string::npos) << retry.out;
    units = ServerUnits();
    EXPECT_EQ(units.size(), 41u);
    ASSERT_EQ(units.count(refusedId), 1u);
    EXPECT_EQ(units.find(refusedId)->second, kRefusedUnit);
    RecordStore store;
    std::string error;
    ASSERT_TRUE(store.Open(db, error, true)) << error;
    EXPECT_EQ(store.SetAsideCount(error), 0);
    EXPECT_EQ(store.PendingForward(error), 0);
}

// Failures that say nothing against the records themselves leave them to be forwarded later.
TEST_F(SetAside, ServerAwayOrTableMissingSetsNothingAside)
{
    WriteJournal();
    Sql("ALTER TABLE runs DROP CONSTRAINT unit_not_refused; ALTER TABLE runs RENAME TO runs_away");
    auto outcome = ForwardPending(db, server->Url(), 1500ms);
    EXPECT_EQ(outcome.sent, 0);
    EXPECT_EQ(outcome.left, 40);
    EXPECT_NE(outcome.error.find("runs"), std::string::npos) << outcome.error;
    EXPECT_EQ(outcome.setAside.count, 0);
    Sql("ALTER TABLE runs_away RENAME TO runs");

    ASSERT_TRUE(server->Stop());
    outcome = ForwardPending(db, server->Url(), 1500ms);
    ASSERT_TRUE(server->Start());
    EXPECT_EQ(outcome.left, 40);
    RecordStore store;
    std::string error;
    ASSERT_TRUE(store.Open(db, error, true)) << error;
    EXPECT_EQ(store.SetAsideCount(error), 0);

    outcome = ForwardPending(db, server->Url(), 10s);
    EXPECT_EQ(outcome.sent, 40) << outcome.error;
    EXPECT_EQ(outcome.left, 0);
}

}  // namespace
