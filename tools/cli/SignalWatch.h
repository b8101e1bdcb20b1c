// SignalWatch: how tarvo-cli ends on SIGINT, SIGTERM and SIGHUP.
//
// While a watch exists, the first of these signals is caught (not fatal): its handler only
// notes the signal and writes a byte to a self-pipe, and the watch's own thread, blocked on
// that pipe (no polling), then calls the callback given with OnSignal, which ends the command's
// work at once (stops the engines, cancels a conversion). The command then releases what it
// holds, prints what it owes and exits with ExitStatus() = 128 + the signal number.
//
// A second signal, with SecondSignal::ExitAtOnce, ends the process at once with 128 + its
// number (nothing more is flushed or released by the program; the kernel releases the devices).
// With SecondSignal::Ignore, later signals are absorbed: for work that must always get to
// clean up (a conversion removing its temporary file), which ends promptly on the first.
//
// One watch at a time per process. The earlier handlers come back when the watch goes.
//
// Threading: construct and destroy on the main thread. The callback runs on the watch's
// thread; OnSignal and Caught may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tarvo::cli {

class SignalWatch {
public:
    enum class SecondSignal { ExitAtOnce, Ignore };

    explicit SignalWatch(SecondSignal second = SecondSignal::ExitAtOnce);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // Sets what happens on the first signal (replacing an earlier callback). When the signal
    // has already arrived, the callback is called at once on the calling thread. Returns only
    // once a call of the earlier callback in progress on the watch's thread has returned, so
    // OnSignal(nullptr) lets the caller destroy what the callback used.
    void OnSignal(std::function<void(int signalNumber)> callback);
    // The first signal caught, 0 while none.
    int Caught() const;
    // 128 + Caught().
    int ExitStatus() const { return 128 + Caught(); }

private:
    void Run();

    int m_pipe[2] = {-1, -1};
    int m_stopFd = -1;  // eventfd that ends the thread
    std::mutex m_mutex;
    std::condition_variable m_returned;
    std::function<void(int)> m_callback;
    bool m_delivered = false;
    bool m_calling = false;  // the watch's thread runs the callback
    std::thread m_thread;
};

// A job's hold on the signals: the watch it was given (or one of its own when none was given)
// sets Interrupted() on the first signal and calls `wake`. Detach(), and at the latest the
// destructor, removes the callback, waiting for a call in progress, so that no return path of
// the job leaves the watch calling into what the job has already destroyed.
class JobSignals {
public:
    JobSignals(SignalWatch* given, std::function<void()> wake);
    ~JobSignals() { Detach(); }
    JobSignals(const JobSignals&) = delete;
    JobSignals& operator=(const JobSignals&) = delete;

    bool Interrupted() const { return m_interrupted.load(); }
    void Detach() { m_watch->OnSignal(nullptr); }
    SignalWatch& Watch() { return *m_watch; }

private:
    std::unique_ptr<SignalWatch> m_own;
    SignalWatch* m_watch;
    std::atomic<bool> m_interrupted{false};
};

}  // namespace tarvo::cli
