#include "record/Forwarder.h"

#include <algorithm>
#include <vector>

#include "record/LineDatabase.h"
#include "record/RecordStore.h"

namespace tarvo::record {

namespace {
constexpr int kBatch = 200;
constexpr int kConnectTimeoutMs = 5000;
constexpr auto kFirstBackOff = std::chrono::seconds(1);
constexpr auto kLongestBackOff = std::chrono::seconds(30);
constexpr auto kIdleRound = std::chrono::seconds(30);
// ForwardPending: retries at least every 5 s, the last one starting 500 ms before the limit.
constexpr auto kLongestPendingBackOff = std::chrono::seconds(5);
constexpr auto kLastAttempt = std::chrono::milliseconds(500);
}  // namespace

bool ReadSetAside(RecordStore& store, SetAsideSummary& out, std::string& error)
{
    constexpr std::size_t kReasons = 5;
    out = {};
    out.count = store.SetAsideCount(error);
    if (out.count < 0) {
        out.count = 0;
        return false;
    }
    if (out.count == 0)
        return true;
    std::vector<SetAsideRecord> records;
    if (!store.ListSetAside(0, records, error))
        return false;
    for (const SetAsideRecord& r : records) {
        if (out.reasons.size() >= kReasons)
            break;
        if (std::find(out.reasons.begin(), out.reasons.end(), r.reason) == out.reasons.end())
            out.reasons.push_back(r.reason);
    }
    return true;
}

namespace {

// Sends `batch` one record at a time after the server refused it as a whole for its data:
// those it takes are marked forwarded, those it refuses are set aside with its message.
// False when another failure (the connection) stops it.
bool SendOneByOne(RecordStore& store, LineDatabase& line, const std::vector<PendingRecord>& batch, int64_t& sent,
                  std::string& error)
{
    for (const PendingRecord& pending : batch) {
        std::string refusal;
        if (line.Insert({pending.record}, refusal)) {
            if (!store.MarkForwarded({pending.Version()}, error))
                return false;
            ++sent;
        } else if (line.RefusedData()) {
            if (!store.SetAside(pending.Version(), refusal, error))
                return false;
        } else {
            error = refusal;
            return false;
        }
    }
    return true;
}

}  // namespace

bool ForwardOnce(RecordStore& store, LineDatabase& line, int64_t& sent, std::string& error, SetAsideSummary* setAside)
{
    const auto pass = [&] {
        std::vector<PendingRecord> batch;
        std::vector<RunRecord> records;
        std::vector<RecordVersion> versions;
        for (;;) {
            if (!store.Unforwarded(kBatch, batch, error))
                return false;
            if (batch.empty())
                return true;
            records.clear();
            versions.clear();
            for (const PendingRecord& pending : batch) {
                records.push_back(pending.record);
                versions.push_back(pending.Version());
            }
            if (!line.Insert(records, error)) {
                // One record the server refuses must not hold back the others: find it.
                if (!line.RefusedData() || !SendOneByOne(store, line, batch, sent, error))
                    return false;
                continue;
            }
            // Should this fail, the records are sent again later: the server's insert is
            // idempotent. A record written again meanwhile stays to be sent in its new version.
            if (!store.MarkForwarded(versions, error))
                return false;
            sent += static_cast<int64_t>(batch.size());
        }
    };
    const bool ok = pass();
    if (setAside) {
        std::string ignored;
        ReadSetAside(store, *setAside, ignored);
    }
    return ok;
}

ForwardOutcome ForwardPending(const std::string& localPath, const std::string& url, std::chrono::milliseconds limit)
{
    ForwardOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    RecordStore store;
    if (!store.Open(localPath, outcome.error)) {
        outcome.left = -1;
        return outcome;
    }
    LineDatabase line;
    // No wait for the server, connecting or in a statement, goes past the limit.
    line.SetDeadline(deadline);
    auto backOff = std::chrono::milliseconds(kFirstBackOff);
    for (;;) {
        std::string error;
        outcome.left = store.PendingForward(error);
        if (outcome.left == 0) {
            outcome.error.clear();
            return outcome;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            if (outcome.error.empty())
                outcome.error = "no time left to forward";
            return outcome;
        }
        const int connectMs = static_cast<int>(std::min<long long>(left.count(), kConnectTimeoutMs));
        if ((line.IsOpen() || line.Connect(url, connectMs, error)) &&
            ForwardOnce(store, line, outcome.sent, error, &outcome.setAside)) {
            continue;
        }
        outcome.error = error;
        line.Close();
        // Keep trying until the limit: the last attempt starts early enough to have a chance.
        const auto now = std::chrono::steady_clock::now();
        const auto lastTry = deadline - kLastAttempt;
        if (now >= lastTry) {
            outcome.left = store.PendingForward(error);
            return outcome;
        }
        std::this_thread::sleep_until(std::min(now + backOff, lastTry));
        backOff = std::min(backOff * 2, std::chrono::milliseconds(kLongestPendingBackOff));
    }
}

Forwarder::Forwarder(std::string localPath, std::string url) : m_localPath(std::move(localPath)), m_url(std::move(url))
{
    m_thread = std::thread([this] { Run(); });
}

Forwarder::~Forwarder()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        if (m_line)
            m_line->Cancel();
    }
    m_wake.notify_all();
    m_thread.join();
}

