// The run recorder: a report sink placed between the port engines and their receiver (the
// station view, tarvo-cli's report queue) that fills one RunRecord per run from the engines'
// reports and the run's own timings, and writes it through a RecordWriter.
//
// Use (the owner's thread is the one that creates, starts and destroys engines):
//   RunRecorder recorder(receiverSink, writer, StationInfo::ForThisProcess(stationName));
//   std::string error;
//   if (!recorder.BeginRun(*engine, setup, error))  // RUNNING durable, or the run is over
//       show(error);                                 // ERROR: do not open the port
//   engine->OpenPort(...); engine->Start(&recorder);
//   ... on status 0: engine->StartDownload(&recorder, recorder.DownloadPath(*engine))
//   recorder.EndRun(*engine, result::kNoTarget, "...");  // optional, when the owner gives up
//   engine.reset();                      // a run not ended by then is recorded ABORTED
//
// No record, no run: BeginRun(engine, setup, error) hands the RUNNING record to the writer
// and blocks until it is durable in the journal, at most kBeginWriteWait (the database's busy
// time-out of 5 s, the writer's 1 s retry pause and a margin; a healthy journal takes
// milliseconds). It returns false when the write failed (locked longer than the busy time-out,
// disk full, read-only, an I/O error) or did not end in time; `error` then names the file and
// the reason, and the run is over: it is recorded ERROR with that reason (that version replaces
// the RUNNING one in the writer, which keeps retrying it) and the completed listener is
// called. The caller must then not open the port. With recording off it returns true at once.
// Because it blocks, the window calls it off its interface thread. A burst of ports calls
// SubmitRun for each, then WaitBegun for each: the writer puts them into one transaction.
//
// Image identity: BeginRun opens the download image (RunSetup::image) and keeps it open for
// the run; image_sha256 and image_bytes are hashed from that open file when the run begins,
// main_sha256 from the main software file then too. DownloadPath(engine) names that same open
// file (/proc/self/fd/N): the engine's StartDownload opening it sends exactly the bytes the
// record describes, even when the image path is converted or replaced meanwhile.
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
// progress report to the final report, total_ms from BeginRun to the end. A run that ends in
// a phase counts that phase up to its end (a download aborted half-way: download_ms to the
// end, verify_ms null); a phase that never began is null.
//
// Unit labels: SetNextUnit(port, label) attaches a label to the next run that begins on that
// port (the window's scanned labels, tarvo-cli flash --unit); RunSetup::unit overrides it.
//
// Recording off: a null writer still classifies and reports completed records to the
// listener, and writes nothing.
//
// Threading: every operation may be called from any thread. DownloadPath names an open
// descriptor that EndRun and the engine's destruction close, so StartDownload(DownloadPath())
// belongs on the thread that ends and destroys that engine (the owner's). The sink
// calls come from the engines' workers as the engine contract describes. The completion
// listener is called on the thread that completed the record (a worker or the destroying
// thread), after the write attempt; it must not block.
#pragma once

#include <atomic>
#include <chrono>
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
};

class RunRecorder final : public IReportSink {
public:
    // `writer` may be null (recording off).
    RunRecorder(IReportSink& receiver, RecordWriter* writer, StationInfo station);
    ~RunRecorder() override;
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    // How long BeginRun and WaitBegun wait for the RUNNING record to be durable.
    static constexpr std::chrono::milliseconds kBeginWriteWait{7000};

    // Begins the run of `engine`: true when its RUNNING record is durable (or recording is
    // off); false with `error` set when it could not be written, the run then being over
    // (recorded ERROR). Blocks up to kBeginWriteWait. See the top of this file.
    bool BeginRun(const CWinMonitorCtrl& engine, const RunSetup& setup, std::string& error);
    // The first half of BeginRun: records the run and hands its RUNNING record to the writer
    // without waiting. The port must not open before WaitBegun returned true.
    void SubmitRun(const CWinMonitorCtrl& engine, const RunSetup& setup);
    // The second half: waits until the RUNNING record of `engine`'s run is durable (true) or
    // its write failed or kBeginWriteWait passed (false, `error` set, the run recorded ERROR).
    bool WaitBegun(const CWinMonitorCtrl& engine, std::string& error);
    // The path through which the engine opens the download image of its run: the file as
    // BeginRun opened and hashed it, or RunSetup::image when it could not be opened then.
    std::string DownloadPath(const CWinMonitorCtrl& engine) const;
    // SubmitRun under its earlier name: the caller must check the writer itself.
    void BeginRun(const CWinMonitorCtrl& engine, const RunSetup& setup) { SubmitRun(engine, setup); }
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
    // Ends `run` with result ERROR and `reason` because its start could not be recorded.
    void Refuse(Run& run, const std::string& reason);

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
