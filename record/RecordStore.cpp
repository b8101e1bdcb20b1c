#include "record/RecordStore.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "record/Identity.h"

namespace tarvo::record {

namespace {

// Every migration of the schema, in order; a database at version N has run the first N.
const char* const kMigrations[] = {
    // 1: the first release.
    "CREATE TABLE runs ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " run_id TEXT NOT NULL UNIQUE, station TEXT, host TEXT, operator TEXT, tarvo_version TEXT,"
    " port INTEGER, device TEXT, device_resolved TEXT, started_at TEXT, ended_at TEXT,"
    " result TEXT NOT NULL, status INTEGER, text TEXT, reason TEXT, loader TEXT, loader_version TEXT,"
    " monitor_checksums TEXT, checksums TEXT, main_software TEXT, main_sha256 TEXT, image TEXT,"
    " image_sha256 TEXT, image_bytes INTEGER, bytes_sent INTEGER, wait_ms INTEGER, monitor_ms INTEGER,"
    " erase_ms INTEGER, download_ms INTEGER, verify_ms INTEGER, total_ms INTEGER, unit TEXT,"
    " forwarded INTEGER NOT NULL DEFAULT 0, writer TEXT);"
    "CREATE INDEX runs_started_at ON runs(started_at);"
    "CREATE INDEX runs_to_forward ON runs(seq) WHERE forwarded = 0 AND result <> 'RUNNING';"
    "CREATE INDEX runs_running ON runs(station) WHERE result = 'RUNNING';",
    // 2: the summary reads this narrow index instead of the whole table.
    "CREATE INDEX runs_summary ON runs(started_at, result, total_ms, port, station, image);",
    // 3: the version of a record the forwarder sent; records the line database refused; the
    // RUNNING records of a host (whatever their station's name).
    "ALTER TABLE runs ADD COLUMN revision INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE runs ADD COLUMN set_aside TEXT;"
    "DROP INDEX runs_to_forward;"
    "CREATE INDEX runs_to_forward ON runs(seq) WHERE forwarded = 0 AND result <> 'RUNNING' AND set_aside IS NULL;"
    "CREATE INDEX runs_set_aside ON runs(seq) WHERE set_aside IS NOT NULL;"
    "DROP INDEX runs_running;"
    "CREATE INDEX runs_running ON runs(host) WHERE result = 'RUNNING';",
    // 4: the physical slot of the device and the image's approval; the last approval list
    // fetched from the line database, used while the server is away.
    "ALTER TABLE runs ADD COLUMN location TEXT;"
    "ALTER TABLE runs ADD COLUMN approval TEXT;"
    "CREATE TABLE approvals_cache (sha256 TEXT PRIMARY KEY, name TEXT, bytes INTEGER,"
    " approved_by TEXT, approved_at TEXT, note TEXT, revoked_by TEXT, revoked_at TEXT, revoke_note TEXT);"
    "CREATE TABLE approvals_fetch (id INTEGER PRIMARY KEY CHECK (id = 1), fetched_at TEXT NOT NULL);",
};
constexpr int kLatest = sizeof kMigrations / sizeof kMigrations[0];

// Finalizes a statement however the scope ends.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

// `path` as an SQLite URI ("file:" and the path with every byte outside the unreserved
// characters and '/' percent-encoded) with `query`.
std::string FileUri(const std::string& path, const std::string& query)
{
    static const char* const kHex = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '/' || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[u >> 4];
            uri += kHex[u & 0x0F];
        }
    }
    return uri + "?" + query;
}

// Text of a column, "" for null.
std::string ColumnText(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))) : std::string();
}

void ReadRow(sqlite3_stmt* stmt, RunRecord& record)
{
    for (int i = 0; i < kFieldCount; ++i) {
        const Field& field = Fields()[i];
        const bool null = sqlite3_column_type(stmt, i) == SQLITE_NULL;
        if (field.text) {
            if (null) {
                (record.*field.text).reset();
            } else {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                (record.*field.text) = std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
            }
        } else {
            if (null)
                (record.*field.number).reset();
            else
                (record.*field.number) = sqlite3_column_int64(stmt, i);
        }
    }
}

