// WorkerThread: a joinable thread with a small stack, for the station's per-port threads (the
// receive thread of each channel, the ready worker and the download thread of each engine).
//
// std::thread gives every thread the process's default stack (8 MiB on Linux). The C library
// caches at most 40 MiB of freed stacks, so with dozens of ports almost every thread start maps
// a fresh stack and every end unmaps one, and on a virtual machine those mappings cost more
// than the rest of a short run. These threads need a few KiB; a 512 KiB stack (more under the
// sanitizers, whose checks use stack of their own) lets the cache keep about 80 of them for
// the next threads.
//
// Same rules as std::thread: join a started thread before it is destroyed or assigned to
// (otherwise std::terminate), and Start throws std::system_error when no thread can be made.
//
// Threading: the owner's thread starts and joins; the body runs on the new thread.
#pragma once

#include <cstddef>
#include <functional>
#include <pthread.h>

namespace tarvo {

class WorkerThread {
public:
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    static constexpr std::size_t kStackBytes = 4 * 1024 * 1024;
#else
    static constexpr std::size_t kStackBytes = 512 * 1024;
#endif

    WorkerThread() = default;
    // Starts `body` on a new thread.
    explicit WorkerThread(std::function<void()> body);
    ~WorkerThread();
    WorkerThread(WorkerThread&& other) noexcept;
    WorkerThread& operator=(WorkerThread&& other) noexcept;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool joinable() const noexcept { return m_started; }
    void join();

private:
    pthread_t m_thread{};
    bool m_started = false;
};

}  // namespace tarvo
