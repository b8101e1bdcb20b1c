// Only approved images: whether the station may flash an image, from the line database's list
// of approved images (table image_approvals, keyed by the image's SHA-256) or, while the server
// is away, from the list last fetched and kept in the station's journal.
//
// The decision, in order:
//   - the server answers: its list is kept in the journal (with the time) and decides;
//   - the server's schema is behind (no approval table): refused, naming records migrate;
//   - the server is away: the journal's list decides, and the verdict's notice tells its age;
//   - the server is away and no list was ever fetched: refused, saying so.
// An image whose digest is not in the list is refused as "FILE: image not approved (sha256
// 0123456789ab…)"; a revoked one names who revoked it, when and the note.
//
// ApprovalGate is what a station holds while its runs go on: Start checks once (blocking,
// bounded), then a thread of its own checks again every 60 s, and Allowed() says, without
// waiting, whether a run may begin now. A window calls the same: Start before it arms a row,
// Allowed before each run, SetListener to show a change (a red warning when refused).
//
// Threading: ApprovalGate's calls may come from any thread; the listener is called on the
// gate's own thread (or Start's caller) and must not block. CheckApproval and DecideApproval
// are reentrant.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/ImageApproval.h"

namespace tarvo::record {

class LineDatabase;

struct ApprovalVerdict {
    bool allowed = false;
    std::string refusal;   // why not (allowed false): "FILE: image not approved (sha256 …)"
    std::string approval;  // "approved by NAME at TIME" (allowed true), the record's field
    std::string notice;    // the list's age when it came from the journal; else empty
};

// What the check needs: the image, its digest, and where the lists live.
struct ApprovalSource {
    std::string image;    // the image's path, for messages
    std::string sha256;   // its digest (lower-case hex)
    std::string dbUrl;    // the line database; empty: none configured
    std::string journal;  // the station's SQLite journal; empty: no cache
    int timeoutMs = 5000;  // longest wait for the server
};

// The verdict for `sha256` from `list` (no network).
ApprovalVerdict DecideApproval(const std::vector<ImageApproval>& list, const std::string& image, const std::string& sha256);

// Fetches the list (bounded by source.timeoutMs), keeps it in the journal, and decides; falls
// back to the journal's list as described above. `now` is used for the list's age.
ApprovalVerdict CheckApproval(const ApprovalSource& source,
                              std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
// The same through `db` (so that another thread may Cancel it).
ApprovalVerdict CheckApproval(LineDatabase& db, const ApprovalSource& source, std::chrono::system_clock::time_point now);

class ApprovalGate {
public:
    explicit ApprovalGate(ApprovalSource source, std::chrono::milliseconds period = std::chrono::seconds(60));
    ~ApprovalGate();  // stops the re-checks (a check in progress is cut short)
    ApprovalGate(const ApprovalGate&) = delete;
    ApprovalGate& operator=(const ApprovalGate&) = delete;

    // Checks now, on the caller's thread, then every `period` on the gate's thread.
    ApprovalVerdict Start();
    // The latest verdict (no waiting).
    ApprovalVerdict Current() const;
    // True when a run may begin now; `approval` is then the record's field, else `refusal` why.
    bool Allowed(std::string& approval, std::string& refusal) const;
    // Called with each verdict that differs from the one before.
    void SetListener(std::function<void(const ApprovalVerdict&)> listener);

private:
    void Loop();
    void Publish(const ApprovalVerdict& verdict);

    ApprovalSource m_source;
    std::chrono::milliseconds m_period;
    std::unique_ptr<LineDatabase> m_db;  // used by Start, then by the gate's thread only
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    ApprovalVerdict m_verdict;
    std::function<void(const ApprovalVerdict&)> m_listener;
    std::thread m_thread;
};

// "0123456789ab…": the first 12 hex digits of a digest and an ellipsis.
std::string ShortDigest(const std::string& sha256);

}  // namespace tarvo::record
