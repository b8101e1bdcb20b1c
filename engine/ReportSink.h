// Reports of a port engine to its receiver (the station view, the command-line tool).
//
// Contract:
// - OnPortStatus / OnPortProgress are called on the engine's worker threads (the ready worker,
//   later the download thread), one report at a time per engine, in the order the worker
//   made them. The records and the text are valid only during the call: a receiver that
//   handles the report later must copy it. A receiver that copies sees exactly the values the
//   worker had at report time.
// - A call may block until the receiver has handled the report (the station does this, so a
//   download advances no faster than the view shows it).
// - ReleaseEngine(engine) is called by the engine's destructor, on the destroying thread,
//   before it waits for the engine's workers: every call from that engine that is blocked at
//   that moment must return promptly without waiting for the receiver, and a report it carried
//   must not be acted on any more (a status 0 from a dying engine starts no download). The
//   destructor repeats ReleaseEngine until no call of the engine is in flight, and the engine
//   makes no call after that; so a sink needs no memory of released engines. This is what lets
//   an engine be destroyed while one of its workers is blocked delivering a report.
// - OnRunEnded is the last call of a run: the ready worker makes it when it ends without status
//   0, the download thread when it ends. No report of the run follows it. It must not block.
//   A run stopped by RequestStop ends with OnRunEnded alone (no failure report); the receiver
//   tells it apart with CWinMonitorCtrl::StopRequested().
#pragma once

namespace tarvo {

class CWinMonitorCtrl;

struct StatusReport {
    int port = 0;                // the engine's COM port number
    int code = 0;                // status code, see engine/StatusCodes.h
    const char* text = nullptr;  // the engine's message text
    // The known cause of a failure, beside the specified text: "device hung up", "input/output
    // error", "device stopped taking output", ... Null or empty when none is known. Valid only
    // during the call, like `text`.
    const char* reason = nullptr;
};

struct ProgressReport {
    int port = 0;
    int percent = 0;   // position * 100 / size
    int position = 0;  // bytes of the download image consumed
    int size = 0;      // bytes of the download image
};

class IReportSink {
public:
    virtual ~IReportSink() = default;
    virtual void OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report) = 0;
    virtual void OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report) = 0;
    virtual void ReleaseEngine(const CWinMonitorCtrl& engine) = 0;
    virtual void OnRunEnded(const CWinMonitorCtrl& engine) { (void)engine; }
};

}  // namespace tarvo
