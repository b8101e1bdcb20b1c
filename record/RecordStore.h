// The local journal of the production record: one SQLite database file.
//
// The file is opened in WAL mode with synchronous=FULL (a record that was written survives a
// crash or power loss) and a busy time-out of 5 s (several programs of one station, e.g. the
// window and a tarvo-cli, write to it at once). The schema carries a version (PRAGMA
// user_version and the table schema_migrations); Open applies every migration the file lacks.
//
// Table `runs`: the record's fields (record/RunRecord.h) plus `seq` (insertion order),
// `forwarded` (1 once a line's database has it), `writer` (the process that writes a RUNNING
// record, see Identity.h ProcessTag), `revision` (raised by every write of the record, so that
// the forwarder marks forwarded only the version it sent) and `set_aside` (the line database's
// reason for refusing this version of the record; null while it is to be forwarded). The
// column lists of every statement and the filters are written from the field table.
//
// Text fields are stored as valid UTF-8 (RunRecord.h ValidText): whatever bytes a label or a
// path held, every export and the line database can take the record.
//
// Only a regular file is opened: a FIFO, a device or a folder given as the database is
// refused at once ("PATH: not a regular file"), never opened (an open or a read of a FIFO
// would block). A reader (Open with readOnly) opens the file with SQLite's mode=ro; where the
// folder cannot be written (read-only media) and no program has the file open, as immutable
// (nothing is created beside it), so a journal on a write-protected stick or a read-only mount
// can still be listed.
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

#include "record/ImageApproval.h"
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

// One condition of a filter on one of the record's fields: `field op value`, or
// `field IN (values)`. Both databases write their WHERE clause, and bind its values, from the
// terms of a filter in this order.
struct FilterTerm {
    const Field* field;
    const char* op;                   // "=", ">=", "<" (one value) or "IN" (one or more)
    std::vector<std::string> values;  // as text; an Integer field's value is a decimal number
};
std::vector<FilterTerm> FilterTerms(const RecordFilter& filter);

// One version of a record: what the forwarder sent and marks.
struct RecordVersion {
    std::string runId;
    int64_t revision = 0;
};

// A finished record waiting to be forwarded, with the revision that was read.
struct PendingRecord {
    RunRecord record;
    int64_t revision = 0;
    RecordVersion Version() const { return {record.run_id.value_or(std::string()), revision}; }
};

// A record the line database refused, with the server's reason.
struct SetAsideRecord {
    std::string runId;
    std::string reason;
};

// Where a record stands with the line database.
struct ForwardState {
    bool forwarded = false;                // the line database has this version
    std::optional<std::string> setAside;   // the line database refused it: its reason
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
    // completed), durably, its text made valid UTF-8. `writer` is kept while the result is
    // RUNNING. A replaced record gets a new revision and counts as not forwarded (and not set
    // aside) again.
    bool Upsert(const RunRecord& record, const std::string& writer, std::string& error);
    // Several records in one transaction (one sync).
    bool UpsertAll(const std::vector<RunRecord>& records, const std::string& writer, std::string& error);
    // Marks INTERRUPTED every RUNNING record written on `host` whose writing process (its
    // `writer` tag) is gone, whatever station name it carries (a station renamed after a crash
    // still gets its records marked). Returns how many were marked, -1 on error.
    int MarkInterrupted(const std::string& host, std::string& error);

    // Calls `each` for every selected record, oldest first unless filter.newestFirst.
    bool Query(const RecordFilter& filter, const std::function<void(const RunRecord&)>& each, std::string& error);
    // The same with each record's forwarding state (for a view that shows it).
    bool QueryStates(const RecordFilter& filter, const std::function<void(const RunRecord&, const ForwardState&)>& each,
                     std::string& error);
    // Streams (group key, result, total_ms) for the summary; `by` is port, station, image or day
    // (or empty: one group).
    bool ForSummary(const RecordFilter& filter, const std::string& by,
                    const std::function<void(const SummaryRow&)>& each, std::string& error);
    // Up to `limit` finished records not yet forwarded and not set aside, oldest first, each
    // with its revision.
    bool Unforwarded(int limit, std::vector<PendingRecord>& out, std::string& error);
    // Marks forwarded each record that is still at the given revision: a record written again
    // since it was read (a newer version the line database has not seen) stays to be forwarded.
    bool MarkForwarded(const std::vector<RecordVersion>& versions, std::string& error);
    // Finished records not yet forwarded and not set aside; -1 on error.
    int64_t PendingForward(std::string& error);

    // Sets the record aside with the line database's `reason` when it is still at that
    // revision: forwarding goes on without it until ClearSetAside or a new version.
    bool SetAside(const RecordVersion& version, const std::string& reason, std::string& error);
    // Records set aside; -1 on error.
    int64_t SetAsideCount(std::string& error);
    // Up to `limit` records set aside (0: all), oldest first, with their reasons.
    bool ListSetAside(int limit, std::vector<SetAsideRecord>& out, std::string& error);
    // Returns every set-aside record to forwarding; how many, -1 on error.
    int64_t ClearSetAside(std::string& error);

    // The approved images last fetched from the line database and when (ISO text), replacing
    // the earlier list, in one transaction.
    bool SaveApprovals(const std::vector<ImageApproval>& approvals, const std::string& fetchedAt, std::string& error);
    // The list last saved; `fetchedAt` empty when none ever was.
    bool LoadApprovals(std::vector<ImageApproval>& approvals, std::string& fetchedAt, std::string& error);

    int SchemaVersion() const { return m_version; }
    static int LatestSchemaVersion();

private:
    bool Exec(const char* sql, std::string& error);
    std::string Error(const char* what = nullptr) const;
    bool Migrate(std::string& error);
    bool UpsertOne(const RunRecord& record, const std::string& writer, std::string& error);
    bool OpenFile(const std::string& path, bool readOnly, bool immutable, std::string& error);
    bool ReadLayout(std::string& error);
    // True when the file has the columns of schema version 3 (revision, set_aside).
    bool HasSetAside() const { return m_version >= 3; }

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_upsert = nullptr;  // prepared once per connection
    std::string m_path;
    int m_version = 0;
    // The record's fields as the file's `runs` table holds them, in the table's order: a
    // journal read at an older version (read-only media) lacks the newer columns, which then
    // read as NULL.
    std::string m_selectList;
};

}  // namespace tarvo::record
