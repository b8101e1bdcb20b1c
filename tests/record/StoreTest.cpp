// The local journal under faults: corrupt, locked and unreachable databases are named with
// their reason, nothing recorded is lost, writes are retried; RUNNING records of a killed
// tarvo-cli become INTERRUPTED at the next start; the CSV and JSON exports of tarvo-cli
// records parse back to exactly what was recorded.

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "cli/RunProgram.h"
#include "e2e/Harness.h"
#include "record/Identity.h"
#include "record/RecordStore.h"
#include "record/RecordWriter.h"
#include "record/TestSupport.h"
#include "tools/sim/TargetSim.h"

using namespace std::chrono_literals;
using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::TempDir;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<RunRecord> ReadAll(const std::string& path)
{
    RecordStore store;
    std::string error;
    EXPECT_TRUE(store.Open(path, error, true)) << error;
    std::vector<RunRecord> out;
    EXPECT_TRUE(store.Query({}, [&](const RunRecord& r) { out.push_back(r); }, error)) << error;
    return out;
}

RunRecord Finished(const std::string& id)
{
    RunRecord r;
    r.run_id = id;
    r.station = "s";
    r.host = HostName();
    r.result = "PASS";
    r.started_at = IsoUtcNow();
    return r;
}

TEST(Journal, CorruptFileIsNamedAndLeftAsItIs)
{
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    std::string junk(8192, 'x');
    junk.replace(0, 20, "not a database file!");
    std::ofstream(db, std::ios::binary) << junk;
    RecordWriter writer(db, "s", HostName());
    writer.WaitStarted();
    const std::string problem = writer.Problem();
    EXPECT_NE(problem.find(db), std::string::npos) << problem;
    EXPECT_NE(problem.find("not a database"), std::string::npos) << problem;
    const uint64_t ticket = writer.Submit(Finished("a"));
    EXPECT_FALSE(writer.WaitWritten(ticket, 3s));
    EXPECT_EQ(writer.Pending(), 1u) << "the record is kept in memory";
    EXPECT_EQ(ReadFile(db), junk) << "a corrupt file is not overwritten";
}

// A journal of the first release is brought up to date by the next writer, records kept; a
// reader takes it as it is.
TEST(Journal, OlderLayoutIsMigratedByTheWriterAndReadAsItIs)
{
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    std::string error;
    {
        RecordStore store;
        ASSERT_TRUE(store.Open(db, error)) << error;
        ASSERT_TRUE(store.Upsert(Finished("old"), "", error)) << error;
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    // Back to the first release's layout.
    ASSERT_EQ(sqlite3_exec(raw, "DROP INDEX runs_summary; DROP INDEX runs_to_forward; DROP INDEX runs_set_aside; "
                                "DROP INDEX runs_running; ALTER TABLE runs DROP COLUMN revision; "
                                "ALTER TABLE runs DROP COLUMN set_aside; ALTER TABLE runs DROP COLUMN location; "
                                "ALTER TABLE runs DROP COLUMN approval; DROP TABLE approvals_cache; DROP TABLE approvals_fetch; "
                                "CREATE INDEX runs_to_forward ON runs(seq) WHERE forwarded = 0 AND result <> 'RUNNING'; "
                                "CREATE INDEX runs_running ON runs(station) WHERE result = 'RUNNING'; "
                                "DELETE FROM schema_migrations WHERE version > 1; PRAGMA user_version = 1",
                           nullptr, nullptr, nullptr),
              SQLITE_OK) << sqlite3_errmsg(raw);
    sqlite3_close(raw);
    {
        RecordStore reader;
        ASSERT_TRUE(reader.Open(db, error, true)) << error;
        EXPECT_EQ(reader.SchemaVersion(), 1);
        EXPECT_EQ(ReadAll(db).size(), 1u);
        EXPECT_EQ(reader.PendingForward(error), 1) << error;
        EXPECT_EQ(reader.SetAsideCount(error), 0) << error;
    }
    RecordStore writer;
    ASSERT_TRUE(writer.Open(db, error)) << error;
    EXPECT_EQ(writer.SchemaVersion(), RecordStore::LatestSchemaVersion());
    EXPECT_GE(RecordStore::LatestSchemaVersion(), 2);
    writer.Close();
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(raw, "SELECT count(*) FROM sqlite_schema WHERE name = 'runs_summary'", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), 1);
    sqlite3_finalize(stmt);
    sqlite3_prepare_v2(raw, "SELECT group_concat(version) FROM schema_migrations", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    std::string versions;
    for (int v = 1; v <= RecordStore::LatestSchemaVersion(); ++v)
        versions += (v > 1 ? "," : "") + std::to_string(v);
    EXPECT_EQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), versions);
    sqlite3_finalize(stmt);
    sqlite3_close(raw);
    EXPECT_EQ(ReadAll(db).size(), 1u);
}

