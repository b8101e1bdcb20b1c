// Runs tied to their physical slot: the record's location (the device's USB bus-port path)
// is kept by the journal and the line database, exported, and `records summary --by
// location` groups by it, locally and computed by the server, with the same numbers.

#include <gtest/gtest.h>

#include <cstdio>

#include "cli/RunProgram.h"
#include "record/Identity.h"
#include "record/PgServer.h"
#include "record/RecordStore.h"
#include "record/TestSupport.h"

using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::PgServer;
using tarvo::test::TempDir;

namespace {

TEST(Location, KeptExportedAndSummarisedLocallyAndByTheServer)
{
    if (!PgServer::Available())
        GTEST_SKIP() << "PostgreSQL 15 is not installed (" << PgServer::kBin << "); install the Debian package postgresql";
    PgServer server;
    ASSERT_EQ(server.Error(), "");
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        const struct {
            const char* location;
            const char* result;
            int64_t ms;
        } runs[] = {{"1-1.4.2", "PASS", 50000}, {"1-1.4.2", "FAIL", 52000}, {"1-1.4.2", "FAIL", 54000},
                    {"1-1.3", "PASS", 51000},   {nullptr, "PASS", 53000}};
        int n = 0;
        for (const auto& run : runs) {
            RunRecord r;
            r.run_id = "run-" + std::to_string(n++);
            r.station = "Assembly 1";
            r.host = HostName();
            r.result = run.result;
            r.started_at = IsoUtcNow();
            r.total_ms = run.ms;
            if (run.location)
                r.location = run.location;
            ASSERT_TRUE(store.Upsert(r, "", error)) << error;
        }
    }
    const auto local = test::RunProgram(TARVO_CLI_PATH, {"records", "summary", "--by", "location", "--record", db});
    ASSERT_EQ(local.exitCode, 0) << local.err;
    const auto push = test::RunProgram(TARVO_CLI_PATH, {"records", "push", "--record", db, "--forward", server.Url()});
    ASSERT_EQ(push.exitCode, 0) << push.err;
    const auto remote = test::RunProgram(TARVO_CLI_PATH, {"records", "summary", "--by", "location", "--db", server.Url()});
    ASSERT_EQ(remote.exitCode, 0) << remote.err;
    EXPECT_EQ(local.out, remote.out);
    // One line per slot: the worn socket 1-1.4.2 stands out with two failures of three.
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "%-24s %8s %8s %8s %8s %7s %10s %10s\n"
                  "%-24s %8d %8d %8d %8d %7s %10d %10d\n"
                  "%-24s %8d %8d %8d %8d %7s %10d %10d\n"
                  "%-24s %8d %8d %8d %8d %7s %10d %10d\n",
                  "LOCATION", "RUNS", "PASS", "FAIL", "ERROR", "YIELD", "MEDIAN_MS", "P95_MS",  //
                  "-", 1, 1, 0, 0, "100.0%", 53000, 53000,                                      //
                  "1-1.3", 1, 1, 0, 0, "100.0%", 51000, 51000,                                  //
                  "1-1.4.2", 3, 1, 2, 0, "33.3%", 52000, 54000);
    EXPECT_EQ(local.out, expected);

    const auto json = test::RunProgram(TARVO_CLI_PATH, {"records", "--db", server.Url(), "--format", "json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"location\":\"1-1.4.2\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"location\":null"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"approval\":null"), std::string::npos) << json.out;
}

}  // namespace
