// The local journal's bookkeeping and its files: RUNNING records of a crashed program are
// marked INTERRUPTED after a rename of the station; the forwarder's mark never lands on a newer
// version of a record than the one it sent; a FIFO given as the journal is refused by every
// command at once; a journal on a folder that cannot be written is still read.

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/RunProgram.h"
#include "e2e/Harness.h"
#include "record/Identity.h"
#include "record/RecordStore.h"
#include "record/RecordWriter.h"
#include "record/TestSupport.h"

using namespace std::chrono_literals;
using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::TempDir;

namespace {

RunRecord Running(const std::string& id, const std::string& station, const std::string& host)
{
    RunRecord r;
    r.run_id = id;
    r.station = station;
    r.host = host;
    r.result = result::kRunning;
    r.started_at = IsoUtcNow();
    return r;
}

std::map<std::string, std::string> Results(const std::string& db)
{
    RecordStore store;
    std::string error;
    EXPECT_TRUE(store.Open(db, error, true)) << error;
    std::map<std::string, std::string> out;
    EXPECT_TRUE(store.Query({}, [&](const RunRecord& r) { out[*r.run_id] = r.result.value_or(""); }, error)) << error;
    return out;
}

// A station that crashed and was renamed before its next start: its RUNNING records are marked
// all the same; a running program's and another host's records are left alone.
TEST(JournalMarks, RenamedStationsCrashedRunsAreMarkedInterrupted)
{
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    // The tag of a program that has ended: a child process, waited for.
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    const std::string deadTag = std::to_string(child) + ":1";
    ::waitpid(child, nullptr, 0);
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        ASSERT_TRUE(store.Upsert(Running("crashed", "bay 2", HostName()), deadTag, error)) << error;
        ASSERT_TRUE(store.Upsert(Running("alive", "bay 2", HostName()), ProcessTag(), error)) << error;
        ASSERT_TRUE(store.Upsert(Running("elsewhere", "bay 2", "another-host"), deadTag, error)) << error;
    }
    RecordWriter writer(db, "line 3 bay 2", HostName());
    writer.WaitStarted();
    EXPECT_EQ(writer.Problem(), "");
    EXPECT_EQ(writer.Interrupted(), 1);
    auto results = Results(db);
    EXPECT_EQ(results["crashed"], "INTERRUPTED");
    EXPECT_EQ(results["alive"], "RUNNING");
    EXPECT_EQ(results["elsewhere"], "RUNNING");
}

// The forwarder read one version, the record was completed again before the mark: the mark of
// the old version must not hide the new one from the next pass.
TEST(JournalMarks, ForwardedMarkNeverCoversANewerVersion)
{
    TempDir dir;
    const std::string db = dir.Path() + "/records.sqlite";
    RecordStore store;
    std::string error;
    ASSERT_TRUE(store.Open(db, error)) << error;
    RunRecord r = test::AwkwardRecord(1);
    r.result = result::kFail;
    ASSERT_TRUE(store.Upsert(r, "", error)) << error;
    std::vector<PendingRecord> sent;
    ASSERT_TRUE(store.Unforwarded(10, sent, error)) << error;
    ASSERT_EQ(sent.size(), 1u);

    r.result = result::kPass;
    r.unit = "SN-later";
    ASSERT_TRUE(store.Upsert(r, "", error)) << error;
    ASSERT_TRUE(store.MarkForwarded({sent[0].Version()}, error)) << error;
    EXPECT_EQ(store.PendingForward(error), 1) << "the newer version was marked with the old one";
    // Nor is the newer version set aside for the old one's refusal.
    ASSERT_TRUE(store.SetAside(sent[0].Version(), "refused", error)) << error;
    EXPECT_EQ(store.SetAsideCount(error), 0);

    std::vector<PendingRecord> next;
    ASSERT_TRUE(store.Unforwarded(10, next, error)) << error;
    ASSERT_EQ(next.size(), 1u);
    EXPECT_NE(next[0].revision, sent[0].revision);
    EXPECT_EQ(next[0].record.unit, "SN-later");
    ASSERT_TRUE(store.MarkForwarded({next[0].Version()}, error)) << error;
    EXPECT_EQ(store.PendingForward(error), 0);

    // What a record view shows: forwarded, waiting, or set aside with its reason.
    RunRecord other = test::AwkwardRecord(2), refused = test::AwkwardRecord(3);
    ASSERT_TRUE(store.Upsert(other, "", error)) << error;
    ASSERT_TRUE(store.Upsert(refused, "", error)) << error;
    std::vector<PendingRecord> waiting;
    ASSERT_TRUE(store.Unforwarded(10, waiting, error)) << error;
    ASSERT_EQ(waiting.size(), 2u);
    ASSERT_TRUE(store.SetAside(waiting[1].Version(), "value too long", error)) << error;
    std::map<std::string, ForwardState> states;
    ASSERT_TRUE(store.QueryStates({}, [&](const RunRecord& x, const ForwardState& s) { states[*x.run_id] = s; }, error));
    EXPECT_TRUE(states[*r.run_id].forwarded);
    EXPECT_FALSE(states[*other.run_id].forwarded);
    EXPECT_FALSE(states[*other.run_id].setAside.has_value());
    EXPECT_EQ(states[*refused.run_id].setAside, "value too long");
}