TEST(Journal, UnreachableFolderIsNamed)
{
    TempDir dir;
    std::ofstream(dir.Path() + "/file") << "x";
    const std::string db = dir.Path() + "/file/records.sqlite";
    RecordWriter writer(db, "s", HostName());
    writer.WaitStarted();
    EXPECT_NE(writer.Problem().find(db), std::string::npos) << writer.Problem();
    EXPECT_NE(writer.Problem().find("cannot create the folder"), std::string::npos) << writer.Problem();
}

// Root writes to read-only files, so under root the case runs in a child process as "nobody".
TEST(Journal, ReadOnlyFileIsNamed)
{
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    const std::string out = dir.Path() + "/problem.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0) {
            struct passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(dir.Path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0 ||
                ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
                ::_exit(3);
        }
        {
            RecordWriter writer(db, "s", HostName());
            if (!writer.WaitWritten(writer.Submit(Finished("a")), 5s))
                ::_exit(4);
        }
        ::chmod(db.c_str(), 0444);
        RecordWriter writer(db, "s", HostName());
        const bool written = writer.WaitWritten(writer.Submit(Finished("b")), 5s);
        std::ofstream(out) << (written ? std::string("written") : writer.Problem());
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string problem = ReadFile(out);
    EXPECT_NE(problem.find(db), std::string::npos) << problem;
    EXPECT_NE(problem.find("readonly"), std::string::npos) << problem;
    EXPECT_EQ(ReadAll(db).size(), 1u) << "the record written before is still there";
}

TEST(Journal, LockedDatabaseIsRetriedUntilTheLockGoes)
{
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    RecordWriter writer(db, "s", HostName());
    ASSERT_TRUE(writer.WaitWritten(writer.Submit(Finished("before")), 5s)) << writer.Problem();

    // Another program holds the write lock for longer than the busy time-out.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    const uint64_t ticket = writer.Submit(Finished("during"));
    EXPECT_FALSE(writer.WaitWritten(ticket, 10s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4500ms) << "gave up before the 5 s busy time-out";
    EXPECT_NE(writer.Problem().find("locked"), std::string::npos) << writer.Problem();
    EXPECT_NE(writer.Problem().find(db), std::string::npos);

    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_TRUE(writer.Flush(10s)) << "the kept record was not written after the lock went";
    EXPECT_EQ(writer.Problem(), "");
    const auto records = ReadAll(db);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].run_id, "during");
}

