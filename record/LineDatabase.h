// A line's database: the production record in PostgreSQL, reached through libpq.
//
// Table `runs`: the record's fields (record/RunRecord.h; the Time fields, started_at and
// ended_at, as timestamptz, read back in the record's ISO text form "2026-12-07T10:14:03.512Z";
// the Integer fields as integer or bigint) plus `seq` (arrival order) and `received_at` (when
// the server first took the record), instead of the journal's bookkeeping. The column lists
// of every statement and the filters are written from the field table. Its version is kept in
// schema_migrations.
// Connect reads that version with a SELECT only: a role without CREATE rights works as long
// as the schema is current, and is told "line database schema is version N, this station
// needs M: run tarvo-cli records migrate" otherwise. A role that may create tables brings the
// schema up to date itself (under an advisory lock, so several stations may connect at once).
// Insert is idempotent, keyed by run_id: sending a record again (a station that lost the
// answer of an earlier attempt) neither duplicates nor loses it.
//
// Nothing waits on the network without a bound: every connection gets libpq's connect
// time-out, TCP keep-alives, tcp_user_timeout and a statement_timeout (the user's own values
// in the connection string win), and every wait for the server runs in poll() with a
// deadline (the statement time-out plus a margin, or an overall deadline set by SetDeadline).
// A connection whose wait ran out or was cancelled is closed: its transaction is rolled back,
// and the server stops the statement (client_connection_check_interval). PQcancel is not used
// for this: libpq 15's PQcancel itself waits without a bound for a server that does not answer.
// TLS, client certificates, ~/.pgpass and PGSERVICE are libpq's own, through the connection
// string.
//
// Every error names the server (its connection string without password) and the reason.
//
// Threading: one LineDatabase is one connection, used by one thread at a time. Cancel() may
// be called from any thread: it ends the connection attempt or statement in progress, and
// every later one, with "cancelled".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "record/Export.h"
#include "record/ImageApproval.h"
#include "record/RecordStore.h"
#include "record/RunRecord.h"

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace tarvo::record {

// One station of the line as the view tarvo_line_status gives it (the line page).
struct LineStation {
    struct Window {
        int64_t runs = 0, pass = 0, fail = 0, error = 0;
        std::optional<double> yield;  // PASS / (PASS + FAIL + ERROR); none without such runs
    };
    std::string station;
    std::optional<std::string> lastRecordAt;  // ISO text
    bool silent = false;  // no record for 10 minutes although it had runs in the last hour
    Window hour, today;   // the last 60 minutes; the current UTC day
    int64_t unitsPerHour = 0;  // runs that ended PASS, FAIL or ERROR in the last 60 minutes
    std::vector<std::pair<std::string, int64_t>> topReasons;  // today's, most frequent first
};

class LineDatabase {
public:
    // The schema version this program writes and reads.
    static int LatestSchemaVersion();

    LineDatabase();
    ~LineDatabase();
    LineDatabase(const LineDatabase&) = delete;
    LineDatabase& operator=(const LineDatabase&) = delete;

    // Connects to the PostgreSQL connection URI (or key=value string) and checks the schema,
    // migrating it when it is behind and the role may. Waits at most `timeoutMs` for the server.
    bool Connect(const std::string& url, int timeoutMs, std::string& error);
    void Close();
    bool IsOpen() const { return m_conn != nullptr; }
    // Ends a Connect or statement in progress on another thread (it fails with "cancelled").
    void Cancel();
    // No wait for the server goes past `deadline` (default: none beyond the statement bound).
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { m_deadline = deadline; }
    // The schema's version after Connect.
    int SchemaVersion() const { return m_version; }

    // Inserts the records in one transaction; those the server has already are updated. Text
    // is sent as valid UTF-8 (RunRecord.h ValidText), whatever an older journal holds.
    bool Insert(const std::vector<RunRecord>& records, std::string& error);
    // True when the last Insert failed because the server refused the data itself (a value
    // out of range or in an invalid encoding, a violated constraint: SQLSTATE classes 22 and
    // 23, a value too large to index): sending the same records again fails again. Insert's
    // error is then the server's own message with its SQLSTATE (the set-aside reason). False
    // for every other failure (connection lost, server shutting down, statement cancelled or
    // timed out, no privilege), which may pass when tried later.
    bool RefusedData() const { return m_refusedData; }
    // Streams the selected records (one row at a time: memory does not grow with the result).
    bool Query(const RecordFilter& filter, const std::function<void(const RunRecord&)>& each, std::string& error);
    // The summary, computed by the server: counts per group, median and 95th percentile of
    // total_ms over finished runs (nearest rank, as the local journal's summary).
    bool Summarise(const RecordFilter& filter, const std::string& by, std::vector<Summary::Group>& groups,
                   std::string& error);
    // True when the last Connect failed because the schema is behind and this role may not
    // migrate it (the error then says to run tarvo-cli records migrate).
    bool SchemaBehind() const { return m_schemaBehind; }

    // Approves the image with digest `sha256` (again, after a revocation); the server stamps
    // who (session_user) and when. `approval` is the row as stored.
    bool Approve(const std::string& sha256, const std::string& name, int64_t bytes, const std::string& note,
                 ImageApproval& approval, std::string& error);
    // Revokes the approval of `sha256` (`found` false: no such approval); the server stamps
    // who and when; revoking again keeps the first revocation.
    bool Revoke(const std::string& sha256, const std::string& note, ImageApproval& approval, bool& found,
                std::string& error);
    // Every approval, revoked ones included, oldest first.
    bool Approvals(std::vector<ImageApproval>& out, std::string& error);
    // Every station's status from the views, with its `topReasons` most frequent failure
    // reasons of the day.
    bool LineStatus(std::vector<LineStation>& out, int topReasons, std::string& error);

    // Number of records held (tests).
    long long Count(std::string& error);

private:
    bool Exec(const char* sql, std::string& error);
    // Sends a statement and waits, bounded, for its last result (nullptr: failed, see Error).
    PGresult* ExecParams(const char* sql, int count, const char* const* params);
    PGresult* ExecParams(const std::string& sql, const std::vector<std::string>& values);
    // Waits until libpq has a whole result or has sent everything; false closes the connection.
    bool Wait();
    bool Migrate(std::string& error);
    std::string Error(const char* what);

    PGconn* m_conn = nullptr;
    int m_cancelFd = -1;   // eventfd written by Cancel
    bool m_refusedData = false;  // see RefusedData
    bool m_schemaBehind = false;  // see SchemaBehind
    int m_version = 0;
    int m_waitMs = 0;      // longest wait for one answer of the server
    std::string m_waitFailure;  // why the last Wait gave up
    std::string m_sqlState;     // of the last statement Exec saw fail
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
};

// The connection string for messages: unchanged when it holds no password, else rebuilt from
// libpq's own parse (PQconninfoParse) with the password shown as "***". Understands every form
// libpq does: URIs with user:password@, ?password=, and key=value strings with quoted values.
std::string RedactedUrl(const std::string& url);

// True when the connection string itself holds a password (in any of libpq's forms).
bool UrlHasPassword(const std::string& url);

}  // namespace tarvo::record
