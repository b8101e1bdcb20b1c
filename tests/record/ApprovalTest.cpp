// Only approved images, against a real PostgreSQL server and the real tarvo-cli: an approved
// image is flashed and its records say who approved it; one never approved, or revoked, is
// refused before any port opens, with the digest, and for a revocation who, when and why; the
// server away: the list last fetched decides (its age shown), none fetched refuses; a schema
// behind refuses a station that requires approval and no other. Who approved is the server's
// session user whatever a client sends; a running station notices a revocation within its
// re-check period.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "cli/RunProgram.h"
#include "e2e/Harness.h"
#include "record/Approvals.h"
#include "record/LineDatabase.h"
#include "record/PgServer.h"
#include "record/RecordStore.h"
#include "record/Sha256.h"
#include "record/TestSupport.h"

using namespace std::chrono_literals;
using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::PgServer;
using tarvo::test::PgSuite;
using tarvo::test::TempDir;

namespace {

class Approval : public PgSuite {
protected:
    void SetUp() override
    {
        PgSuite::SetUp();
        if (!Ready())
            return;
        ASSERT_EQ(server->Sql(std::string(PgServer::kDropSchema) + "DROP ROLE IF EXISTS tarvo_station"), "");
        const auto migrate = test::RunProgram(TARVO_CLI_PATH, {"records", "migrate", "--db", server->Url()});
        ASSERT_EQ(migrate.exitCode, 0) << migrate.err;
        std::string error;
        ASSERT_TRUE(Sha256File(workspace.Image(), sha, error)) << error;
    }

    // A flash that requires approval; the device does not exist, so an approved image gets as
    // far as opening the port (and fails there), a refused one not even that far.
    test::ProgramResult Flash(const std::string& url, bool require = true)
    {
        std::vector<std::string> args = {"flash", "--image", workspace.Image(), "--port", "5=" + dir.Path() + "/ttyNONE",
                                         "--record", journal, "--forward", url, "--wait", "1"};
        if (require)
            args.push_back("--require-approved");
        return test::RunProgram(TARVO_CLI_PATH, args);
    }
    test::ProgramResult Images(const std::vector<std::string>& args)
    {
        std::vector<std::string> all = {"images"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back("--db");
        all.push_back(server->Url());
        return test::RunProgram(TARVO_CLI_PATH, all);
    }
    std::vector<RunRecord> Records()
    {
        RecordStore store;
        std::string error;
        std::vector<RunRecord> out;
        if (!std::filesystem::exists(journal))
            return out;
        EXPECT_TRUE(store.Open(journal, error, true)) << error;
        EXPECT_TRUE(store.Query({}, [&](const RunRecord& r) { out.push_back(r); }, error)) << error;
        return out;
    }
    // A URL where no server listens.
    std::string Away() const { return "postgresql://tarvo@127.0.0.1:1/postgres?connect_timeout=2"; }

    TempDir dir;
    test::Workspace workspace{4 * 1024, 4 * 1024};
    std::string journal = dir.Path() + "/records.sqlite";
    std::string sha;
};

TEST_F(Approval, ApprovedNotApprovedAndRevoked)
{
    // Never approved: refused before any port opens (no record of a run).
    auto flash = Flash(server->Url());
    EXPECT_EQ(flash.exitCode, 1);
    EXPECT_EQ(flash.err, "error: " + workspace.Image() + ": image not approved (sha256 " + sha.substr(0, 12) + "\xE2\x80\xA6)\n");
    EXPECT_TRUE(Records().empty());

    // Approved: the run goes on (to the missing device), its record names who approved.
    auto approve = Images({"approve", workspace.Image(), "--note", "release 3.1"});
    ASSERT_EQ(approve.exitCode, 0) << approve.err;
    EXPECT_NE(approve.out.find(sha), std::string::npos) << approve.out;
    flash = Flash(server->Url());
    EXPECT_EQ(flash.err.find("approv"), std::string::npos) << flash.err;
    auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    ASSERT_TRUE(records[0].approval.has_value());
    EXPECT_EQ(records[0].approval->rfind("approved by tarvo at 20", 0), 0u) << *records[0].approval;

    // Not required: the record's approval is null.
    flash = Flash(server->Url(), false);
    records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[1].approval.has_value());

    // Revoked: refused with who, when and why.
    auto revoke = Images({"revoke", sha, "--note", "bad RF calibration"});
    ASSERT_EQ(revoke.exitCode, 0) << revoke.err;
    flash = Flash(server->Url());
    EXPECT_EQ(flash.exitCode, 1);
    EXPECT_NE(flash.err.find(workspace.Image() + ": image approval revoked by tarvo at 20"), std::string::npos) << flash.err;
    EXPECT_NE(flash.err.find(": bad RF calibration (sha256 " + sha.substr(0, 12) + "\xE2\x80\xA6)"), std::string::npos)
        << flash.err;
    EXPECT_EQ(Records().size(), 2u);