// WHERE clause of a filter; the values are bound in the same order by BindFilter.
std::string WhereClause(const RecordFilter& filter)
{
    std::string where = " WHERE 1";
    for (const FilterTerm& term : FilterTerms(filter)) {
        where += std::string(" AND ") + term.field->name + " " + term.op + " ";
        if (std::strcmp(term.op, "IN") == 0) {
            where += "(";
            for (std::size_t i = 0; i < term.values.size(); ++i)
                where += i ? ", ?" : "?";
            where += ")";
        } else {
            where += "?";
        }
    }
    return where;
}

void BindFilter(sqlite3_stmt* stmt, const RecordFilter& filter)
{
    int n = 1;
    for (const FilterTerm& term : FilterTerms(filter)) {
        for (const std::string& value : term.values) {
            if (term.field->kind == FieldKind::Integer)
                sqlite3_bind_int64(stmt, n++, std::strtoll(value.c_str(), nullptr, 10));
            else
                sqlite3_bind_text(stmt, n++, value.c_str(), -1, SQLITE_TRANSIENT);
        }
    }
}

}  // namespace

std::vector<FilterTerm> FilterTerms(const RecordFilter& filter)
{
    std::vector<FilterTerm> terms;
    const Field& started = FieldOf(&RunRecord::started_at);
    const Field& outcome = FieldOf(&RunRecord::result);
    if (!filter.since.empty())
        terms.push_back({&started, ">=", {filter.since}});
    if (!filter.until.empty())
        terms.push_back({&started, "<", {filter.until}});
    if (filter.port)
        terms.push_back({&FieldOf(&RunRecord::port), "=", {std::to_string(*filter.port)}});
    if (!filter.result.empty())
        terms.push_back({&outcome, "=", {filter.result}});
    if (filter.failuresOnly)
        terms.push_back({&outcome, "IN", {result::kFail, result::kError}});
    if (!filter.station.empty())
        terms.push_back({&FieldOf(&RunRecord::station), "=", {filter.station}});
    return terms;
}

std::string DefaultDatabasePath()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data && *data) {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : "/tmp") + "/.local/share";
    }
    return base + "/tarvo/records.sqlite";
}

int RecordStore::LatestSchemaVersion() { return kLatest; }

RecordStore::~RecordStore() { Close(); }

