// StopSignal: the stop request of one port engine, and the waits it cuts short.
//
// Request() sets the flag and wakes every thread blocked in WaitFor at once; the flag stays set
// until Clear(). A pause of the protocol is a WaitFor that a stop ends early.
//
// Threading: every operation from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarvo {

class StopSignal {
public:
    void Request()
    {
        {
            std::lock_guard lock(m_mutex);
            m_requested.store(true);
        }
        m_cv.notify_all();
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_requested.store(false);
    }
    bool Requested() const { return m_requested.load(); }
    // Blocks until a stop is requested (true) or `timeout` has passed (false).
    bool WaitFor(std::chrono::nanoseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return m_requested.load(); });
    }

private:
    std::atomic<bool> m_requested{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

}  // namespace tarvo
