// The forwarder: sends the local journal's finished records to a line's PostgreSQL database,
// oldest first, and marks each one forwarded once the server has it. A record is marked only
// after the server committed it, and the server's insert is idempotent (keyed by run_id), so
// an outage or a restart of the server at any moment loses nothing and duplicates nothing.
//
// Forwarder runs a thread for a program that keeps running (the window): it forwards at start,
// whenever Notify() says a record was written, and every 30 s; while the server is away it
// retries with back-off (1 s, doubling up to 30 s). Runs never wait for it.
// ForwardPending() does one bounded round on the calling thread (tarvo-cli before it exits,
// `tarvo-cli records push`).
//
// Threading: Notify, Problem and Forwarded may be called from any thread; the destructor
// (owner's thread) cuts a connection attempt or a statement in progress short (the server
// rolls the transaction back) and joins the thread at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace tarvo::record {

class LineDatabase;

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
    LineDatabase* m_line = nullptr;  // owned by the thread; Cancel() from the destructor
    std::thread m_thread;
};

struct ForwardOutcome {
    int64_t sent = 0;   // records the server received in this round
    int64_t left = 0;   // finished records still waiting in the journal (-1: unknown)
    std::string error;  // empty when everything was sent
};

// Sends every pending record of `localPath` to `url`, retrying with back-off (1 s, doubling
// up to 5 s) until none is left or `limit` has passed. Returns within `limit` plus the time of
// the local journal's own work, whatever the server does (silent, half-open, refusing): no
// wait for the server goes past the limit. What was not sent stays pending in the journal.
ForwardOutcome ForwardPending(const std::string& localPath, const std::string& url, std::chrono::milliseconds limit);

// One pass over the journal with an open local store and line database: true when nothing is
// left. Counts into `sent`.
bool ForwardOnce(class RecordStore& store, LineDatabase& line, int64_t& sent, std::string& error);

}  // namespace tarvo::record
