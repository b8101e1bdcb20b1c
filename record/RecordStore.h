// The local journal of the production record: one SQLite database file.
//
// The file is opened in WAL mode with synchronous=FULL (a record that was written survives a
// crash or power loss) and a busy time-out of 5 s (several programs of one station, e.g. the
// window and a tarvo-cli, write to it at once). The schema carries a version (PRAGMA
// user_version and the table schema_migrations); Open applies every migration the file lacks.
//
// Table `runs`: the record's fields (record/RunRecord.h) plus `seq` (insertion order),
// `forwarded` (1 once a line's database has it) and `writer` (the process that writes a
// RUNNING record, see Identity.h ProcessTag).
//
// Every error text names the database file and the reason ("...records.sqlite: database is
// locked", "...: file is not a database", "...: attempt to write a readonly database").
//
// Threading: one RecordStore is one connection, used by one thread at a time. Open as many
// as needed (the writer thread has its own; readers open theirs).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "record/RunRecord.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tarvo::record {

// Where the local database lives when neither the profile ("Record"/"Database") nor the
// command line names one: $XDG_DATA_HOME/tarvo/records.sqlite, else
// ~/.local/share/tarvo/records.sqlite.
std::string DefaultDatabasePath();

// What a listing selects. Empty strings and unset values select everything.
struct RecordFilter {
    std::string since;    // started_at >= since (UTC ISO text)
    std::string until;    // started_at < until
    std::optional<int> port;
    std::string result;
    std::string station;
    bool failuresOnly = false;  // FAIL and ERROR only
    int limit = 0;        // 0: no limit
    bool newestFirst = false;
};

// One row for the summary: the group's key, the result and the total time.
struct SummaryRow {
    std::string key;
    std::string result;
    std::optional<int64_t> totalMs;
};

class RecordStore {
public:
    RecordStore() = default;
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Opens (creating it and its folder unless `readOnly`) and migrates the database.
    bool Open(const std::string& path, std::string& error, bool readOnly = false);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }
    const std::string& Path() const { return m_path; }

    // Inserts the record or replaces the one with the same run_id (a RUNNING record being
    // completed), durably. `writer` is kept while the result is RUNNING. A replaced record
    // counts as not forwarded again.
    bool Upsert(const RunRecord& record, const std::string& writer, std::string& error);
    // Several records in one transaction (one sync).
    bool UpsertAll(const std::vector<RunRecord>& records, const std::string& writer, std::string& error);
    // Marks INTERRUPTED every RUNNING record of `station` on `host` whose writing process is
    // gone. Returns how many were marked, -1 on error.
    int MarkInterrupted(const std::string& station, const std::string& host, std::string& error);

    // Calls `each` for every selected record, oldest first unless filter.newestFirst.
    bool Query(const RecordFilter& filter, const std::function<void(const RunRecord&)>& each, std::string& error);
    // Streams (group key, result, total_ms) for the summary; `by` is port, station, image or day
    // (or empty: one group).
    bool ForSummary(const RecordFilter& filter, const std::string& by,
                    const std::function<void(const SummaryRow&)>& each, std::string& error);
    // Up to `limit` finished records not yet forwarded, oldest first.
    bool Unforwarded(int limit, std::vector<RunRecord>& out, std::string& error);
    bool MarkForwarded(const std::vector<std::string>& runIds, std::string& error);
    // Finished records not yet forwarded; -1 on error.
    int64_t PendingForward(std::string& error);

    int SchemaVersion() const { return m_version; }
    static int LatestSchemaVersion();

private:
    bool Exec(const char* sql, std::string& error);
    std::string Error(const char* what = nullptr) const;
    bool Migrate(std::string& error);
    bool UpsertOne(const RunRecord& record, const std::string& writer, std::string& error);

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_upsert = nullptr;  // prepared once per connection
    std::string m_path;
    int m_version = 0;
};

}  // namespace tarvo::record
