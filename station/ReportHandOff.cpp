#include "station/ReportHandOff.h"

#include <QMetaObject>
#include <utility>

#include "engine/WinMonitorCtrl.h"

namespace tarvo {

CReportHandOff::CReportHandOff(station::ReportGate& gate, const std::atomic<bool>& closing, Handlers handlers)
    : m_gate(gate), m_closing(closing), m_handlers(std::move(handlers))
{
}

void CReportHandOff::OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report)
{
    Status value{report.port, report.code, report.text ? std::string(report.text) : std::string(),
                 report.reason ? std::string(report.reason) : std::string()};
    const station::ReportGate::PassPtr pass = m_gate.Enter(&engine);
    if (!pass)
        return;  // the engine is being destroyed
    QMetaObject::invokeMethod(this, [this, pass, value = std::move(value)] {
        m_handlers.status(pass->ticket, value);
        m_gate.Finish(pass);
    }, Qt::QueuedConnection);
    m_gate.Wait(pass);
}

void CReportHandOff::OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report)
{
    const station::ReportGate::PassPtr pass = m_gate.Enter(&engine);
    if (!pass)
        return;
    QMetaObject::invokeMethod(this, [this, pass, value = report] {
        m_handlers.progress(pass->ticket, value);
        m_gate.Finish(pass);
    }, Qt::QueuedConnection);
    m_gate.Wait(pass);
}

void CReportHandOff::ReleaseEngine(const CWinMonitorCtrl& engine) { m_gate.Release(&engine); }

void CReportHandOff::OnRunEnded(const CWinMonitorCtrl& engine)
{
    // A stopped run was ended by the window itself; any other run that ends here without a
    // final status still has to end its row. Never waits: the ticket tells on the GUI thread
    // whether the engine is still its row's.
    if (engine.StopRequested() || m_closing.load())
        return;
    const station::ReportGate::Ticket ticket = m_gate.TicketOf(&engine);
    if (ticket == station::ReportGate::kNoTicket)
        return;
    const int port = engine.PortNumber();
    QMetaObject::invokeMethod(this, [this, ticket, port] { m_handlers.endedAlone(ticket, port); }, Qt::QueuedConnection);
}

}  // namespace tarvo
