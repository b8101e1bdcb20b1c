// The run recorder: a report sink placed between the port engines and their receiver (the
// station view, tarvo-cli's report queue) that fills one RunRecord per run from the engines'
// reports and the run's own timings, and writes it through a RecordWriter.
//
// Use (the owner's thread is the one that creates, starts and destroys engines):
//   RunRecorder recorder(receiverSink, writer, StationInfo::ForThisProcess(stationName));
//   recorder.BeginRun(*engine, setup);   // before engine->Start(&recorder): inserts RUNNING
//   engine->Start(&recorder);            // and StartDownload(&recorder, image) on status 0
//   ...
//   recorder.EndRun(*engine, result::kNoTarget, "...");  // optional, when the owner gives up
//   engine.reset();                      // a run not ended by then is recorded ABORTED
// Reports pass on to the receiver unchanged. The final report of a run (PASS, FAIL, an error
// code) is passed on only after the completed record is durable or its write failed, so the
// receiver shows the final word after the record holds it; that wait happens on the engine's
// worker, never on the owner's thread.
//
// Result: status 20 PASS, 21 FAIL, every other error ERROR; a run that ended on a text without
// an error code (a refused identify) ERROR; a run stopped by its owner (the engine's stop was
// requested, or it was destroyed before its end) ABORTED; EndRun names any other result.
//
// Timings (milliseconds of the engine's clock): wait_ms from BeginRun to the first report of
// the target, monitor_ms from there to status 0, erase_ms from status 0 to the first progress
// report, download_ms from the first to the last progress report, verify_ms from the last
// progress report to the final report, total_ms from BeginRun to the end.
//
// Unit labels: SetNextUnit(port, label) attaches a label to the next run that begins on that
// port (the window's scanned labels, tarvo-cli flash --unit); RunSetup::unit overrides it.
//
// Recording off: a null writer still classifies and reports completed records to the
// listener, and writes nothing.
//
// Threading: BeginRun, EndRun and SetNextUnit on any thread (normally the owner's); the sink
// calls come from the engines' workers as the engine contract describes. The completion
// listener is called on the thread that completed the record (a worker or the destroying
// thread), after the write attempt; it must not block.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/ReportSink.h"
#include "record/RunRecord.h"
#include "record/Sha256.h"

namespace tarvo::record {

class RecordWriter;

// Who runs the station: the fields every record of this process shares.
struct StationInfo {
    std::string station;   // profile "Station"/"Name", default the host name
    std::string host;
    std::string user;      // operator
    std::string version;
    // The host, user and version of this process; `stationName` empty: the host name.
    static StationInfo ForThisProcess(const std::string& stationName);
};

struct RunSetup {
    int port = 0;
    std::string device;         // the device path as configured
    std::string image;          // the download image (.cp64)
    std::string mainSoftware;   // the .m0 it came from, when known
    std::optional<std::string> unit;
    // The device's USB bus-port path; none: the recorder reads it from sysfs at BeginRun.
    std::optional<std::string> location;
    std::optional<std::string> approval;  // ApprovalGate's "approved by ..."; none when not required
};

class RunRecorder final : public IReportSink {
public:
    // `writer` may be null (recording off).
    RunRecorder(IReportSink& receiver, RecordWriter* writer, StationInfo station);
    ~RunRecorder() override;
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    void BeginRun(const CWinMonitorCtrl& engine, const RunSetup& setup);
    // Ends the run of `engine` now with `result` unless it has ended already.
    void EndRun(const CWinMonitorCtrl& engine, const char* result, const std::string& reason);
    void SetNextUnit(int port, std::string unit);
    // Gives the run of `engine` (begun, not ended) the unit label `unit`.
    void SetUnit(const CWinMonitorCtrl& engine, std::string unit);

    // Called with each completed record and whether it is durable (false: recording is off or
    // the write failed; RecordWriter::Problem tells why).
    void SetCompletedListener(std::function<void(const RunRecord&, bool written)> listener);

    // The record of the run of `engine` so far (tests, the view's tooltip).
    std::optional<RunRecord> Current(const CWinMonitorCtrl& engine) const;

    void OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report) override;
    void OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report) override;
    void ReleaseEngine(const CWinMonitorCtrl& engine) override;
    void OnRunEnded(const CWinMonitorCtrl& engine) override;

private:
    struct Run;
    std::shared_ptr<Run> Find(const CWinMonitorCtrl& engine) const;
    // Fills the end of the record; returns false when the run had ended already.
    bool Complete(Run& run, const char* result, uint32_t tick);
    void Finish(Run& run, bool wait);

    IReportSink& m_receiver;
    RecordWriter* m_writer;
    StationInfo m_station;
    FileDigests m_digests;

    mutable std::mutex m_mutex;
    std::map<const CWinMonitorCtrl*, std::shared_ptr<Run>> m_runs;
    std::map<int, std::string> m_nextUnits;
    std::function<void(const RunRecord&, bool)> m_listener;
};

// The result word of a run that ended with status `code`; `stopped` when its stop was
// requested. Null for codes that do not end a run.
const char* ResultOfStatus(int code, bool stopped);

}  // namespace tarvo::record
