// The reaper: destroys what a row let go of (a port engine that was asked to stop, with the
// objects it points to) on a thread of its own, so that the GUI thread never waits for an
// engine's workers to be joined.
//
// Use (GUI thread): release the engine's reports, ask it to stop, then Retire(row, parts):
// `parts` is the last owner of the engine and its companions; the reaper drops it on a new
// thread, which runs the engine's destructor there. WaitFor(row, limit) waits at most `limit`
// for every retired object of that row to be gone (a replacement may then open the same
// device); a row still busy after that is announced by the `idle` callback once it is done.
//
// The callback runs on the reaper's thread after the row's last retired object is gone; it
// must only post work to the GUI thread. The destructor (or WaitAll) joins every thread, so an
// owner that outlives the reaper (the view) may be pointed to by what the parts destroy.
//
// Threading: Retire, WaitFor, Busy and WaitAll are for one owner thread; the internal state
// is guarded by one mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace tarvo::station {

class Reaper {
public:
    using IdleCallback = std::function<void(int row)>;

    explicit Reaper(IdleCallback idle = {});
    ~Reaper();
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;

    // Drops `parts` on a thread of its own.
    void Retire(int row, std::shared_ptr<void> parts);
    // True when nothing of `row` is being destroyed any more, waiting at most `limit`.
    bool WaitFor(int row, std::chrono::milliseconds limit);
    // True while something of `row` is being destroyed.
    bool Busy(int row) const;
    // Waits until everything retired is gone and joins every thread.
    void WaitAll();

private:
    struct Job {
        int row = 0;
        bool done = false;  // guarded by m_mutex
        std::thread thread;
    };
    int CountOf(int row) const;  // jobs of `row` not done; m_mutex held
    void JoinFinished();

    IdleCallback m_idle;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::list<Job> m_jobs;
};

}  // namespace tarvo::station