void RecordStore::Close()
{
    if (m_upsert) {
        sqlite3_finalize(m_upsert);
        m_upsert = nullptr;
    }
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

std::string RecordStore::Error(const char* what) const
{
    std::string text = m_path + ": ";
    if (what)
        text += what;
    else if (m_db)
        text += sqlite3_errmsg(m_db);
    else
        text += "cannot open the database";
    if (m_db && sqlite3_errcode(m_db) == SQLITE_BUSY)
        text += " (another program held it for more than 5 s)";
    return text;
}

bool RecordStore::Exec(const char* sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error = Error();
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool RecordStore::Open(const std::string& path, std::string& error, bool readOnly)
{
    Close();
    m_path = path;
    // SQLite would open a FIFO or a device like a file and then wait on it for ever: only a
    // regular file (or, for a writer, none yet) is taken.
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    bool immutable = false;
    bool unmerged = false;  // a reader found writes in the -wal file beside an unwritable folder
    if (readOnly) {
        if (!std::filesystem::exists(path)) {
            error = path + ": no such database (nothing has been recorded there)";
            return false;
        }
        // A reader of a journal in WAL mode needs the -shm file beside it, and creates it when
        // no program has the journal open. Where the folder cannot be written (read-only
        // media) and no program has it open (no -shm file, no -wal file holding unmerged
        // writes), the file is read as immutable: SQLite then neither locks it nor creates
        // anything beside it. While a program has it open, its -shm file serves the reader.
        std::string folder = std::filesystem::path(path).parent_path().string();
        if (folder.empty())
            folder = ".";
        std::error_code ec;
        const auto walSize = std::filesystem::file_size(path + "-wal", ec);
        const bool folderWritable = ::access(folder.c_str(), W_OK) == 0;
        unmerged = !folderWritable && !ec && walSize > 0;
        immutable = !folderWritable && !unmerged && !std::filesystem::exists(path + "-shm", ec);
    } else {
        std::error_code ec;
        const auto folder = std::filesystem::path(path).parent_path();
        if (!folder.empty())
            std::filesystem::create_directories(folder, ec);
        if (ec) {
            error = path + ": cannot create the folder " + folder.string() + ": " + ec.message();
            return false;
        }
    }
    if (!OpenFile(path, readOnly, immutable, error))
        return false;
    sqlite3_busy_timeout(m_db, 5000);
    sqlite3_extended_result_codes(m_db, 0);
    // Reading the schema first tells a file that is no database (or a corrupt one) at once.
    if (!Exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON", error) ||
        !Exec("SELECT count(*) FROM sqlite_schema", error)) {
        if (unmerged)
            error += " (" + path + "-wal holds writes not yet merged into the file, and the folder cannot be written: "
                     "copy the folder to writable storage to read them)";
        Close();
        return false;
    }
    if (!readOnly && !Exec("PRAGMA journal_mode=WAL", error)) {
        Close();
        return false;
    }
    if (!Migrate(error) || !ReadLayout(error)) {
        Close();
        return false;
    }
    return true;
}

bool RecordStore::ReadLayout(std::string& error)
{
    std::set<std::string> columns;
    Statement info;
    if (sqlite3_prepare_v2(m_db, "SELECT name FROM pragma_table_info('runs')", -1, &info.stmt, nullptr) != SQLITE_OK) {
        error = Error();
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(info.stmt)) == SQLITE_ROW)
        columns.insert(ColumnText(info.stmt, 0));
    if (rc != SQLITE_DONE) {
        error = Error();
        return false;
    }
    m_selectList.clear();
    for (int i = 0; i < kFieldCount; ++i) {
        const char* name = Fields()[i].name;
        m_selectList += std::string(i ? ", " : "") + (columns.count(name) ? name : "NULL");
    }
    return true;
}

bool RecordStore::OpenFile(const std::string& path, bool readOnly, bool immutable, std::string& error)
{
    int rc;
    if (readOnly) {
        const std::string uri = FileUri(path, immutable ? "mode=ro&immutable=1" : "mode=ro");
        rc = sqlite3_open_v2(uri.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    } else {
        rc = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    }
    if (rc != SQLITE_OK) {
        error = Error();
        if (errno == EACCES)
            error += " (permission denied)";
        Close();
        return false;
    }
    return true;
}

bool RecordStore::Migrate(std::string& error)
{
    {
        Statement version;
        sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &version.stmt, nullptr);
        if (!version.stmt || sqlite3_step(version.stmt) != SQLITE_ROW) {
            error = Error();
            return false;
        }
        m_version = sqlite3_column_int(version.stmt, 0);
    }
    if (m_version > kLatest) {
        error = m_path + ": written by a newer Tarvo (schema version " + std::to_string(m_version) +
                ", this program knows up to " + std::to_string(kLatest) + ")";
        return false;
    }
    if (m_version == kLatest)
        return true;
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        // A reader takes the layout as it is: every version has the record's columns. The next
        // writer brings it up to date.
        if (m_version == 0) {
            error = m_path + ": holds no production record";
            return false;
        }
        return true;
    }
    // One writer migrates; the others wait on the lock and then find the work done.
    if (!Exec("BEGIN IMMEDIATE", error))
        return false;
    {
        // Finalized before the migrations run: a statement still open would keep a DROP from
        // working ("database table is locked").
        Statement version;
        sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &version.stmt, nullptr);
        if (!version.stmt || sqlite3_step(version.stmt) != SQLITE_ROW) {
            error = Error();
            std::string ignored;
            Exec("ROLLBACK", ignored);
            return false;
        }
        m_version = sqlite3_column_int(version.stmt, 0);
    }
    if (m_version == 0 &&
        !Exec("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL)",
              error)) {
        std::string ignored;
        Exec("ROLLBACK", ignored);
        return false;
    }
    for (int v = m_version + 1; v <= kLatest; ++v) {
        const std::string record = "INSERT INTO schema_migrations(version, applied_at) VALUES (" + std::to_string(v) +
                                   ", '" + IsoUtcNow() + "'); PRAGMA user_version=" + std::to_string(v);
        if (!Exec(kMigrations[v - 1], error) || !Exec(record.c_str(), error)) {
            std::string ignored;
            Exec("ROLLBACK", ignored);
            return false;
        }
    }
    if (!Exec("COMMIT", error)) {
        std::string ignored;
        Exec("ROLLBACK", ignored);
        return false;
    }
    m_version = kLatest;
    return true;
}