    const auto list = Images({"list", "--format", "json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("\"revoke_note\":\"bad RF calibration\""), std::string::npos) << list.out;
}

TEST_F(Approval, ServerAwayUsesTheListLastFetchedOrRefuses)
{
    // No list ever fetched: refused, saying why.
    auto flash = Flash(Away());
    EXPECT_EQ(flash.exitCode, 1);
    EXPECT_NE(flash.err.find("cannot check the image's approval"), std::string::npos) << flash.err;
    EXPECT_NE(flash.err.find("no approval list was ever fetched"), std::string::npos) << flash.err;
    EXPECT_TRUE(Records().empty());

    // Fetched once while the server answered, then used while it is away, with its age.
    ASSERT_EQ(Images({"approve", workspace.Image()}).exitCode, 0);
    flash = Flash(server->Url());
    ASSERT_EQ(Records().size(), 1u);
    flash = Flash(Away());
    EXPECT_NE(flash.err.find("note: line database away ("), std::string::npos) << flash.err;
    EXPECT_NE(flash.err.find("using the approval list fetched at 20"), std::string::npos) << flash.err;
    EXPECT_NE(flash.err.find(" s ago)"), std::string::npos) << flash.err;
    auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[1].approval.has_value());

    // A revocation fetched is kept too: away again, the image stays refused.
    ASSERT_EQ(Images({"revoke", workspace.Image(), "--note", "recalled"}).exitCode, 0);
    flash = Flash(server->Url());
    EXPECT_NE(flash.err.find("revoked"), std::string::npos) << flash.err;
    flash = Flash(Away());
    EXPECT_EQ(flash.exitCode, 1);
    EXPECT_NE(flash.err.find(": recalled (sha256 "), std::string::npos) << flash.err;
    EXPECT_EQ(Records().size(), 2u);
}

TEST_F(Approval, SchemaBehindRefusesOnlyAStationThatRequiresApproval)
{
    // The schema before approvals, and a station role that may not migrate it.
    ASSERT_EQ(server->Sql("DROP VIEW tarvo_line_status, tarvo_hourly, tarvo_failure_reasons; DROP TABLE image_approvals;"
                          "ALTER TABLE runs DROP COLUMN location, DROP COLUMN approval;"
                          "DELETE FROM schema_migrations WHERE version = 3;"
                          "CREATE ROLE tarvo_station LOGIN; GRANT INSERT, UPDATE, SELECT ON runs TO tarvo_station"),
              "");
    const std::string url = server->UrlAs("tarvo_station");
    auto flash = Flash(url);
    EXPECT_EQ(flash.exitCode, 1);
    EXPECT_NE(flash.err.find("cannot check the image's approval: line database"), std::string::npos) << flash.err;
    EXPECT_NE(flash.err.find("run tarvo-cli records migrate"), std::string::npos) << flash.err;
    EXPECT_TRUE(Records().empty());

    flash = Flash(url, false);
    EXPECT_EQ(flash.err.find("approv"), std::string::npos) << flash.err;
    EXPECT_NE((flash.out + flash.err).find("ttyNONE"), std::string::npos) << flash.out << flash.err;  // on to the port
    EXPECT_EQ(Records().size(), 1u);
}

TEST_F(Approval, WhoApprovedIsTheServersSessionUser)
{
    ASSERT_EQ(server->Sql("INSERT INTO image_approvals (sha256, name, bytes, approved_by, approved_at) VALUES ('" + sha +
                          "', 'x.cp64', 1, 'mallory', '2001-01-01')"),
              "");
    ASSERT_EQ(server->Sql("UPDATE image_approvals SET revoked_at = '2001-01-01', revoked_by = 'mallory'"), "");
    LineDatabase db;
    std::string error;
    ASSERT_TRUE(db.Connect(server->Url(), 5000, error)) << error;
    std::vector<ImageApproval> list;
    ASSERT_TRUE(db.Approvals(list, error)) << error;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].approvedBy, "tarvo");
    EXPECT_EQ(list[0].revokedBy, "tarvo");
    EXPECT_NE(list[0].approvedAt.rfind("2001", 0), 0u);
    EXPECT_NE(list[0].revokedAt.rfind("2001", 0), 0u);
}

TEST_F(Approval, RunningStationNoticesARevocation)
{
    ASSERT_EQ(Images({"approve", workspace.Image()}).exitCode, 0);
    ApprovalSource source;
    source.image = workspace.Image();
    source.sha256 = sha;
    source.dbUrl = server->Url();
    source.journal = journal;
    ApprovalGate gate(source, 100ms);
    ASSERT_TRUE(gate.Start().allowed);
    std::string approval, refusal;
    EXPECT_TRUE(gate.Allowed(approval, refusal));
    ASSERT_EQ(Images({"revoke", sha, "--note", "recalled"}).exitCode, 0);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (gate.Allowed(approval, refusal) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(gate.Allowed(approval, refusal));
    EXPECT_NE(refusal.find("revoked by tarvo"), std::string::npos) << refusal;
}

}  // namespace
