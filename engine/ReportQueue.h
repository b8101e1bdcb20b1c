// ReportQueue: a report sink that hands the reports of any number of engines to one consumer
// thread, in order, as value copies, and holds each reporting worker until the consumer has
// handled its report (so a download advances no faster than its receiver shows it).
//
// The consumer (the command-line tool's main thread, a test) loops: Pop() a report, act on it
// (on status 0 it may call StartDownload on the engine), then Done(). Destroying an engine on the
// consumer thread is always safe: ReleaseEngine drops that engine's queued reports and lets its
// waiting worker go.
//
// Threading: the sink calls come from engine workers; Pop/Done from the one consumer thread.
// Reports hold no allocation of their own beyond the copied status text.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "engine/ReportSink.h"

namespace tarvo {

struct QueuedReport {
    enum class Kind { Status, Progress, RunEnded };
    Kind kind = Kind::Status;
    CWinMonitorCtrl* engine = nullptr;
    int port = 0;
    int code = 0;        // status
    std::string text;    // status
    std::string reason;  // status: the known cause of a failure, empty when none
    int percent = 0;     // progress
    int position = 0;
    int size = 0;
};

class ReportQueue final : public IReportSink {
public:
    ReportQueue() = default;
    ~ReportQueue() override;
    ReportQueue(const ReportQueue&) = delete;
    ReportQueue& operator=(const ReportQueue&) = delete;

    // Copies the next report into `out`; false when none came within `timeout`. The worker
    // that sent it waits until Done().
    bool Pop(QueuedReport& out, std::chrono::nanoseconds timeout);
    // Lets the worker of the report last popped go on.
    void Done();
    // Makes a Pop in progress (or the next one, when none is) return false at once, e.g. when
    // a signal must end the consumer's loop. Callable from any thread.
    void Wake();

    void OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report) override;
    void OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report) override;
    void ReleaseEngine(const CWinMonitorCtrl& engine) override;
    void OnRunEnded(const CWinMonitorCtrl& engine) override;

private:
    struct Item {
        QueuedReport report;
        bool done = false;
        bool wait = true;  // the worker waits for Done
    };
    void PushAndWait(Item& item);
    void ReleaseLocked(const CWinMonitorCtrl& engine);
    // Workers wait for Done on the condition of their port's slot, so handling one report wakes
    // the worker that sent it (and those of ports sharing the slot), not every waiting worker.
    // The conditions belong to the queue, so they are notified after the lock is released (a
    // woken worker does not block on the lock again) without touching a worker's stack.
    static constexpr std::size_t kHandledSlots = 64;
    std::condition_variable& HandledSlot(const Item& item)
    {
        return m_handled[static_cast<unsigned>(item.report.port) % kHandledSlots];
    }

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::array<std::condition_variable, kHandledSlots> m_handled;
    std::deque<Item*> m_queue;   // items live on the reporting workers' stacks
    Item* m_current = nullptr;   // popped, not yet Done
    bool m_woken = false;        // Wake() called, not yet seen by Pop
};

}  // namespace tarvo