bool RecordStore::UpsertOne(const RunRecord& record, const std::string& writer, std::string& error)
{
    static const std::string sql = [] {
        std::string values;
        for (int i = 0; i < kFieldCount; ++i)
            values += "?, ";
        return "INSERT INTO runs (" + FieldNames() + ", forwarded, writer) VALUES (" + values +
               "0, ?) ON CONFLICT(run_id) DO UPDATE SET " + FieldsFromExcluded() +
               ", forwarded = 0, writer = excluded.writer, revision = revision + 1, set_aside = NULL";
    }();
    if (!m_upsert && sqlite3_prepare_v2(m_db, sql.c_str(), -1, &m_upsert, nullptr) != SQLITE_OK) {
        error = Error();
        return false;
    }
    struct Reset {
        sqlite3_stmt* stmt;
        ~Reset()
        {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    } insert{m_upsert};
    for (int i = 0; i < kFieldCount; ++i) {
        const Field& field = Fields()[i];
        if (field.text) {
            const Text& value = record.*field.text;
            if (value && IsValidText(*value)) {
                sqlite3_bind_text(insert.stmt, i + 1, value->data(), static_cast<int>(value->size()), SQLITE_TRANSIENT);
            } else if (value) {
                // A label from a scanner in another code page, a path from a foreign file
                // system: the bytes that are no UTF-8 become U+FFFD here, once for every reader.
                const std::string valid = ValidText(*value);
                sqlite3_bind_text(insert.stmt, i + 1, valid.data(), static_cast<int>(valid.size()), SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_null(insert.stmt, i + 1);
            }
        } else {
            const Number& value = record.*field.number;
            if (value)
                sqlite3_bind_int64(insert.stmt, i + 1, *value);
            else
                sqlite3_bind_null(insert.stmt, i + 1);
        }
    }
    const bool running = record.result && *record.result == result::kRunning;
    if (running)
        sqlite3_bind_text(insert.stmt, kFieldCount + 1, writer.c_str(), -1, SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(insert.stmt, kFieldCount + 1);
    if (sqlite3_step(insert.stmt) != SQLITE_DONE) {
        error = Error();
        return false;
    }
    return true;
}

bool RecordStore::Upsert(const RunRecord& record, const std::string& writer, std::string& error)
{
    if (!m_db) {
        error = Error("the database is not open");
        return false;
    }
    return UpsertOne(record, writer, error);
}

bool RecordStore::UpsertAll(const std::vector<RunRecord>& records, const std::string& writer, std::string& error)
{
    if (!m_db) {
        error = Error("the database is not open");
        return false;
    }
    if (records.size() == 1)
        return UpsertOne(records[0], writer, error);
    if (!Exec("BEGIN IMMEDIATE", error))
        return false;
    for (const RunRecord& record : records) {
        if (!UpsertOne(record, writer, error)) {
            std::string ignored;
            Exec("ROLLBACK", ignored);
            return false;
        }
    }
    if (!Exec("COMMIT", error)) {
        std::string ignored;
        Exec("ROLLBACK", ignored);
        return false;
    }
    return true;
}

int RecordStore::MarkInterrupted(const std::string& host, std::string& error)
{
    // The writer's tag (pid and start time) tells a crashed program from one that runs; it
    // means something on its own host only.
    std::vector<std::pair<std::string, std::string>> running;  // run_id, writer
    {
        Statement select;
        if (sqlite3_prepare_v2(m_db, "SELECT run_id, writer FROM runs WHERE result = 'RUNNING' AND host = ?", -1,
                               &select.stmt, nullptr) != SQLITE_OK) {
            error = Error();
            return -1;
        }
        sqlite3_bind_text(select.stmt, 1, host.c_str(), -1, SQLITE_TRANSIENT);
        int rc;
        while ((rc = sqlite3_step(select.stmt)) == SQLITE_ROW) {
            const auto* id = reinterpret_cast<const char*>(sqlite3_column_text(select.stmt, 0));
            const auto* writer = reinterpret_cast<const char*>(sqlite3_column_text(select.stmt, 1));
            running.emplace_back(id ? id : "", writer ? writer : "");
        }
        if (rc != SQLITE_DONE) {
            error = Error();
            return -1;
        }
    }
    int marked = 0;
    const std::string now = IsoUtcNow();
    for (const auto& [id, writer] : running) {
        if (ProcessAlive(writer))
            continue;  // another program of this station is running that record right now
        Statement update;
        if (sqlite3_prepare_v2(m_db,
                               "UPDATE runs SET result = 'INTERRUPTED', ended_at = coalesce(ended_at, ?), "
                               "reason = coalesce(reason, 'the program ended during the run'), forwarded = 0, "
                               "writer = NULL, revision = revision + 1, set_aside = NULL "
                               "WHERE run_id = ? AND result = 'RUNNING'",
                               -1, &update.stmt, nullptr) != SQLITE_OK) {
            error = Error();
            return -1;
        }
        sqlite3_bind_text(update.stmt, 1, now.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(update.stmt, 2, id.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(update.stmt) != SQLITE_DONE) {
            error = Error();
            return -1;
        }
        marked += sqlite3_changes(m_db);
    }
    return marked;
}

bool RecordStore::Query(const RecordFilter& filter, const std::function<void(const RunRecord&)>& each,
                        std::string& error)
{
    return QueryStates(filter, [&](const RunRecord& record, const ForwardState&) { each(record); }, error);
}

bool RecordStore::QueryStates(const RecordFilter& filter,
                              const std::function<void(const RunRecord&, const ForwardState&)>& each,
                              std::string& error)
{
    std::string sql = "SELECT " + m_selectList + ", forwarded, " + (HasSetAside() ? "set_aside" : "NULL") +
                      " FROM runs" + WhereClause(filter) + " ORDER BY seq" + (filter.newestFirst ? " DESC" : "");
    if (filter.limit > 0)
        sql += " LIMIT " + std::to_string(filter.limit);
    Statement select;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &select.stmt, nullptr) != SQLITE_OK) {
        error = Error();
        return false;
    }
    BindFilter(select.stmt, filter);
    RunRecord record;
    ForwardState state;
    int rc;
    while ((rc = sqlite3_step(select.stmt)) == SQLITE_ROW) {
        ReadRow(select.stmt, record);
        state.forwarded = sqlite3_column_int(select.stmt, kFieldCount) != 0;
        state.setAside = sqlite3_column_type(select.stmt, kFieldCount + 1) == SQLITE_NULL
                             ? std::nullopt
                             : std::optional<std::string>(ColumnText(select.stmt, kFieldCount + 1));
        each(record, state);
    }
    if (rc != SQLITE_DONE) {
        error = Error();
        return false;
    }
    return true;
}

bool RecordStore::ForSummary(const RecordFilter& filter, const std::string& by,
                             const std::function<void(const SummaryRow&)>& each, std::string& error)
{
    std::string key = "''";
    if (by == "port")
        key = "port";
    else if (by == "station")
        key = "station";
    else if (by == "image")
        key = "image";
    else if (by == "day")
        key = "substr(started_at, 1, 10)";
    else if (by == "location")
        key = "location";
    const std::string sql = "SELECT " + key + ", result, total_ms FROM runs" + WhereClause(filter);
    Statement select;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &select.stmt, nullptr) != SQLITE_OK) {
        error = Error();
        return false;
    }
    BindFilter(select.stmt, filter);
    SummaryRow row;
    int rc;
    while ((rc = sqlite3_step(select.stmt)) == SQLITE_ROW) {
        const auto* k = reinterpret_cast<const char*>(sqlite3_column_text(select.stmt, 0));
        const auto* r = reinterpret_cast<const char*>(sqlite3_column_text(select.stmt, 1));
        row.key.assign(k ? k : "");
        row.result.assign(r ? r : "");
        if (sqlite3_column_type(select.stmt, 2) == SQLITE_NULL)
            row.totalMs.reset();
        else
            row.totalMs = sqlite3_column_int64(select.stmt, 2);
        each(row);
    }
    if (rc != SQLITE_DONE) {
        error = Error();
        return false;
    }
    return true;
}

