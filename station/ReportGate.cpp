#include "station/ReportGate.h"

#include <algorithm>

namespace tarvo::station {

ReportGate::Ticket ReportGate::Register(const void* engine)
{
    std::lock_guard lock(m_mutex);
    Entry& entry = m_entries[engine];
    for (const PassPtr& pass : entry.pending)
        pass->released = true;
    entry = Entry{m_nextTicket++, false, {}};
    m_cv.notify_all();
    return entry.ticket;
}

void ReportGate::Release(const void* engine)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(engine);
    if (it == m_entries.end())
        return;
    it->second.released = true;
    for (const PassPtr& pass : it->second.pending)
        pass->released = true;
    m_cv.notify_all();
}

void ReportGate::Forget(const void* engine)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(engine);
    if (it == m_entries.end())
        return;
    for (const PassPtr& pass : it->second.pending)
        pass->released = true;
    m_entries.erase(it);
    m_cv.notify_all();
}

ReportGate::PassPtr ReportGate::Enter(const void* engine)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(engine);
    if (it == m_entries.end() || it->second.released)
        return nullptr;
    auto pass = std::make_shared<Pass>();
    pass->ticket = it->second.ticket;
    it->second.pending.push_back(pass);
    return pass;
}

ReportGate::Ticket ReportGate::TicketOf(const void* engine) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(engine);
    return it == m_entries.end() || it->second.released ? kNoTicket : it->second.ticket;
}

void ReportGate::Wait(const PassPtr& pass)
{
    if (!pass)
        return;
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [&] { return pass->finished || pass->released; });
    for (auto& [engine, entry] : m_entries) {
        if (entry.ticket == pass->ticket) {
            auto& pending = entry.pending;
            pending.erase(std::remove(pending.begin(), pending.end(), pass), pending.end());
            break;
        }
    }
}

void ReportGate::Finish(const PassPtr& pass)
{
    if (!pass)
        return;
    std::lock_guard lock(m_mutex);
    pass->finished = true;
    m_cv.notify_all();
}

bool ReportGate::IsLive(Ticket ticket) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& [engine, entry] : m_entries) {
        if (entry.ticket == ticket)
            return !entry.released;
    }
    return false;
}

std::size_t ReportGate::Waiting() const
{
    std::lock_guard lock(m_mutex);
    std::size_t n = 0;
    for (const auto& [engine, entry] : m_entries)
        n += entry.pending.size();
    return n;
}

}  // namespace tarvo::station
