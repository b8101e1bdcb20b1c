#include "station/ImageApproval.h"

#include <algorithm>
#include <utility>

#include "station/ApprovalWatch.h"
#include "station/Profile.h"

namespace tarvo {

CImageApproval::CImageApproval(std::chrono::milliseconds period, std::function<void(int row)> start)
    : m_start(std::move(start)), m_watch(std::make_unique<CApprovalWatch>(period))
{
    connect(m_watch.get(), &CApprovalWatch::verdictChanged, this, &CImageApproval::OnVerdict);
}

CImageApproval::~CImageApproval() = default;

bool CImageApproval::Required() { return profile::ReadInt("Record", QStringLiteral("RequireApproved"), 0) != 0; }

void CImageApproval::Check(const std::string& image, const std::string& journal)
{
    if (!Required() || image.empty() || !m_watch)
        return;
    m_watch->Check(image, profile::ReadString("Record", QStringLiteral("Forward")).toStdString(), journal);
}

bool CImageApproval::ReadyFor(int row)
{
    if (m_watch->Ready())
        return true;
    if (std::find(m_waiting.begin(), m_waiting.end(), row) == m_waiting.end())
        m_waiting.push_back(row);
    return false;
}

bool CImageApproval::Allowed(std::string& approval, std::string& refusal) const
{
    return m_watch->Allowed(approval, refusal);
}

bool CImageApproval::RefusedNow(std::string& refusal) const
{
    std::string approval;
    return Required() && m_watch->Ready() && !m_watch->Allowed(approval, refusal);
}

void CImageApproval::Stop()
{
    m_waiting.clear();
    m_watch.reset();  // its first check ends within the gate's bound
}

void CImageApproval::OnVerdict()
{
    const record::ApprovalVerdict verdict = m_watch->Current();
    emit approvedChanged(verdict.allowed);
    if (!verdict.allowed) {
        emit statusProblem(QString::fromStdString(verdict.refusal));
        m_refused = true;
    } else {
        // Approved (again): the refusal shown before no longer holds.
        if (m_refused)
            emit statusProblem(QString());
        m_refused = false;
        if (!verdict.notice.empty())
            emit statusMessage(QString::fromStdString(verdict.notice));
    }
    // The rows clicked while the check ran are armed now, or shown why not.
    std::vector<int> waiting;
    waiting.swap(m_waiting);
    for (const int row : waiting)
        m_start(row);
}

}  // namespace tarvo
