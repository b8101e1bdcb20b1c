// The record's one description (the field table of RunRecord.h) against what repeats it: the
// `runs` columns of a freshly migrated journal and line database (names and types, beside each
// database's own bookkeeping), the field list of the README's record section, and the filters,
// which select the same records from both databases.

#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "record/LineDatabase.h"
#include "record/PgServer.h"
#include "record/RecordStore.h"
#include "record/TestSupport.h"

using namespace tarvo::record;
using tarvo::test::PgServer;
using tarvo::test::PgSuite;
using tarvo::test::TempDir;

namespace {

using Columns = std::map<std::string, std::string>;  // column name -> type

// The fields with the column type each kind gets, and the database's bookkeeping columns.
Columns Expected(const char* text, const char* time, const char* integer, const Columns& bookkeeping)
{
    Columns want = bookkeeping;
    for (int i = 0; i < kFieldCount; ++i) {
        const Field& field = Fields()[i];
        want[field.name] = field.kind == FieldKind::Text ? text : field.kind == FieldKind::Time ? time : integer;
    }
    return want;
}

// One line per difference, "" when the columns are the expected ones.
std::string Differences(const Columns& want, const Columns& have)
{
    std::string out;
    for (const auto& [name, type] : want) {
        const auto it = have.find(name);
        if (it == have.end())
            out += "missing column " + name + " " + type + "\n";
        else if (it->second != type)
            out += "column " + name + " is " + it->second + ", expected " + type + "\n";
    }
    for (const auto& [name, type] : have)
        if (!want.count(name))
            out += "column " + name + " " + type + " is neither a field of the record nor bookkeeping\n";
    return out;
}

Columns JournalColumns(const std::string& path)
{
    Columns columns;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT name, upper(type) FROM pragma_table_info('runs')", -1, &stmt, nullptr);
        while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
            columns[reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))] =
                reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return columns;
}

// The line database's columns, the types by class: text, integer (integer or bigint),
// timestamptz; any other type as PostgreSQL names it.
Columns LineColumns(const std::string& url, std::string& error)
{
    Columns columns;
    PGconn* conn = PQconnectdb(url.c_str());
    PGresult* r = PQexec(conn, "SELECT column_name, data_type FROM information_schema.columns"
                               " WHERE table_schema = current_schema() AND table_name = 'runs'");
    if (PQresultStatus(r) != PGRES_TUPLES_OK)
        error = PQerrorMessage(conn);
    for (int i = 0; i < PQntuples(r); ++i) {
        std::string type = PQgetvalue(r, i, 1);
        if (type == "bigint")
            type = "integer";
        else if (type == "timestamp with time zone")
            type = "timestamptz";
        columns[PQgetvalue(r, i, 0)] = type;
    }
    PQclear(r);
    PQfinish(conn);
    return columns;
}

// Records across two days, three ports, two stations and every finished result.
std::vector<RunRecord> Sample()
{
    std::vector<RunRecord> records;
    const char* results[] = {result::kPass, result::kFail, result::kError, result::kNoTarget, result::kPass, result::kAborted};
    for (int n = 0; n < 12; ++n) {
        RunRecord r = tarvo::test::AwkwardRecord(n);
        char started[40];
        std::snprintf(started, sizeof started, "2026-12-0%dT10:%02d:00.000Z", 6 + n / 6, n);
        r.started_at = r.ended_at = started;
        r.port = 1 + n % 3;
        r.station = n % 2 ? "bay 1" : "bay 2";
        r.result = results[n % 6];
        records.push_back(r);
    }
    return records;
}

// What each filter selects: the run ids in order.
template <typename Store>
std::vector<std::vector<std::string>> Selections(Store& store, std::string& error)
{
    std::vector<RecordFilter> filters(6);
    filters[0].failuresOnly = true;
    filters[1].port = 2;
    filters[2].since = "2026-12-07T00:00:00.000Z";
    filters[3].until = "2026-12-06T10:03:00.000Z";
    filters[3].station = "bay 2";
    filters[4].result = result::kPass;
    filters[4].port = 1;
    filters[5].failuresOnly = true;
    filters[5].station = "bay 1";
    filters[5].newestFirst = true;
    std::vector<std::vector<std::string>> out;
    for (const RecordFilter& filter : filters) {
        out.emplace_back();
        if (!store.Query(filter, [&](const RunRecord& r) { out.back().push_back(*r.run_id); }, error))
            break;
    }
    return out;
}

// The journal's checks need no server; the line database's tests call NeedServer first.
class RecordSchema : public PgSuite {
protected:
    void SetUp() override {}
    bool NeedEmptyServer()
    {
        NeedServer();
        if (!Ready())
            return false;
        const std::string dropped = server->Sql(PgServer::kDropSchema);
        EXPECT_EQ(dropped, "");
        return dropped.empty();
    }

    TempDir dir;
    std::string db = dir.Path() + "/records.sqlite";
};

}  // namespace

