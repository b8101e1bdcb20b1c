// CReportHandOff: the engines' reports handed from their worker threads to the GUI thread,
// through the report gate (station/ReportGate.h).
//
// A status or progress report is copied (text included), its handler is queued to the GUI
// thread, and the worker waits until it ran: a download advances no faster than the window
// shows it. A report of an engine that the gate has released is dropped, and a worker waiting
// in one goes on at once. The end of a run without a final status (a refused identify, a device
// lost before the first answer) is only queued, never waited for; a run stopped on purpose
// (RequestStop) or one ending while the window closes is not handed on. Each handler gets the
// engine's ticket, so the window can tell whether the engine is still its row's.
//
// Threading: the IReportSink calls come on engine worker threads; the handlers run on the GUI
// thread (this object's). Queued handlers die with this object.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <string>

#include "engine/ReportSink.h"
#include "station/ReportGate.h"

namespace tarvo {

class CReportHandOff : public QObject, public IReportSink {
    Q_OBJECT
public:
    // A status report as copied off the worker.
    struct Status {
        int port;
        int code;
        std::string text;
        std::string reason;
    };
    using Ticket = station::ReportGate::Ticket;
    struct Handlers {
        std::function<void(Ticket ticket, const Status& report)> status;
        std::function<void(Ticket ticket, const ProgressReport& report)> progress;
        std::function<void(Ticket ticket, int port)> endedAlone;
    };

    // `gate` and `closing` (true once the window closes) outlive this object.
    CReportHandOff(station::ReportGate& gate, const std::atomic<bool>& closing, Handlers handlers);

    void OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report) override;
    void OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report) override;
    void ReleaseEngine(const CWinMonitorCtrl& engine) override;
    void OnRunEnded(const CWinMonitorCtrl& engine) override;

private:
    station::ReportGate& m_gate;
    const std::atomic<bool>& m_closing;
    Handlers m_handlers;
};

}  // namespace tarvo
