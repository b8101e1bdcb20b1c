// The forwarder: sends the local journal's finished records to a line's PostgreSQL database,
// oldest first, and marks each one forwarded once the server has it. A record is marked only
// after the server committed it, and the server's insert is idempotent (keyed by run_id), so
// an outage or a restart of the server at any moment loses nothing and duplicates nothing.
//
// A record the server refuses for its data (RecordStore.h SetAside, LineDatabase.h
// RefusedData) does not stop the others: its batch is sent again one record at a time, each
// refused record is set aside in the journal with the server's message, and forwarding goes on.
// Set-aside records wait for `tarvo-cli records push --retry-set-aside` (or a new version of
// the record). Any other failure (the connection) stops the pass; it is tried again later.
//
// Forwarder runs a thread for a program that keeps running (the window): it forwards at start,
// whenever Notify() says a record was written, and every 30 s; while the server is away it
// retries with back-off (1 s, doubling up to 30 s). Runs never wait for it.
// ForwardPending() does one bounded round on the calling thread (tarvo-cli before it exits,
// `tarvo-cli records push`).
//
// A status listener (SetStatusListener) hears after every pass what waits, what is set aside,
// the problem and the time of the last pass that succeeded (a status page, a metric).
//
// Threading: Notify, Problem, Forwarded, SetAside and SetStatusListener may be called from any
// thread; the listener is called on the forwarder's thread and must not block; the
// destructor (owner's thread) cuts a connection attempt or a statement in progress short (the
// server rolls the transaction back) and joins the thread at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::record {

class LineDatabase;
class RecordStore;

// The journal's set-aside records: how many, and their distinct reasons (the first few).
struct SetAsideSummary {
    int64_t count = 0;
    std::vector<std::string> reasons;
};
// Reads the summary from an open journal.
bool ReadSetAside(RecordStore& store, SetAsideSummary& out, std::string& error);

// What the forwarder found after a pass.
struct ForwardStatus {
    int64_t pending = -1;   // finished records waiting to be forwarded (-1: the journal was not read)
    int64_t setAside = 0;   // records the server refused for their data
    std::string problem;    // empty while forwarding works
    std::optional<std::chrono::system_clock::time_point> lastSuccess;  // of this forwarder
};

class Forwarder {
public:
    Forwarder(std::string localPath, std::string url);
    ~Forwarder();
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    void Notify();
    // Empty while forwarding works; else the last reason.
    std::string Problem() const;
    // Records forwarded by this forwarder.
    int64_t Forwarded() const;
    // The journal's set-aside records as the last pass found them.
    SetAsideSummary SetAside() const;
    // Called after every pass from now on (the next pass comes at once).
    void SetStatusListener(std::function<void(const ForwardStatus&)> listener);

private:
    void Run();

    const std::string m_localPath;
    const std::string m_url;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_notified = true;
    std::string m_problem;
    int64_t m_forwarded = 0;
    SetAsideSummary m_setAside;
    std::function<void(const ForwardStatus&)> m_listener;
    std::optional<std::chrono::system_clock::time_point> m_lastSuccess;
    LineDatabase* m_line = nullptr;  // owned by the thread; Cancel() from the destructor
    std::thread m_thread;
};

struct ForwardOutcome {
    int64_t sent = 0;   // records the server received in this round
    int64_t left = 0;   // finished records still waiting in the journal, set-aside ones not
                        // counted (-1: unknown)
    std::string error;  // empty when everything was sent
    SetAsideSummary setAside;  // the journal's set-aside records after the last pass
};

// Sends every pending record of `localPath` to `url`, retrying with back-off (1 s, doubling
// up to 5 s) until none is left or `limit` has passed. Returns within `limit` plus the time of
// the local journal's own work, whatever the server does (silent, half-open, refusing): no
// wait for the server goes past the limit. What was not sent stays pending in the journal.
ForwardOutcome ForwardPending(const std::string& localPath, const std::string& url, std::chrono::milliseconds limit);

// One pass over the journal with an open local store and line database: true when nothing is
// left but set-aside records. Counts into `sent`; sets aside the records the server refuses
// for their data; fills `setAside` (when given) with the journal's set-aside records.
bool ForwardOnce(RecordStore& store, LineDatabase& line, int64_t& sent, std::string& error,
                 SetAsideSummary* setAside = nullptr);

}  // namespace tarvo::record
