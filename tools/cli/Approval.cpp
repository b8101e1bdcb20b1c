#include "tools/cli/Approval.h"

#include <cstdio>

#include "record/Sha256.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Flash.h"

namespace tarvo::cli {

int StartApprovalGate(const FlashJob& job, std::unique_ptr<record::ApprovalGate>& gate)
{
    gate.reset();
    if (!job.record.requireApproved)
        return kExitOk;
    record::ApprovalSource source;
    source.image = job.image;
    std::string error;
    if (!record::Sha256File(job.image, source.sha256, error))
        return Failure(error);
    source.dbUrl = job.record.forward;
    if (job.record.enabled)
        source.journal = job.record.database;
    gate = std::make_unique<record::ApprovalGate>(source);
    const record::ApprovalVerdict verdict = gate->Start();
    if (!verdict.notice.empty())
        std::fprintf(stderr, "note: %s\n", verdict.notice.c_str());
    if (!verdict.allowed) {
        gate.reset();
        return Failure(verdict.refusal);
    }
    return kExitOk;
}

bool PrepareRun(const record::ApprovalGate* gate, record::RunSetup& setup, std::string& refusal)
{
    if (!gate)
        return true;
    std::string approval;
    if (!gate->Allowed(approval, refusal))
        return false;
    setup.approval = approval;
    return true;
}

}  // namespace tarvo::cli
