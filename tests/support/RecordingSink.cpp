#include "support/RecordingSink.h"

#include "engine/StatusCodes.h"

namespace tarvo::test {

void RecordingSink::Block(std::unique_lock<std::mutex>& lock)
{
    if (!m_hold || m_released)
        return;
    ++m_heldCount;
    m_cv.notify_all();
    m_cv.wait(lock, [&] { return !m_hold || m_released; });
    --m_heldCount;
}

void RecordingSink::OnPortStatus(const CWinMonitorCtrl&, const StatusReport& report)
{
    {
        std::unique_lock lock(m_mutex);
        Event e;
        e.port = report.port;
        e.code = report.code;
        e.text = report.text ? report.text : "";
        e.reason = report.reason ? report.reason : "";
        m_events.push_back(e);
        m_cv.notify_all();
        Block(lock);
    }
    if (onStatus)
        onStatus(report);
}

void RecordingSink::OnPortProgress(const CWinMonitorCtrl&, const ProgressReport& report)
{
    std::unique_lock lock(m_mutex);
    Event e;
    e.progress = true;
    e.port = report.port;
    e.percent = report.percent;
    e.position = report.position;
    e.size = report.size;
    m_events.push_back(e);
    m_cv.notify_all();
    Block(lock);
}

void RecordingSink::ReleaseEngine(const CWinMonitorCtrl&)
{
    std::lock_guard lock(m_mutex);
    m_released = true;
    m_cv.notify_all();
}

void RecordingSink::OnRunEnded(const CWinMonitorCtrl&)
{
    std::lock_guard lock(m_mutex);
    ++m_runsEnded;
    m_cv.notify_all();
}

int RecordingSink::RunsEnded() const
{
    std::lock_guard lock(m_mutex);
    return m_runsEnded;
}

bool RecordingSink::WaitRunEnded(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_runsEnded > 0; });
}

void RecordingSink::Hold()
{
    std::lock_guard lock(m_mutex);
    m_hold = true;
}

void RecordingSink::Unhold()
{
    std::lock_guard lock(m_mutex);
    m_hold = false;
    m_cv.notify_all();
}

std::vector<Event> RecordingSink::Events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<Event> RecordingSink::Statuses() const
{
    std::lock_guard lock(m_mutex);
    std::vector<Event> out;
    for (const Event& e : m_events)
        if (!e.progress)
            out.push_back(e);
    return out;
}

bool RecordingSink::WaitStatus(int code, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] {
        for (const Event& e : m_events)
            if (!e.progress && (code < 0 || e.code == code))
                return true;
        return false;
    });
}

bool RecordingSink::WaitEnd(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] {
        for (const Event& e : m_events)
            if (!e.progress && e.code != status::kReadyForDownload && e.code != status::kInformation)
                return true;
        return false;
    });
}

bool RecordingSink::WaitHeld(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_heldCount > 0; });
}

bool RecordingSink::released() const
{
    std::lock_guard lock(m_mutex);
    return m_released;
}

}  // namespace tarvo::test
