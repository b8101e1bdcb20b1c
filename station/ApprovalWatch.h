// CApprovalWatch: the window's side of only approved images ("Record"/"RequireApproved"=1).
// It holds one record::ApprovalGate for the image in use: Check hashes the image and runs the
// gate's first check on a thread of its own (the check may wait for the line database), and the
// gate then re-checks every 60 s on its own thread. The view asks Allowed before it arms a row;
// that never waits. verdictChanged tells the view of the first verdict for an image and of every
// later change (a revocation, an approval, the server coming back).
//
// Threading: construct, call and destroy on the GUI thread; verdictChanged is emitted on it.
// The destructor (and a Check for another image) waits for a first check in progress, which the
// gate bounds (record::ApprovalSource::timeoutMs).
#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "record/Approvals.h"

namespace tarvo {

class CApprovalWatch : public QObject {
    Q_OBJECT
public:
    // `period`: how often the gate checks again after its first check.
    explicit CApprovalWatch(std::chrono::milliseconds period = std::chrono::seconds(60), QObject* parent = nullptr);
    ~CApprovalWatch() override;

    // Begins checking `image` against the line database `dbUrl` (the journal `journal` keeps
    // the last list fetched; empty: none). Nothing happens when that image is checked already
    // with the same settings. Never waits (except for an earlier image's first check).
    void Check(const std::string& image, const std::string& dbUrl, const std::string& journal);
    // True once the first verdict for the image of the last Check is known.
    bool Ready() const { return m_gate != nullptr || m_failed; }
    // The latest verdict (Ready() true); no waiting.
    record::ApprovalVerdict Current() const;
    // True when a run may begin now: `approval` is the record's field; else `refusal` says why.
    bool Allowed(std::string& approval, std::string& refusal) const;

signals:
    void verdictChanged();

private:
    void Join();

    std::chrono::milliseconds m_period;
    std::string m_image, m_dbUrl, m_journal;
    unsigned m_generation = 0;
    std::thread m_first;                            // the image's hash and first check
    std::shared_ptr<record::ApprovalGate> m_gate;  // after the first check
    bool m_failed = false;                          // the image could not be hashed
    record::ApprovalVerdict m_failure;
};

}  // namespace tarvo
