#include "station/RowRecording.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <utility>

#include "station/StationRecord.h"

namespace tarvo {

CRowRecording::CRowRecording(CStationRecord& record, Begun begun) : m_record(record), m_begun(std::move(begun)) {}

CRowRecording::~CRowRecording() { Stop(); }

void CRowRecording::Stop()
{
    m_stopping = true;
    for (Wait& wait : m_waits)
        wait.thread.join();
    m_waits.clear();
}

void CRowRecording::Begin(int row, station::ReportGate::Ticket ticket, const CWinMonitorCtrl& engine)
{
    for (auto it = m_waits.begin(); it != m_waits.end();) {
        if (it->state->done.load()) {
            it->thread.join();
            it = m_waits.erase(it);
        } else {
            ++it;
        }
    }
    auto state = std::make_shared<State>();
    Wait wait;
    wait.state = state;
    const CWinMonitorCtrl* target = &engine;
    wait.thread = std::thread([this, state, target, row, ticket] {
        std::string error;
        const bool ok = m_record.WaitBegun(*target, error);
        {
            std::lock_guard lock(state->mutex);
            state->ok = ok;
            state->error = std::move(error);
            state->done = true;
        }
        state->answered.notify_all();
        if (!m_stopping.load())
            QMetaObject::invokeMethod(this, [this, state, row, ticket] { Answer(row, ticket, *state); },
                                      Qt::QueuedConnection);
    });
    m_waits.push_back(std::move(wait));
    // Rows started together share one short wait of the GUI thread.
    if (!m_window.isValid() || m_window.elapsed() > kBeginWindow.count()) {
        m_window.start();
        m_spentMs = 0;
    }
    const qint64 allowed = std::max<qint64>(0, kBeginWait.count() - m_spentMs);
    QElapsedTimer waited;
    waited.start();
    {
        std::unique_lock lock(state->mutex);
        state->answered.wait_for(lock, std::chrono::milliseconds(allowed), [&] { return state->done.load(); });
    }
    m_spentMs += waited.elapsed();
    if (state->done.load())
        Answer(row, ticket, *state);
}

void CRowRecording::Answer(int row, station::ReportGate::Ticket ticket, State& state)
{
    // Answered in the GUI thread's wait or through the queue, whichever comes first.
    if (state.handled.exchange(true))
        return;
    m_begun(row, ticket, state.ok, state.error);
}

QString CRowRecording::TotalsText() const
{
    return QCoreApplication::translate("tarvo::CTarvoView", "Runs %1  PASS %2  FAIL %3  ERROR %4")
        .arg(m_record.TotalRuns())
        .arg(m_record.TotalPasses())
        .arg(m_record.TotalFails())
        .arg(m_record.TotalErrors());
}

QString CRowRecording::CountsTip(int port) const
{
    return QCoreApplication::translate("tarvo::CTarvoView", "COM%1: %2 PASS, %3 FAIL since start-up")
        .arg(port)
        .arg(m_record.Passes(port))
        .arg(m_record.Fails(port));
}

}  // namespace tarvo
