// CImageApproval: only approved images in the window ("Record"/"RequireApproved"=1). It holds
// the approval watch of the image in use (station/ApprovalWatch.h) and the rows that wait for
// its first verdict:
//   - a row clicked before the first verdict is known waits (at most once in the list) and is
//     started again through `start` when the verdict comes, armed or shown why not;
//   - a refusal (never approved, revoked, no list ever fetched) stays in statusProblem until
//     the image is approved again, which clears it; a notice of the verdict (the age of the
//     list kept while the server is away) goes to statusMessage;
//   - approvedChanged tells the station's status of each verdict.
//
// Threading: construct, call and destroy on the GUI thread; the signals and `start` come on it.
// Stop() (and the destructor) waits for a first check in progress, which the watch bounds.
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvo {

class CApprovalWatch;

class CImageApproval : public QObject {
    Q_OBJECT
public:
    // `period`: how often the approval is checked again; `start` starts a row again.
    CImageApproval(std::chrono::milliseconds period, std::function<void(int row)> start);
    ~CImageApproval() override;

    // True when the profile asks for approved images only.
    static bool Required();
    // When required: begins the check of `image` (none: nothing), the journal `journal` keeping
    // the list last fetched (empty: none). Never waits.
    void Check(const std::string& image, const std::string& journal);
    // Before `row` is armed: true once the first verdict is known; false puts the row on the
    // list of rows started again with the verdict.
    bool ReadyFor(int row);
    // The latest verdict: true when a run may begin (`approval` is the record's field), else
    // false with `refusal` saying why. Only once ready.
    bool Allowed(std::string& approval, std::string& refusal) const;
    // True when a first verdict is known and refuses the image now (revoked meanwhile).
    bool RefusedNow(std::string& refusal) const;
    // Rows waiting for the first verdict.
    std::size_t Waiting() const { return m_waiting.size(); }
    // Forgets the waiting rows and ends the watch (the window closes; nothing is called after).
    void Stop();

signals:
    void approvedChanged(bool approved);
    void statusProblem(const QString& text);
    void statusMessage(const QString& text);

private:
    void OnVerdict();

    std::function<void(int)> m_start;
    std::unique_ptr<CApprovalWatch> m_watch;
    std::vector<int> m_waiting;
    bool m_refused = false;  // the status bar shows the refusal
};

}  // namespace tarvo