void Forwarder::SetStatusListener(std::function<void(const ForwardStatus&)> listener)
{
    {
        std::lock_guard lock(m_mutex);
        m_listener = std::move(listener);
        m_notified = true;
    }
    m_wake.notify_all();
}

void Forwarder::Notify()
{
    {
        std::lock_guard lock(m_mutex);
        m_notified = true;
    }
    m_wake.notify_all();
}

std::string Forwarder::Problem() const
{
    std::lock_guard lock(m_mutex);
    return m_problem;
}

int64_t Forwarder::Forwarded() const
{
    std::lock_guard lock(m_mutex);
    return m_forwarded;
}

SetAsideSummary Forwarder::SetAside() const
{
    std::lock_guard lock(m_mutex);
    return m_setAside;
}

void Forwarder::Run()
{
    RecordStore store;
    LineDatabase line;
    {
        std::lock_guard lock(m_mutex);
        m_line = &line;
    }
    auto backOff = std::chrono::milliseconds(kFirstBackOff);
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        m_notified = false;
        lock.unlock();
        std::string error;
        int64_t sent = 0;
        SetAsideSummary setAside;
        bool ok = (store.IsOpen() || store.Open(m_localPath, error)) &&
                  (line.IsOpen() || line.Connect(m_url, kConnectTimeoutMs, error)) &&
                  ForwardOnce(store, line, sent, error, &setAside);
        if (!ok && store.IsOpen() && !line.IsOpen()) {
            // The server is away: the journal still tells what was set aside before.
            std::string ignored;
            ReadSetAside(store, setAside, ignored);
        }
        ForwardStatus status;
        if (store.IsOpen()) {
            std::string ignored;
            status.pending = store.PendingForward(ignored);
        }
        if (!ok) {
            line.Close();
            store.Close();
        }
        lock.lock();
        m_forwarded += sent;
        m_setAside = std::move(setAside);
        m_problem = ok ? std::string() : error;
        if (ok)
            m_lastSuccess = std::chrono::system_clock::now();
        if (m_listener) {
            status.setAside = m_setAside.count;
            status.problem = m_problem;
            status.lastSuccess = m_lastSuccess;
            // Called without the lock, so that the listener may ask the forwarder anything.
            const auto listener = m_listener;
            lock.unlock();
            listener(status);
            lock.lock();
        }
        if (ok) {
            backOff = kFirstBackOff;
            m_wake.wait_for(lock, kIdleRound, [&] { return m_stop || m_notified; });
        } else {
            m_wake.wait_for(lock, backOff, [&] { return m_stop; });
            backOff = std::min(backOff * 2, std::chrono::milliseconds(kLongestBackOff));
        }
    }
    m_line = nullptr;
}

}  // namespace tarvo::record