// A FIFO opened as a database blocks its reader for ever (and its writer on the first read).
TEST(JournalFiles, FifoIsRefusedByEveryCommandWithoutBlocking)
{
    TempDir dir;
    test::Workspace workspace(4 * 1024, 4 * 1024);
    const std::string fifo = dir.Path() + "/records.sqlite";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string absent = "postgresql://tarvo@127.0.0.1:1/postgres";
    const std::vector<std::vector<std::string>> commands = {
        {"records", "--record", fifo},
        {"records", "summary", "--record", fifo},
        {"records", "push", "--record", fifo, "--forward", absent, "--wait", "1"},
        {"records", "push", "--retry-set-aside", "--record", fifo, "--forward", absent, "--wait", "1"},
        {"flash", "--image", workspace.Image(), "--port", "5=/dev/null", "--record", fifo},
    };
    for (const auto& command : commands) {
        std::vector<std::string> args = {"-s", "KILL", "10", TARVO_CLI_PATH};
        args.insert(args.end(), command.begin(), command.end());
        const auto start = std::chrono::steady_clock::now();
        const auto run = test::RunProgram("/usr/bin/timeout", args, workspace.Dir());
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, 5s) << command[0] << " " << command[1] << " blocked on the FIFO";
        EXPECT_EQ(run.exitCode, 1) << command[1] << ": " << run.err;
        EXPECT_NE(run.err.find(fifo + ": not a regular file"), std::string::npos) << command[1] << ": " << run.err;
    }
    std::string error;
    RecordStore store;
    EXPECT_FALSE(store.Open(dir.Path(), error, true));
    EXPECT_EQ(error, dir.Path() + ": not a regular file");
}

// A journal on read-only media (here: a folder the reading user cannot write) is listed and
// summarised, and nothing is created beside it.
TEST(JournalFiles, JournalInAReadOnlyFolderIsStillRead)
{
    TempDir dir;
    TempDir results;
    const std::string folder = dir.Path() + "/stick";
    const std::string db = folder + "/records.sqlite";
    std::filesystem::create_directory(folder);
    {
        RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        for (int n = 0; n < 3; ++n)
            ASSERT_TRUE(store.Upsert(test::AwkwardRecord(n), "", error)) << error;
    }
    ASSERT_FALSE(std::filesystem::exists(db + "-wal")) << "the last writer merges its log on close";
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(db.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(results.Path().c_str(), 0777), 0);

    // Root writes anywhere, so under root the reader runs as "nobody". The build tree may lie
    // in a folder that user cannot enter (mktemp's 0700): it runs a copy of the program.
    const std::string program = results.Path() + "/tarvo-cli";
    std::filesystem::copy_file(TARVO_CLI_PATH, program, std::filesystem::copy_options::overwrite_existing);
    ::chmod(program.c_str(), 0755);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0) {
            struct passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
                ::_exit(3);
        }
        const auto list = test::RunProgram(program, {"records", "--record", db, "--format", "csv"});
        const auto summary = test::RunProgram(program, {"records", "summary", "--record", db});
        std::ofstream(results.Path() + "/list") << list.exitCode << "\n" << list.out << list.err;
        std::ofstream(results.Path() + "/summary") << summary.exitCode << "\n" << summary.out << summary.err;
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    auto read = [&](const std::string& name) {
        std::ifstream in(results.Path() + "/" + name);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const std::string list = read("list");
    ASSERT_EQ(list.substr(0, 2), "0\n") << list;
    EXPECT_EQ(test::ParseCsv(list.substr(2)).size(), 4u) << list;
    const std::string summary = read("summary");
    ASSERT_EQ(summary.substr(0, 2), "0\n") << summary;
    EXPECT_NE(summary.find("all "), std::string::npos) << summary;
    EXPECT_FALSE(std::filesystem::exists(db + "-shm"));
    EXPECT_FALSE(std::filesystem::exists(db + "-wal"));
}

TEST(JournalTimes, DatesThatDoNotExistAreRefused)
{
    std::string iso;
    for (const char* bad : {"2026-02-29", "2026-02-30", "2026-04-31", "2026-13-01", "2026-00-10", "2026-12-07T24:00",
                            "2026-12-07T10:60"})
        EXPECT_FALSE(ParseUserTime(bad, iso)) << bad << " taken as " << iso;
    for (const char* good : {"2024-02-29", "2000-02-29", "2026-12-31T23:59:59Z", "2026-01-31"})
        EXPECT_TRUE(ParseUserTime(good, iso)) << good;
    EXPECT_TRUE(ParseUserTime("2024-02-29T10:14Z", iso));
    EXPECT_EQ(iso, "2024-02-29T10:14:00.000Z");
    const auto run = test::RunProgram(TARVO_CLI_PATH, {"records", "--since", "2026-02-30", "--record", "/nonexistent"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("2026-02-30"), std::string::npos) << run.err;
}

}  // namespace
