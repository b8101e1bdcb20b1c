// A line's database: the production record in PostgreSQL, reached through libpq.
//
// The schema is the local one's (record/RecordStore.h) with `received_at` instead of the
// journal's bookkeeping; Connect creates it and records its migrations in schema_migrations
// on first connection (under an advisory lock, so several stations may connect at once).
// Insert is idempotent, keyed by run_id: sending a record again (a station that lost the
// answer of an earlier attempt) neither duplicates nor loses it.
//
// Every error names the server's connection error or the statement's failure.
//
// Threading: one LineDatabase is one connection, used by one thread at a time. Connect can be
// cut short from another thread with Cancel().
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "record/RecordStore.h"
#include "record/RunRecord.h"

typedef struct pg_conn PGconn;

namespace tarvo::record {

class LineDatabase {
public:
    LineDatabase();
    ~LineDatabase();
    LineDatabase(const LineDatabase&) = delete;
    LineDatabase& operator=(const LineDatabase&) = delete;

    // Connects to the PostgreSQL connection URI (or key=value string) and brings the schema up
    // to date. Waits at most `timeoutMs` for the server.
    bool Connect(const std::string& url, int timeoutMs, std::string& error);
    void Close();
    bool IsOpen() const { return m_conn != nullptr; }
    // Ends a Connect in progress on another thread (it fails with "cancelled").
    void Cancel();

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
    bool Query(const RecordFilter& filter, const std::function<void(const RunRecord&)>& each, std::string& error);
    bool ForSummary(const RecordFilter& filter, const std::string& by,
                    const std::function<void(const SummaryRow&)>& each, std::string& error);
    // Number of records held (tests).
    long long Count(std::string& error);

private:
    bool Exec(const char* sql, std::string& error);
    bool Migrate(std::string& error);
    std::string Error(const char* what) const;

    PGconn* m_conn = nullptr;
    int m_cancelFd = -1;   // eventfd written by Cancel
    bool m_refusedData = false;  // see RefusedData
};

// Connection URI with any password replaced by "***", for messages.
std::string RedactedUrl(const std::string& url);

}  // namespace tarvo::record
