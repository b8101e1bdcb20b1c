#include "record/RecordWriter.h"

#include "record/Identity.h"
#include "record/RecordStore.h"

namespace tarvo::record {

namespace {
constexpr auto kRetryEvery = std::chrono::seconds(1);
}

RecordWriter::RecordWriter(std::string path, std::string /*station*/, std::string host)
    : m_path(std::move(path)), m_host(std::move(host)), m_tag(ProcessTag())
{
    m_thread = std::thread([this] { Run(); });
}

RecordWriter::~RecordWriter()
{
    Flush(std::chrono::seconds(2));
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

uint64_t RecordWriter::Submit(const RunRecord& record)
{
    uint64_t ticket;
    {
        std::lock_guard lock(m_mutex);
        ticket = m_nextTicket++;
        Queued& pending = m_pending[record.run_id.value_or(std::string())];
        pending.ticket = ticket;
        pending.record = record;
    }
    m_wake.notify_one();
    return ticket;
}

bool RecordWriter::WaitWritten(uint64_t ticket, std::chrono::milliseconds timeout, const std::atomic<bool>* cancel)
{
    std::unique_lock lock(m_mutex);
    m_written.wait_for(lock, timeout, [&] {
        return m_writtenUpTo >= ticket || m_failedUpTo >= ticket || m_stop || (cancel && cancel->load());
    });
    return m_writtenUpTo >= ticket;
}

void RecordWriter::WakeWaiters()
{
    { std::lock_guard lock(m_mutex); }
    m_written.notify_all();
}

bool RecordWriter::Flush(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_written.wait_for(lock, timeout, [&] { return m_pending.empty() && m_started; });
}

void RecordWriter::WaitStarted()
{
    std::unique_lock lock(m_mutex);
    m_written.wait(lock, [&] { return m_started; });
}

std::string RecordWriter::Problem() const
{
    std::lock_guard lock(m_mutex);
    return m_problem;
}

std::size_t RecordWriter::Pending() const
{
    std::lock_guard lock(m_mutex);
    return m_pending.size();
}

int RecordWriter::Interrupted() const
{
    std::lock_guard lock(m_mutex);
    return m_interrupted;
}

void RecordWriter::SetListener(std::function<void()> listener)
{
    std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
}

void RecordWriter::SetProblem(std::string problem)
{
    std::function<void()> listener;
    {
        std::lock_guard lock(m_mutex);
        if (m_problem == problem)
            return;
        m_problem = std::move(problem);
        listener = m_listener;
    }
    if (listener)
        listener();
}

bool RecordWriter::EnsureOpen(RecordStore& store, std::string& error)
{
    if (store.IsOpen())
        return true;
    if (!store.Open(m_path, error))
        return false;
    const int marked = store.MarkInterrupted(m_host, error);
    if (marked < 0) {
        store.Close();
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_interrupted += marked;
    return true;
}

void RecordWriter::Run()
{
    RecordStore store;
    std::string error;
    if (EnsureOpen(store, error))
        SetProblem({});
    else
        SetProblem(error);
    {
        std::lock_guard lock(m_mutex);
        m_started = true;
    }
    m_written.notify_all();

    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_problem.empty())
            m_wake.wait(lock, [&] { return m_stop || !m_pending.empty(); });
        else
            m_wake.wait_for(lock, kRetryEvery, [&] { return m_stop; });
        if (m_pending.empty()) {
            if (m_stop)
                break;
            if (!m_problem.empty()) {
                // Nothing to write: see whether the database works again all the same.
                lock.unlock();
                store.Close();
                error.clear();
                const bool ok = EnsureOpen(store, error);
                SetProblem(ok ? std::string() : error);
                lock.lock();
            }
            continue;
        }
        if (m_stop && !m_problem.empty())
            break;  // the destructor's flush gave up
        std::vector<RunRecord> batch;
        uint64_t maxTicket = 0;
        for (auto& [id, pending] : m_pending) {
            batch.push_back(pending.record);
            maxTicket = std::max(maxTicket, pending.ticket);
        }
        lock.unlock();
        error.clear();
        if (!m_problem.empty())
            store.Close();  // a failed file may have been repaired or replaced: open it afresh
        bool ok = EnsureOpen(store, error) && store.UpsertAll(batch, m_tag, error);
        std::function<void()> listener;
        lock.lock();
        if (ok) {
            for (auto it = m_pending.begin(); it != m_pending.end();) {
                if (it->second.ticket <= maxTicket)
                    it = m_pending.erase(it);
                else
                    ++it;
            }
            m_writtenUpTo = std::max(m_writtenUpTo, maxTicket);
        } else {
            m_failedUpTo = std::max(m_failedUpTo, maxTicket);
        }
        const bool changed = m_problem != (ok ? std::string() : error);
        m_problem = ok ? std::string() : error;
        listener = m_listener;
        lock.unlock();
        m_written.notify_all();
        if (listener && (ok || changed))
            listener();
        lock.lock();
    }
    lock.unlock();
    m_written.notify_all();
}

}  // namespace tarvo::record
