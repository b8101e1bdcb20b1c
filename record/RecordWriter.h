// The writer thread of the local journal: every record write of a program goes through it, so
// no write ever happens on a user-interface thread.
//
// Submit() hands a record (a RUNNING record at a run's start, the completed one at its end) to
// the thread and returns at once with a ticket; WaitWritten(ticket) blocks the caller (a
// worker, never the window's thread) until that record is durable in the file or the write
// failed. On start the thread opens the database and marks INTERRUPTED the RUNNING records of
// this host whose writing program is gone (a crash, a kill -9), under whatever station name
// they were written.
//
// Failures: when the file cannot be written (disk full, read-only, corrupt, locked by another
// program for more than 5 s), the records stay in memory, Problem() names the file and the
// reason, and the thread retries every second (reopening the file) until they are written;
// nothing is lost while the program runs. Callers use Problem() to refuse starting new runs
// until recording works again.
//
// Threading: every public operation may be called from any thread. The listener is called on
// the writer thread (whenever Problem() changes and after each successful write); it must not
// block and must not call back into the writer's waits.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/RunRecord.h"

namespace tarvo::record {

class RecordWriter {
public:
    // Starts the thread; the database at `path` is opened there. `host` selects the records
    // that a crash left RUNNING (the station's name does not: it may have changed since).
    RecordWriter(std::string path, std::string station, std::string host);
    // Tries to write what is pending for at most 2 s, then stops the thread. Records that still
    // could not be written are lost only then (the caller has shown the problem long before).
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    uint64_t Submit(const RunRecord& record);
    // True when the record of `ticket` (or a later version of the same run) is durable; false
    // when the attempt to write it failed or `timeout` passed.
    // A wait also ends when `*cancel` is true at a WakeWaiters() call.
    bool WaitWritten(uint64_t ticket, std::chrono::milliseconds timeout, const std::atomic<bool>* cancel = nullptr);
    // Wakes every WaitWritten so that it looks at its cancel flag.
    void WakeWaiters();
    // Waits until nothing is pending; false when `timeout` passed first.
    bool Flush(std::chrono::milliseconds timeout);
    // Waits until the start-up work (open, marking INTERRUPTED records) was attempted.
    void WaitStarted();

    // Empty while recording works; else the reason, naming the file.
    std::string Problem() const;
    std::size_t Pending() const;
    // Records that a crash left RUNNING and this start marked INTERRUPTED.
    int Interrupted() const;
    const std::string& Path() const { return m_path; }

    void SetListener(std::function<void()> listener);

private:
    void Run();
    bool EnsureOpen(class RecordStore& store, std::string& error);
    void SetProblem(std::string problem);

    const std::string m_path;
    const std::string m_host;
    const std::string m_tag;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;     // the writer: work or stop
    std::condition_variable m_written;  // waiters: an attempt ended
    struct Queued {
        uint64_t ticket = 0;
        RunRecord record;
    };
    std::map<std::string, Queued> m_pending;  // by run_id: only the latest version is written
    uint64_t m_nextTicket = 1;
    uint64_t m_writtenUpTo = 0;   // every ticket below or equal was written (or superseded and written)
    uint64_t m_failedUpTo = 0;    // the last failed attempt covered every ticket up to this one
    bool m_started = false;
    bool m_stop = false;
    int m_interrupted = 0;
    std::string m_problem;
    std::function<void()> m_listener;
    std::thread m_thread;
};

}  // namespace tarvo::record
