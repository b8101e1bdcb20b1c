// tarvo-cli's side of only approved images: the gate of a flash job (record/Approvals.h) and
// the approval each run's record carries.
//
// Threading: called on the job's thread; the gate re-checks on its own thread.
#pragma once

#include <memory>
#include <string>

#include "record/Approvals.h"
#include "record/RunRecorder.h"

namespace tarvo::cli {

struct FlashJob;

// When the job requires an approved image, checks it before any port opens and starts the
// gate's periodic re-check; prints a note when the list came from the journal. Returns
// kExitOk, or kExitFailure after printing "error: FILE: image not approved (…)" and the like.
// `gate` stays null when approval is not required.
int StartApprovalGate(const FlashJob& job, std::unique_ptr<record::ApprovalGate>& gate);

// Fills the run's approval from `gate` (null: not required, the approval stays null). False,
// with `refusal`, when the gate refuses a new run now (the approval was revoked, or can no
// longer be checked).
bool PrepareRun(const record::ApprovalGate* gate, record::RunSetup& setup, std::string& refusal);

}  // namespace tarvo::cli
