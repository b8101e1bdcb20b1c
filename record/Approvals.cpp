#include "record/Approvals.h"

#include <ctime>
#include <cstdio>

#include "record/Identity.h"
#include "record/LineDatabase.h"
#include "record/RecordStore.h"

namespace tarvo::record {

namespace {

// Seconds since the epoch of an ISO UTC text ("2026-12-07T10:14:03.512Z"); -1 when unreadable.
long long EpochOf(const std::string& iso)
{
    std::tm tm{};
    if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) != 6)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<long long>(::timegm(&tm));
}

std::string Age(long long seconds)
{
    if (seconds < 0)
        seconds = 0;
    if (seconds < 120)
        return std::to_string(seconds) + " s";
    if (seconds < 2 * 3600)
        return std::to_string(seconds / 60) + " min";
    if (seconds < 2 * 86400)
        return std::to_string(seconds / 3600) + " h";
    return std::to_string(seconds / 86400) + " days";
}

ApprovalVerdict Refused(const std::string& text)
{
    ApprovalVerdict v;
    v.refusal = text;
    return v;
}

}  // namespace

std::string ShortDigest(const std::string& sha256)
{
    return sha256.substr(0, 12) + "\xE2\x80\xA6";  // U+2026 HORIZONTAL ELLIPSIS
}

ApprovalVerdict DecideApproval(const std::vector<ImageApproval>& list, const std::string& image, const std::string& sha256)
{
    for (const ImageApproval& a : list) {
        if (a.sha256 != sha256)
            continue;
        if (a.Revoked())
            return Refused(image + ": image approval revoked by " + a.revokedBy + " at " + a.revokedAt +
                           (a.revokeNote.empty() ? std::string() : ": " + a.revokeNote) + " (sha256 " + ShortDigest(sha256) +
                           ")");
        ApprovalVerdict v;
        v.allowed = true;
        v.approval = "approved by " + a.approvedBy + " at " + a.approvedAt;
        return v;
    }
    return Refused(image + ": image not approved (sha256 " + ShortDigest(sha256) + ")");
}

ApprovalVerdict CheckApproval(const ApprovalSource& source, std::chrono::system_clock::time_point now)
{
    LineDatabase db;
    return CheckApproval(db, source, now);
}

ApprovalVerdict CheckApproval(LineDatabase& db, const ApprovalSource& source, std::chrono::system_clock::time_point now)
{
    const std::string cannot = source.image + ": cannot check the image's approval: ";
    if (source.dbUrl.empty())
        return Refused(cannot + "no line database is set (\"Record\"/\"Forward\" in the profile, or --forward URL)");
    std::string error;
    std::vector<ImageApproval> list;
    db.SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(source.timeoutMs) +
                   std::chrono::milliseconds(500));
    const bool fetched = db.Connect(source.dbUrl, source.timeoutMs, error) && db.Approvals(list, error);
    db.Close();
    if (fetched) {
        if (!source.journal.empty()) {
            // Kept for the next time the server is away; a journal that cannot take it does
            // not stop this check.
            RecordStore store;
            std::string ignored;
            if (store.Open(source.journal, ignored))
                store.SaveApprovals(list, IsoUtc(now), ignored);
        }
        return DecideApproval(list, source.image, source.sha256);
    }
    if (db.SchemaBehind())
        return Refused(cannot + error);
    // The server is away: the list last fetched decides.
    std::string fetchedAt;
    std::string storeError;
    RecordStore store;
    if (source.journal.empty() || !store.Open(source.journal, storeError, true) ||
        !store.LoadApprovals(list, fetchedAt, storeError) || fetchedAt.empty())
        return Refused(cannot + error + "; and no approval list was ever fetched" +
                       (storeError.empty() ? std::string() : " (" + storeError + ")"));
    ApprovalVerdict v = DecideApproval(list, source.image, source.sha256);
    const long long age = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count() - EpochOf(fetchedAt);
    v.notice = "line database away (" + error + "); using the approval list fetched at " + fetchedAt + " (" + Age(age) +
               " ago)";
    return v;
}

ApprovalGate::ApprovalGate(ApprovalSource source, std::chrono::milliseconds period)
    : m_source(std::move(source)), m_period(period), m_db(std::make_unique<LineDatabase>())
{
}

ApprovalGate::~ApprovalGate()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_db->Cancel();
    if (m_thread.joinable())
        m_thread.join();
}

ApprovalVerdict ApprovalGate::Start()
{
    const ApprovalVerdict verdict = CheckApproval(*m_db, m_source, std::chrono::system_clock::now());
    Publish(verdict);
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Loop(); });
    return verdict;
}

void ApprovalGate::Loop()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (m_wake.wait_for(lock, m_period, [this] { return m_stop; }))
            break;
        lock.unlock();
        const ApprovalVerdict verdict = CheckApproval(*m_db, m_source, std::chrono::system_clock::now());
        Publish(verdict);
        lock.lock();
    }
}

void ApprovalGate::Publish(const ApprovalVerdict& verdict)
{
    std::function<void(const ApprovalVerdict&)> listener;
    {
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return;  // a check cut short by the destructor says nothing
        const bool changed = verdict.allowed != m_verdict.allowed || verdict.refusal != m_verdict.refusal ||
                             verdict.approval != m_verdict.approval || verdict.notice != m_verdict.notice;
        m_verdict = verdict;
        if (changed)
            listener = m_listener;
    }
    if (listener)
        listener(verdict);
}

ApprovalVerdict ApprovalGate::Current() const
{
    std::lock_guard lock(m_mutex);
    return m_verdict;
}

bool ApprovalGate::Allowed(std::string& approval, std::string& refusal) const
{
    std::lock_guard lock(m_mutex);
    approval = m_verdict.approval;
    refusal = m_verdict.refusal;
    return m_verdict.allowed;
}

void ApprovalGate::SetListener(std::function<void(const ApprovalVerdict&)> listener)
{
    std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
}

}  // namespace tarvo::record