bool RecordStore::Unforwarded(int limit, std::vector<PendingRecord>& out, std::string& error)
{
    out.clear();
    const std::string sql = "SELECT " + m_selectList +
                            ", revision FROM runs WHERE forwarded = 0 AND result <> 'RUNNING' AND set_aside IS NULL "
                            "ORDER BY seq LIMIT " +
                            std::to_string(limit);
    Statement select;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &select.stmt, nullptr) != SQLITE_OK) {
        error = Error();
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(select.stmt)) == SQLITE_ROW) {
        out.emplace_back();
        ReadRow(select.stmt, out.back().record);
        out.back().revision = sqlite3_column_int64(select.stmt, kFieldCount);
    }
    if (rc != SQLITE_DONE) {
        error = Error();
        return false;
    }
    return true;
}

bool RecordStore::MarkForwarded(const std::vector<RecordVersion>& versions, std::string& error)
{
    if (!Exec("BEGIN IMMEDIATE", error))
        return false;
    auto rollback = [&] {
        error = Error();
        std::string ignored;
        Exec("ROLLBACK", ignored);
        return false;
    };
    Statement update;
    // A record written again since it was read has a higher revision and stays unforwarded.
    if (sqlite3_prepare_v2(m_db,
                           "UPDATE runs SET forwarded = 1 WHERE run_id = ? AND revision = ? AND result <> 'RUNNING'",
                           -1, &update.stmt, nullptr) != SQLITE_OK)
        return rollback();
    for (const RecordVersion& version : versions) {
        sqlite3_reset(update.stmt);
        sqlite3_bind_text(update.stmt, 1, version.runId.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(update.stmt, 2, version.revision);
        if (sqlite3_step(update.stmt) != SQLITE_DONE)
            return rollback();
    }
    if (!Exec("COMMIT", error)) {
        std::string ignored;
        Exec("ROLLBACK", ignored);
        return false;
    }
    return true;
}

int64_t RecordStore::PendingForward(std::string& error)
{
    Statement count;
    // A reader of an older layout finds no set-aside column: nothing was set aside there.
    const char* sql =
        HasSetAside() ? "SELECT count(*) FROM runs WHERE forwarded = 0 AND result <> 'RUNNING' AND set_aside IS NULL"
                      : "SELECT count(*) FROM runs WHERE forwarded = 0 AND result <> 'RUNNING'";
    if (sqlite3_prepare_v2(m_db, sql, -1, &count.stmt, nullptr) != SQLITE_OK ||
        sqlite3_step(count.stmt) != SQLITE_ROW) {
        error = Error();
        return -1;
    }
    return sqlite3_column_int64(count.stmt, 0);
}

bool RecordStore::SetAside(const RecordVersion& version, const std::string& reason, std::string& error)
{
    Statement update;
    if (sqlite3_prepare_v2(m_db, "UPDATE runs SET set_aside = ? WHERE run_id = ? AND revision = ? AND forwarded = 0",
                           -1, &update.stmt, nullptr) != SQLITE_OK) {
        error = Error();
        return false;
    }
    // An empty reason would read as "not set aside" nowhere, but say something all the same.
    const std::string text = ValidText(reason.empty() ? std::string("refused by the line database") : reason);
    sqlite3_bind_text(update.stmt, 1, text.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(update.stmt, 2, version.runId.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(update.stmt, 3, version.revision);
    if (sqlite3_step(update.stmt) != SQLITE_DONE) {
        error = Error();
        return false;
    }
    return true;
}

int64_t RecordStore::SetAsideCount(std::string& error)
{
    if (!HasSetAside())
        return 0;  // an older layout: nothing can have been set aside
    Statement count;
    if (sqlite3_prepare_v2(m_db, "SELECT count(*) FROM runs WHERE set_aside IS NOT NULL", -1, &count.stmt, nullptr) !=
            SQLITE_OK ||
        sqlite3_step(count.stmt) != SQLITE_ROW) {
        error = Error();
        return -1;
    }
    return sqlite3_column_int64(count.stmt, 0);
}

bool RecordStore::ListSetAside(int limit, std::vector<SetAsideRecord>& out, std::string& error)
{
    out.clear();
    if (!HasSetAside())
        return true;
    std::string sql = "SELECT run_id, set_aside FROM runs WHERE set_aside IS NOT NULL ORDER BY seq";
    if (limit > 0)
        sql += " LIMIT " + std::to_string(limit);
    Statement select;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &select.stmt, nullptr) != SQLITE_OK) {
        error = Error();
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(select.stmt)) == SQLITE_ROW)
        out.push_back({ColumnText(select.stmt, 0), ColumnText(select.stmt, 1)});
    if (rc != SQLITE_DONE) {
        error = Error();
        return false;
    }
    return true;
}

