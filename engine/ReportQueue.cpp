#include "engine/ReportQueue.h"

#include <algorithm>

namespace tarvo {

ReportQueue::~ReportQueue()
{
    for (Item* item : m_queue)
        if (!item->wait)
            delete item;
}

void ReportQueue::PushAndWait(Item& item)
{
    std::unique_lock lock(m_mutex);
    m_queue.push_back(&item);
    lock.unlock();
    m_arrived.notify_one();
    lock.lock();
    if (item.wait)
        HandledSlot(item).wait(lock, [&] { return item.done; });
}

void ReportQueue::OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report)
{
    Item item;
    item.report.kind = QueuedReport::Kind::Status;
    item.report.engine = const_cast<CWinMonitorCtrl*>(&engine);
    item.report.port = report.port;
    item.report.code = report.code;
    item.report.text = report.text ? report.text : "";
    item.report.reason = report.reason ? report.reason : "";
    PushAndWait(item);
}

void ReportQueue::OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report)
{
    Item item;
    item.report.kind = QueuedReport::Kind::Progress;
    item.report.engine = const_cast<CWinMonitorCtrl*>(&engine);
    item.report.port = report.port;
    item.report.percent = report.percent;
    item.report.position = report.position;
    item.report.size = report.size;
    PushAndWait(item);
}

void ReportQueue::OnRunEnded(const CWinMonitorCtrl& engine)
{
    // The run's last word: it is not waited for, so it is copied into the queue's own storage.
    auto* item = new Item;  // freed by Pop
    item->report.kind = QueuedReport::Kind::RunEnded;
    item->report.engine = const_cast<CWinMonitorCtrl*>(&engine);
    item->wait = false;
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(item);
    }
    m_arrived.notify_one();
}

void ReportQueue::ReleaseEngine(const CWinMonitorCtrl& engine)
{
    {
        std::lock_guard lock(m_mutex);
        ReleaseLocked(engine);
    }
    for (std::condition_variable& slot : m_handled)
        slot.notify_all();
}

void ReportQueue::ReleaseLocked(const CWinMonitorCtrl& engine)
{
    std::deque<Item*> kept;
    for (Item* item : m_queue) {
        if (item->report.engine != &engine) {
            kept.push_back(item);
        } else if (item->wait) {
            item->done = true;  // its worker returns; the item lives on that worker's stack
        } else {
            delete item;
        }
    }
    m_queue.swap(kept);
    if (m_current && m_current->report.engine == &engine) {
        m_current->done = true;
        m_current = nullptr;
    }
}

void ReportQueue::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_arrived.notify_all();
}

bool ReportQueue::Pop(QueuedReport& out, std::chrono::nanoseconds timeout)
{
    Done();  // a Pop without Done finishes the previous report
    std::unique_lock lock(m_mutex);
    if (!m_arrived.wait_for(lock, timeout, [&] { return !m_queue.empty() || m_woken; }) || m_queue.empty()) {
        m_woken = false;
        return false;
    }
    Item* item = m_queue.front();
    m_queue.pop_front();
    out.kind = item->report.kind;
    out.engine = item->report.engine;
    out.port = item->report.port;
    out.code = item->report.code;
    out.text.assign(item->report.text);
    out.reason.assign(item->report.reason);
    out.percent = item->report.percent;
    out.position = item->report.position;
    out.size = item->report.size;
    if (item->wait)
        m_current = item;
    else
        delete item;
    return true;
}

void ReportQueue::Done()
{
    std::condition_variable* slot = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (!m_current)
            return;
        slot = &HandledSlot(*m_current);
        m_current->done = true;  // from here on the item may be gone with its worker's stack
        m_current = nullptr;
    }
    slot->notify_all();
}

}  // namespace tarvo