// A tarvo-cli flash killed with SIGKILL in the middle of a download: the run that had ended is
// in the journal, the one in progress is RUNNING and becomes INTERRUPTED when a program of the
// station starts; a RUNNING record of a program that still runs is left alone.
TEST(Journal, KilledFlashLeavesInterruptedRecord)
{
    TempDir dir;
    test::Workspace workspace(48 * 1024, 16 * 1024);
    const std::string db = dir.Path() + "/records.sqlite";
    sim::SimConfig quick;
    quick.eraseTime = 100ms;
    sim::SimConfig slow = quick;
    slow.baud = 115200;
    slow.faults.blockDelay = 3000ms;  // every block acknowledged late: the run lasts
    sim::TargetSim fast(quick), paced(slow);
    std::string error;
    ASSERT_TRUE(fast.Start(error)) << error;
    ASSERT_TRUE(paced.Start(error)) << error;

    // A record of a program that still runs (this test) must survive the next start.
    {
        RecordStore store;
        ASSERT_TRUE(store.Open(db, error)) << error;
        RunRecord alive = Finished("alive");
        alive.station = HostName();
        alive.result = "RUNNING";
        ASSERT_TRUE(store.Upsert(alive, ProcessTag(), error)) << error;
    }

    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::freopen("/dev/null", "w", stdout);
        if (::chdir(workspace.Dir().c_str()) != 0)
            ::_exit(126);
        ::execl(TARVO_CLI_PATH, TARVO_CLI_PATH, "flash", "--image", workspace.Image().c_str(), "--port",
                ("5=" + fast.DevicePath()).c_str(), "--port", ("6=" + paced.DevicePath()).c_str(), "--record",
                db.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    // Wait until port 5 passed and port 6 is downloading.
    bool ready = false;
    for (int i = 0; i < 300 && !ready; ++i) {
        std::this_thread::sleep_for(50ms);
        RecordStore store;
        if (!store.Open(db, error, true))
            continue;
        int pass = 0, running = 0;
        store.Query({}, [&](const RunRecord& r) {
            pass += r.result == "PASS";
            running += r.result == "RUNNING" && r.port == 6;
        }, error);
        ready = pass == 1 && running == 1 && !paced.FramesReceived().empty() && paced.FramesReceived().size() > 4;
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(ready) << "the runs did not reach the state to kill in";

    RecordWriter next(db, HostName(), HostName());
    next.WaitStarted();
    EXPECT_EQ(next.Problem(), "");
    EXPECT_EQ(next.Interrupted(), 1);
    std::map<std::string, std::string> byPort;
    std::string aliveResult;
    for (const RunRecord& r : ReadAll(db)) {
        if (r.run_id == "alive")
            aliveResult = *r.result;
        else
            byPort[std::to_string(r.port.value_or(0))] = *r.result;
    }
    EXPECT_EQ(byPort["5"], "PASS");
    EXPECT_EQ(byPort["6"], "INTERRUPTED");
    EXPECT_EQ(aliveResult, "RUNNING");
}

// A tarvo-cli flash stopped with SIGINT in the middle of a download records the run ABORTED
// before it exits.
TEST(Journal, SignalledFlashRecordsAbortedBeforeItExits)
{
    TempDir dir;
    test::Workspace workspace(48 * 1024, 16 * 1024);
    const std::string db = dir.Path() + "/records.sqlite";
    sim::SimConfig slow;
    slow.eraseTime = 100ms;
    slow.faults.blockDelay = 3000ms;
    sim::TargetSim paced(slow);
    std::string error;
    ASSERT_TRUE(paced.Start(error)) << error;
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::freopen("/dev/null", "w", stdout);
        if (::chdir(workspace.Dir().c_str()) != 0)
            ::_exit(126);
        ::execl(TARVO_CLI_PATH, TARVO_CLI_PATH, "flash", "--image", workspace.Image().c_str(), "--port",
                ("6=" + paced.DevicePath()).c_str(), "--record", db.c_str(), "--unit", "SN-1",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    bool downloading = false;
    for (int i = 0; i < 300 && !downloading; ++i) {
        std::this_thread::sleep_for(50ms);
        downloading = paced.FramesReceived().size() > 4;
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(downloading);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    const auto records = ReadAll(db);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, "ABORTED");
    EXPECT_EQ(records[0].unit, "SN-1");
    EXPECT_TRUE(records[0].ended_at.has_value());
}

TEST(Exports, CsvAndJsonParseBackExactly)
{
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    std::vector<RunRecord> written;
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        for (int n = 0; n < 6; ++n) {
            written.push_back(test::AwkwardRecord(n));
            ASSERT_TRUE(store.Upsert(written.back(), "", error)) << error;
        }
    }
    // A text field that a spreadsheet would run as a formula carries a leading apostrophe.
    auto csvText = [](const RunRecord& r, const Field& field) {
        std::string text = FieldText(r, field);
        if (field.text && !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos)
            text.insert(0, "'");
        return text;
    };
    const auto csv = test::RunProgram(TARVO_CLI_PATH, {"records", "--record", db, "--format", "csv", "--oldest-first"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    const auto rows = test::ParseCsv(csv.out);
    ASSERT_EQ(rows.size(), written.size() + 1);
    ASSERT_EQ(rows[0].size(), static_cast<std::size_t>(kFieldCount));
    for (int f = 0; f < kFieldCount; ++f)
        EXPECT_EQ(rows[0][f], Fields()[f].name);
    for (std::size_t n = 0; n < written.size(); ++n)
        for (int f = 0; f < kFieldCount; ++f)
            EXPECT_EQ(rows[n + 1][f], csvText(written[n], Fields()[f])) << Fields()[f].name;

    const auto json = test::RunProgram(TARVO_CLI_PATH, {"records", "--record", db, "--format", "json", "--oldest-first"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    std::istringstream lines(json.out);
    std::string line;
    std::size_t n = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(n, written.size());
        const auto object = test::ParseJsonObject(line);
        ASSERT_EQ(object.size(), static_cast<std::size_t>(kFieldCount));
        for (int f = 0; f < kFieldCount; ++f) {
            const Field& field = Fields()[f];
            const auto& value = object.at(field.name);
            const bool null = field.text ? !(written[n].*field.text) : !(written[n].*field.number);
            EXPECT_EQ(value.null, null) << field.name;
            EXPECT_EQ(value.isString, !null && field.text != nullptr) << field.name;
            if (!null) {
                EXPECT_EQ(value.text, FieldText(written[n], field)) << field.name;
            }
        }
        ++n;
    }
    EXPECT_EQ(n, written.size());
}

TEST(Exports, SummaryCountsYieldAndPercentiles)
{
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        // Port 5: 18 PASS (100..1800 ms), 1 FAIL (5000 ms), 1 ERROR (no time), 2 NO TARGET.
        int id = 0;
        auto add = [&](int port, const char* result, std::optional<int64_t> ms) {
            RunRecord r = Finished("r" + std::to_string(id++));
            r.port = port;
            r.result = result;
            r.total_ms = ms;
            ASSERT_TRUE(store.Upsert(r, "", error)) << error;
        };
        for (int i = 1; i <= 18; ++i)
            add(5, "PASS", i * 100);
        add(5, "FAIL", 5000);
        add(5, "ERROR", std::nullopt);
        add(5, "NO TARGET", 60000);
        add(5, "NO TARGET", 60000);
        add(12, "ABORTED", 10);
    }
    const auto out = test::RunProgram(TARVO_CLI_PATH, {"records", "summary", "--record", db, "--by", "port"});
    ASSERT_EQ(out.exitCode, 0) << out.err;
    std::istringstream lines(out.out);
    std::string header, port5, port12;
    std::getline(lines, header);
    std::getline(lines, port5);
    std::getline(lines, port12);
    std::istringstream fields(port5);
    std::string key, runs, pass, fail, err, yield, median, p95;
    fields >> key >> runs >> pass >> fail >> err >> yield >> median >> p95;
    EXPECT_EQ(key, "5");
    EXPECT_EQ(runs, "22");
    EXPECT_EQ(pass, "18");
    EXPECT_EQ(fail, "1");
    EXPECT_EQ(err, "1");
    EXPECT_EQ(yield, "90.0%");          // 18 of 20 finished runs
    EXPECT_EQ(median, "1000");          // of the 19 finished runs with a time
    EXPECT_EQ(p95, "5000");
    EXPECT_EQ(port12.substr(0, 2), "12");
    EXPECT_NE(port12.find(" - "), std::string::npos) << "no finished run: no yield";
}

TEST(Exports, MissingDatabaseIsNamed)
{
    const auto out = test::RunProgram(TARVO_CLI_PATH, {"records", "--record", "/nonexistent/r.sqlite"});
    EXPECT_EQ(out.exitCode, 1);
    EXPECT_NE(out.err.find("/nonexistent/r.sqlite"), std::string::npos) << out.err;
}

}  // namespace
