// A report sink for tests: keeps a copy of every report in order and can hold a worker inside
// a report until the test lets it go (or the engine releases it).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/ReportSink.h"

namespace tarvo::test {

struct Event {
    bool progress = false;
    int port = 0;
    int code = 0;        // status
    std::string text;    // status
    std::string reason;  // status: the known cause, empty when none
    int percent = 0, position = 0, size = 0;  // progress
};

class RecordingSink : public IReportSink {
public:
    void OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report) override;
    void OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report) override;
    void ReleaseEngine(const CWinMonitorCtrl& engine) override;
    void OnRunEnded(const CWinMonitorCtrl& engine) override;

    // Holds every later report until Unhold() or ReleaseEngine().
    void Hold();
    void Unhold();
    // Called on the worker for each status report, after it was recorded.
    std::function<void(const StatusReport&)> onStatus;

    std::vector<Event> Events() const;
    std::vector<Event> Statuses() const;
    // Waits until a status report with `code` arrived (any code when -1).
    bool WaitStatus(int code, std::chrono::milliseconds timeout) const;
    // Waits until a status report with a code that ends a run arrived (0 excluded).
    bool WaitEnd(std::chrono::milliseconds timeout) const;
    bool WaitHeld(std::chrono::milliseconds timeout) const;
    bool released() const;
    // OnRunEnded calls so far, and a wait for the first.
    int RunsEnded() const;
    bool WaitRunEnded(std::chrono::milliseconds timeout) const;

private:
    void Block(std::unique_lock<std::mutex>& lock);
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<Event> m_events;
    bool m_hold = false;
    bool m_released = false;
    int m_heldCount = 0;
    int m_runsEnded = 0;
};

}  // namespace tarvo::test
