// CStationRecord: the production record as the station window keeps it. It owns the record's
// writer thread, the run recorder that stands between the port engines and the view, and the
// forwarder to a line's database, all set up from the profile:
//   "Record"/"Enabled"  0 switches recording off (default 1)
//   "Record"/"Database" the local SQLite file (default $XDG_DATA_HOME/tarvo/records.sqlite)
//   "Record"/"Forward"  a PostgreSQL connection URI (default: no forwarding)
//   "Station"/"Name"    the station's name in the record (default: the host name)
//
// The view starts its engines with Sink(); before a run it calls SubmitRun and, off the GUI
// thread, WaitBegun (no port opens before the run's RUNNING record is durable); it calls
// StopRun before it destroys a row's engine. Writing never happens on the GUI thread: the writer thread writes,
// and an engine's worker waits for the write of its run's final record. What the GUI shows
// (the per-port PASS/FAIL counts since start-up, the station's totals, a recording problem)
// reaches it as queued signals.
//
// With forwarding on, lineStatusChanged reports the line database's state: after every pass of
// the forwarder (its status listener: what waits, what is set aside, the problem, the time of
// its last pass that succeeded), and every 2 s from a watcher thread that counts the finished
// records still waiting in the journal (it only reads the journal), so that records written
// while the server is away show at once even when the forwarder waits out its back-off.
//
// Threading: construct, use and destroy on the GUI thread; the signals are emitted on it.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/ReportSink.h"

namespace tarvo::record {
class Forwarder;
class RecordWriter;
class RunRecorder;
struct RunRecord;
}  // namespace tarvo::record

namespace tarvo::status {
class StationModel;
}

namespace tarvo {

class CWinMonitorCtrl;

class CStationRecord : public QObject {
    Q_OBJECT
public:
    // Reads the profile; `receiver` is the view.
    CStationRecord(IReportSink& receiver, QObject* parent = nullptr);
    ~CStationRecord() override;

    bool Enabled() const { return m_writer != nullptr; }
    std::string DatabasePath() const { return m_path; }
    // The sink the engines report to: the recorder, or the view itself when recording is off.
    IReportSink& Sink();
    // Empty while runs may start; else why not (the record cannot be written), naming the
    // database file and the reason.
    QString Problem() const;

    // Before a row's engine starts: hands the run's RUNNING record to the writer (never waits).
    // `approval`: who approved the image ("approved by ..."), none when approval is not required.
    void SubmitRun(const CWinMonitorCtrl& engine, int port, const std::string& device, const std::string& image,
                   std::optional<std::string> approval = std::nullopt);
    // Waits (at most record::RunRecorder::kBeginWriteWait) until that record is durable: true,
    // or false with `error` naming the journal and the reason, the run then recorded ERROR.
    // Any thread; the recorder outlives every call (the view joins its waits first).
    bool WaitBegun(const CWinMonitorCtrl& engine, std::string& error);
    // The path the engine downloads from: the image file as the run opened and hashed it.
    std::string DownloadPath(const CWinMonitorCtrl& engine) const;
    // Before the view destroys the engine of a run that may still go on: NO TARGET when no
    // target answered yet, else ABORTED. Nothing happens for a run that has ended.
    void StopRun(const CWinMonitorCtrl& engine);
    // Ends the run with an error the engine does not report (the port did not open).
    void FailRun(const CWinMonitorCtrl& engine, const std::string& reason);
    // A unit label (e.g. a scanned serial number) for the next run on `port`.
    void SetNextUnit(int port, const QString& label);
    // A unit label for the run of `engine` (begun, not ended).
    void SetRunUnit(const CWinMonitorCtrl& engine, const std::string& label);

    int Passes(int port) const;
    int Fails(int port) const;
    int TotalPasses() const { return m_totalPass; }
    int TotalFails() const { return m_totalFail; }
    int TotalRuns() const { return m_totalRuns; }
    // Runs that ended ERROR since start-up.
    int TotalErrors() const { return m_totalError; }

    // Ends every run in progress of `engines` (ABORTED, or NO TARGET while no target answered)
    // and waits at most `timeout` until every record is durable in the journal.
    void MakeDurable(const std::vector<const CWinMonitorCtrl*>& engines, std::chrono::milliseconds timeout);

    // True when the profile names a line database.
    bool Forwarding() const { return m_forwarder != nullptr; }

    // The run id of the run of `engine` (begun, not ended); none otherwise.
    std::optional<std::string> RunId(const CWinMonitorCtrl& engine) const;
    // The station model that also receives every completed record (null: none), from the
    // thread that completes it. Set it before any run begins; it must outlive this object's
    // runs (the view destroys its engines first).
    void SetStatusModel(status::StationModel* model) { m_statusModel = model; }

signals:
    // A run of `port` ended with `result` ("PASS", "FAIL", ...); the counts are updated.
    void runRecorded(int port, const QString& result);
    // Recording started or stopped working; `problem` is empty when it works.
    void problemChanged(const QString& problem);
    // Forwarding on: `waiting` finished records are not yet in the line database (-1: the
    // journal could not be read), `setAside` of them the server refused for their data,
    // `problem` is why forwarding fails (empty while it works) and `lastSuccess` when the
    // forwarder last completed a pass (invalid: not yet).
    void lineStatusChanged(qint64 waiting, qint64 setAside, const QString& problem, const QDateTime& lastSuccess);

private:
    void OnCompleted(int port, const QString& result);
    void WatchLine(QPointer<CStationRecord> self);

    IReportSink& m_receiver;
    std::atomic<status::StationModel*> m_statusModel{nullptr};
    std::string m_path;
    std::unique_ptr<record::RecordWriter> m_writer;
    std::unique_ptr<record::RunRecorder> m_recorder;
    std::unique_ptr<record::Forwarder> m_forwarder;
    QDateTime m_lastForward;  // GUI thread: the forwarder's last pass that succeeded
    std::map<int, std::pair<int, int>> m_counts;  // port -> PASS, FAIL since start-up
    int m_totalPass = 0;
    int m_totalFail = 0;
    int m_totalRuns = 0;
    int m_totalError = 0;
    // The line database watcher (forwarding on).
    std::mutex m_lineMutex;
    std::condition_variable m_lineWake;
    bool m_lineStop = false;
    std::thread m_lineWatch;
};

}  // namespace tarvo
