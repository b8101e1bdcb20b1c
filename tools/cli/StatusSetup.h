// tarvo-cli's status server: --listen [ADDR:]PORT on flash (continuous mode included) and demo
// serves the station's state over HTTP while the job runs (status/StatusServer.h), and the
// station model it serves is fed by the job's own reports (StatusTee).
//
// Threading: RunJob and the tee live on the job's thread; the tee's record listener runs on
// the thread that completes a record and only updates the model.
#pragma once

#include <string>

#include "tools/cli/Flash.h"

namespace tarvo {
class CWinMonitorCtrl;
namespace cmdline {
class OptionTable;
}
struct QueuedReport;
namespace record {
class RunRecorder;
}
namespace status {
class StationModel;
}
}  // namespace tarvo

namespace tarvo::cli {

// Declares --listen [ADDR:]PORT in a command's option table; the value is checked there.
void AddListenOption(cmdline::OptionTable& table, std::string& listen);

// Runs the job (continuous or not); with job.listen set, under a status server that is started
// before any port opens (a failure to listen ends the job before it begins) and that gives its
// clients the job's last events, waiting at most 1 s, before it returns.
int RunJob(FlashJob job);

// What a flash job tells its station model: the reports it prints, the ends of its runs and
// the records its recorder completes. Every call does nothing when the job has no model.
class StatusTee {
public:
    StatusTee(status::StationModel* model, record::RunRecorder& recorder, const RecordSettings& record);
    // A run begins on `port` with `engine` (its record begun).
    void Begun(int port, const CWinMonitorCtrl& engine) const;
    void OpenFailed(int port, const std::string& reason) const;
    // Continuous mode: the port waits for its device (absent) or for the handset to go.
    void Waiting(int port, bool deviceAbsent) const;
    // A status or progress report, as printed.
    void Report(const QueuedReport& report) const;
    // The run's end line, as printed.
    void Ended(int port, const char* word) const;
    // The record's problem (empty: it can be written again), as printed.
    void RecordProblem(const std::string& problem) const;
    // Follows the session's forwarder: what waits for the line database, what it refused, why.
    void FollowForwarding(RecordSession& session) const;

private:
    status::StationModel* m_model;
    record::RunRecorder& m_recorder;
};

}  // namespace tarvo::cli
