#include "station/ApprovalWatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "record/Sha256.h"

namespace tarvo {

CApprovalWatch::CApprovalWatch(std::chrono::milliseconds period, QObject* parent) : QObject(parent), m_period(period) {}

CApprovalWatch::~CApprovalWatch()
{
    ++m_generation;
    Join();
}

void CApprovalWatch::Join()
{
    if (m_first.joinable())
        m_first.join();
}

void CApprovalWatch::Check(const std::string& image, const std::string& dbUrl, const std::string& journal)
{
    if (image == m_image && dbUrl == m_dbUrl && journal == m_journal && (m_first.joinable() || Ready()))
        return;
    // Another image (or other settings): the old gate's verdicts no longer count.
    const unsigned generation = ++m_generation;
    Join();
    m_gate.reset();
    m_failed = false;
    m_image = image;
    m_dbUrl = dbUrl;
    m_journal = journal;
    QPointer<CApprovalWatch> self(this);
    m_first = std::thread([self, generation, image, dbUrl, journal, period = m_period] {
        record::ApprovalSource source;
        source.image = image;
        source.dbUrl = dbUrl;
        source.journal = journal;
        std::string error;
        std::shared_ptr<record::ApprovalGate> gate;
        record::ApprovalVerdict verdict;
        if (!record::Sha256File(image, source.sha256, error)) {
            verdict.refusal = error;
        } else {
            gate = std::make_shared<record::ApprovalGate>(source, period);
            verdict = gate->Start();
            // Later changes (the re-checks run on the gate's thread) reach the GUI thread.
            gate->SetListener([self, generation](const record::ApprovalVerdict&) {
                QMetaObject::invokeMethod(QCoreApplication::instance(), [self, generation] {
                    if (self && self->m_generation == generation)
                        emit self->verdictChanged();
                }, Qt::QueuedConnection);
            });
        }
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, generation, gate, verdict] {
            if (!self || self->m_generation != generation)
                return;
            self->Join();
            if (gate) {
                self->m_gate = gate;
            } else {
                self->m_failed = true;
                self->m_failure = verdict;
            }
            emit self->verdictChanged();
        }, Qt::QueuedConnection);
    });
}

record::ApprovalVerdict CApprovalWatch::Current() const
{
    if (m_gate)
        return m_gate->Current();
    return m_failure;
}

bool CApprovalWatch::Allowed(std::string& approval, std::string& refusal) const
{
    if (m_gate)
        return m_gate->Allowed(approval, refusal);
    refusal = m_failed ? m_failure.refusal : std::string();
    return false;
}

}  // namespace tarvo