TEST_F(RecordSchema, JournalColumnsAreTheFieldsAndTheJournalsBookkeeping)
{
    std::string error;
    {
        RecordStore store;
        ASSERT_TRUE(store.Open(db, error)) << error;
        ASSERT_EQ(store.SchemaVersion(), RecordStore::LatestSchemaVersion());
    }
    // The bookkeeping as RecordStore.h describes it.
    const Columns bookkeeping = {
        {"seq", "INTEGER"}, {"forwarded", "INTEGER"}, {"writer", "TEXT"}, {"revision", "INTEGER"}, {"set_aside", "TEXT"}};
    const Columns have = JournalColumns(db);
    ASSERT_FALSE(have.empty()) << db << ": no table runs";
    EXPECT_EQ(Differences(Expected("TEXT", "TEXT", "INTEGER", bookkeeping), have), "");
}

TEST_F(RecordSchema, LineDatabaseColumnsAreTheFieldsAndTheLinesBookkeeping)
{
    if (!NeedEmptyServer())
        return;
    std::string error;
    {
        LineDatabase line;
        ASSERT_TRUE(line.Connect(server->Url(), 5000, error)) << error;
        ASSERT_EQ(line.SchemaVersion(), LineDatabase::LatestSchemaVersion());
    }
    // The bookkeeping as LineDatabase.h describes it.
    const Columns bookkeeping = {{"seq", "integer"}, {"received_at", "timestamptz"}};
    const Columns have = LineColumns(server->Url(), error);
    ASSERT_EQ(error, "");
    ASSERT_FALSE(have.empty()) << "no table runs";
    EXPECT_EQ(Differences(Expected("text", "timestamptz", "integer", bookkeeping), have), "");
}

TEST_F(RecordSchema, FiltersSelectTheSameRecordsFromTheJournalAndTheLineDatabase)
{
    if (!NeedEmptyServer())
        return;
    const std::vector<RunRecord> records = Sample();
    std::string error;
    RecordStore store;
    ASSERT_TRUE(store.Open(db, error)) << error;
    ASSERT_TRUE(store.UpsertAll(records, "", error)) << error;
    LineDatabase line;
    ASSERT_TRUE(line.Connect(server->Url(), 5000, error)) << error;
    ASSERT_TRUE(line.Insert(records, error)) << error;

    const auto journal = Selections(store, error);
    ASSERT_EQ(error, "");
    const auto central = Selections(line, error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(journal, central);

    // The selections themselves, from the sample's layout (record n: day 6 + n / 6, minute n,
    // port 1 + n % 3, station "bay 1" for odd n, result PASS FAIL ERROR NO TARGET PASS ABORTED).
    auto ids = [&](std::initializer_list<int> ns) {
        std::vector<std::string> out;
        for (int n : ns)
            out.push_back(*records[static_cast<std::size_t>(n)].run_id);
        return out;
    };
    ASSERT_EQ(journal.size(), 6u);
    EXPECT_EQ(journal[0], ids({1, 2, 7, 8}));          // failures only
    EXPECT_EQ(journal[1], ids({1, 4, 7, 10}));         // port 2
    EXPECT_EQ(journal[2], ids({6, 7, 8, 9, 10, 11}));  // since the second day
    EXPECT_EQ(journal[3], ids({0, 2}));                // before 10:03 on the first day, bay 2
    EXPECT_EQ(journal[4], ids({0, 6}));                // PASS on port 1
    EXPECT_EQ(journal[5], ids({7, 1}));                // failures of bay 1, newest first
}

TEST(RecordReadme, RecordSectionNamesExactlyTheFields)
{
    const std::string path = std::string(TARVO_SOURCE_DIR) + "/README.md";
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::stringstream text;
    text << in.rdbuf();
    const std::string readme = text.str();
    const std::string heading = "## The production record\n";
    const auto start = readme.find(heading);
    ASSERT_NE(start, std::string::npos) << path << ": no section \"The production record\"";
    // The section's first paragraph lists the fields after its first colon ("Every run ... leaves
    // one record, written by ...: who ran it (`run_id`, ..."), each in backquotes; its other
    // code spans are values (`PASS`) or a command line.
    const auto from = readme.find_first_not_of('\n', start + heading.size());
    std::string paragraph = readme.substr(from, readme.find("\n\n", from) - from);
    ASSERT_NE(paragraph.find(':'), std::string::npos) << paragraph;
    paragraph.erase(0, paragraph.find(':'));
    std::set<std::string> named;
    bool code = false;
    std::string span;
    for (const char c : paragraph) {
        if (c == '`') {
            if (code && std::regex_match(span, std::regex("[a-z][a-z0-9_]*")))
                named.insert(span);
            code = !code;
            span.clear();
        } else if (code) {
            span += c;
        }
    }
    std::set<std::string> fields;
    for (int i = 0; i < kFieldCount; ++i)
        fields.insert(Fields()[i].name);
    std::string differences;
    for (const std::string& f : fields)
        if (!named.count(f))
            differences += "the README does not name the field " + f + "\n";
    for (const std::string& n : named)
        if (!fields.count(n))
            differences += "the README names " + n + ", which is no field of the record\n";
    EXPECT_EQ(differences, "");
}