int64_t RecordStore::ClearSetAside(std::string& error)
{
    if (!Exec("UPDATE runs SET set_aside = NULL WHERE set_aside IS NOT NULL", error))
        return -1;
    return sqlite3_changes(m_db);
}

}  // namespace tarvo::record

namespace tarvo::record {

bool RecordStore::SaveApprovals(const std::vector<ImageApproval>& approvals, const std::string& fetchedAt,
                                std::string& error)
{
    if (!Exec("BEGIN IMMEDIATE", error))
        return false;
    auto fail = [&] {
        error = Error();
        std::string ignored;
        Exec("ROLLBACK", ignored);
        return false;
    };
    if (!Exec("DELETE FROM approvals_cache", error))
        return fail();
    Statement insert;
    if (sqlite3_prepare_v2(m_db,
                           "INSERT INTO approvals_cache (sha256, name, bytes, approved_by, approved_at, note, revoked_by,"
                           " revoked_at, revoke_note) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                           -1, &insert.stmt, nullptr) != SQLITE_OK)
        return fail();
    for (const ImageApproval& a : approvals) {
        const std::string* texts[] = {&a.sha256, &a.name, nullptr, &a.approvedBy, &a.approvedAt, &a.note,
                                      &a.revokedBy, &a.revokedAt, &a.revokeNote};
        for (int i = 0; i < 9; ++i) {
            if (texts[i])
                sqlite3_bind_text(insert.stmt, i + 1, texts[i]->c_str(), -1, SQLITE_TRANSIENT);
            else
                sqlite3_bind_int64(insert.stmt, i + 1, a.bytes);
        }
        if (sqlite3_step(insert.stmt) != SQLITE_DONE)
            return fail();
        sqlite3_reset(insert.stmt);
    }
    Statement stamp;
    if (sqlite3_prepare_v2(m_db, "INSERT OR REPLACE INTO approvals_fetch (id, fetched_at) VALUES (1, ?)", -1, &stamp.stmt,
                           nullptr) != SQLITE_OK)
        return fail();
    sqlite3_bind_text(stamp.stmt, 1, fetchedAt.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(stamp.stmt) != SQLITE_DONE)
        return fail();
    return Exec("COMMIT", error) || fail();
}

bool RecordStore::LoadApprovals(std::vector<ImageApproval>& approvals, std::string& fetchedAt, std::string& error)
{
    approvals.clear();
    fetchedAt.clear();
    if (m_version < 4)
        return true;  // a journal older than the list (read-only media): none fetched
    Statement when;
    if (sqlite3_prepare_v2(m_db, "SELECT fetched_at FROM approvals_fetch WHERE id = 1", -1, &when.stmt, nullptr) != SQLITE_OK) {
        error = Error();
        return false;
    }
    if (sqlite3_step(when.stmt) == SQLITE_ROW)
        fetchedAt = ColumnText(when.stmt, 0);
    Statement select;
    if (sqlite3_prepare_v2(m_db,
                           "SELECT sha256, name, bytes, approved_by, approved_at, note, revoked_by, revoked_at, revoke_note"
                           " FROM approvals_cache ORDER BY approved_at",
                           -1, &select.stmt, nullptr) != SQLITE_OK) {
        error = Error();
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(select.stmt)) == SQLITE_ROW) {
        ImageApproval a;
        a.sha256 = ColumnText(select.stmt, 0);
        a.name = ColumnText(select.stmt, 1);
        a.bytes = sqlite3_column_int64(select.stmt, 2);
        a.approvedBy = ColumnText(select.stmt, 3);
        a.approvedAt = ColumnText(select.stmt, 4);
        a.note = ColumnText(select.stmt, 5);
        a.revokedBy = ColumnText(select.stmt, 6);
        a.revokedAt = ColumnText(select.stmt, 7);
        a.revokeNote = ColumnText(select.stmt, 8);
        approvals.push_back(std::move(a));
    }
    if (rc != SQLITE_DONE) {
        error = Error();
        return false;
    }
    return true;
}

}  // namespace tarvo::record
