#include "station/Reaper.h"

namespace tarvo::station {

Reaper::Reaper(IdleCallback idle) : m_idle(std::move(idle)) {}

Reaper::~Reaper() { WaitAll(); }

void Reaper::Retire(int row, std::shared_ptr<void> parts)
{
    JoinFinished();
    std::lock_guard lock(m_mutex);
    Job& job = m_jobs.emplace_back();
    job.row = row;
    job.thread = std::thread([this, &job, parts = std::move(parts)]() mutable {
        parts.reset();  // the engine's destructor joins its workers here
        bool idle = false;
        {
            std::lock_guard guard(m_mutex);
            job.done = true;
            idle = CountOf(job.row) == 0;
            m_cv.notify_all();
        }
        if (idle && m_idle)
            m_idle(job.row);
    });
}

int Reaper::CountOf(int row) const
{
    int count = 0;
    for (const Job& job : m_jobs) {
        if (job.row == row && !job.done)
            ++count;
    }
    return count;
}

bool Reaper::WaitFor(int row, std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, limit, [&] { return CountOf(row) == 0; });
}

bool Reaper::Busy(int row) const
{
    std::lock_guard lock(m_mutex);
    return CountOf(row) != 0;
}

void Reaper::JoinFinished()
{
    std::list<Job> finished;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_jobs.begin(); it != m_jobs.end();) {
            auto next = std::next(it);
            if (it->done)
                finished.splice(finished.end(), m_jobs, it);
            it = next;
        }
    }
    // A done job's thread has at most its callback left to run.
    for (Job& job : finished)
        job.thread.join();
}

void Reaper::WaitAll()
{
    std::list<Job> all;
    {
        std::lock_guard lock(m_mutex);
        all.splice(all.end(), m_jobs);
    }
    for (Job& job : all)
        job.thread.join();
}

}  // namespace tarvo::station
