#include "station/StationRecord.h"

#include <algorithm>
#include <chrono>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "engine/WinMonitorCtrl.h"
#include "record/Forwarder.h"
#include "record/RecordStore.h"
#include "record/RecordWriter.h"
#include "record/RunRecorder.h"
#include "station/Profile.h"
#include "status/StationModel.h"

namespace tarvo {

CStationRecord::CStationRecord(IReportSink& receiver, QObject* parent) : QObject(parent), m_receiver(receiver)
{
    const bool enabled = profile::ReadInt("Record", QStringLiteral("Enabled"), 1) != 0;
    m_path = profile::ReadString("Record", QStringLiteral("Database")).toStdString();
    if (m_path.empty())
        m_path = record::DefaultDatabasePath();
    const std::string forward = profile::ReadString("Record", QStringLiteral("Forward")).toStdString();
    const auto station = record::StationInfo::ForThisProcess(profile::ReadString("Station", QStringLiteral("Name")).toStdString());
    // Calls from other threads are posted to the application object and look at `self` on the
    // GUI thread, so none of them touches this object after it is gone.
    QPointer<CStationRecord> self(this);
    if (enabled) {
        m_writer = std::make_unique<record::RecordWriter>(m_path, station.station, station.host);
        if (!forward.empty())
            m_forwarder = std::make_unique<record::Forwarder>(m_path, forward);
        record::RecordWriter* writer = m_writer.get();
        record::Forwarder* forwarder = m_forwarder.get();
        m_writer->SetListener([self, writer, forwarder] {
            const QString problem = QString::fromStdString(writer->Problem());
            QMetaObject::invokeMethod(QCoreApplication::instance(), [self, problem] {
                if (self)
                    emit self->problemChanged(problem);
            }, Qt::QueuedConnection);
            if (forwarder && problem.isEmpty())
                forwarder->Notify();
        });
    }
    m_recorder = std::make_unique<record::RunRecorder>(m_receiver, m_writer.get(), station);
    if (m_forwarder) {
        // After every pass, on the forwarder's thread: the listener holds nothing of this object
        // but the guarded pointer, and the forwarder (joined in the destructor) calls it no later
        // than this object lives.
        m_forwarder->SetStatusListener([self](const record::ForwardStatus& found) {
            const qint64 pending = found.pending;
            const qint64 setAside = found.setAside;
            const QString problem = QString::fromStdString(found.problem);
            QDateTime lastSuccess;
            if (found.lastSuccess)
                lastSuccess = QDateTime::fromMSecsSinceEpoch(
                    std::chrono::duration_cast<std::chrono::milliseconds>(found.lastSuccess->time_since_epoch()).count());
            QMetaObject::invokeMethod(QCoreApplication::instance(), [self, pending, setAside, problem, lastSuccess] {
                if (!self)
                    return;
                self->m_lastForward = lastSuccess;
                emit self->lineStatusChanged(pending, setAside, problem, lastSuccess);
            }, Qt::QueuedConnection);
        });
        m_lineWatch = std::thread([this, self] { WatchLine(self); });
    }
    m_recorder->SetCompletedListener([this, self](const record::RunRecord& r, bool written) {
        // The recorder is this object's: it calls no later than this object lives.
        if (status::StationModel* model = m_statusModel.load())
            model->OnRecord(r, written);
        const int port = static_cast<int>(r.port.value_or(0));
        const QString result = QString::fromStdString(r.result.value_or(""));
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, port, result] {
            if (self)
                self->OnCompleted(port, result);
        }, Qt::QueuedConnection);
    });
}

CStationRecord::~CStationRecord()
{
    if (m_lineWatch.joinable()) {
        {
            std::lock_guard lock(m_lineMutex);
            m_lineStop = true;
        }
        m_lineWake.notify_all();
        m_lineWatch.join();
    }
    // The writer's listener uses the forwarder: stop it from calling first. Then the recorder,
    // the writer (which writes what is pending) and the forwarder, whose thread is joined before
    // this object's members go (its status listener only posts through the guarded pointer).
    if (m_writer)
        m_writer->SetListener({});
    m_recorder.reset();
    m_writer.reset();
    m_forwarder.reset();
}

IReportSink& CStationRecord::Sink() { return m_recorder ? static_cast<IReportSink&>(*m_recorder) : m_receiver; }

QString CStationRecord::Problem() const
{
    return m_writer ? QString::fromStdString(m_writer->Problem()) : QString();
}

void CStationRecord::SubmitRun(const CWinMonitorCtrl& engine, int port, const std::string& device, const std::string& image,
                               std::optional<std::string> approval)
{
    record::RunSetup setup;
    setup.approval = std::move(approval);
    setup.port = port;
    setup.device = device;
    setup.image = image;
    m_recorder->SubmitRun(engine, setup);
}

std::optional<std::string> CStationRecord::RunId(const CWinMonitorCtrl& engine) const
{
    const auto current = m_recorder->Current(engine);
    return current ? current->run_id : std::nullopt;
}

bool CStationRecord::WaitBegun(const CWinMonitorCtrl& engine, std::string& error)
{
    return m_recorder->WaitBegun(engine, error);
}

std::string CStationRecord::DownloadPath(const CWinMonitorCtrl& engine) const
{
    return m_recorder->DownloadPath(engine);
}

void CStationRecord::StopRun(const CWinMonitorCtrl& engine)
{
    const auto current = m_recorder->Current(engine);
    if (!current || current->result != record::result::kRunning)
        return;
    if (!current->status)
        m_recorder->EndRun(engine, record::result::kNoTarget, "no target answered before the row was stopped");
    else
        m_recorder->EndRun(engine, record::result::kAborted, "stopped by the operator");
}

void CStationRecord::FailRun(const CWinMonitorCtrl& engine, const std::string& reason)
{
    m_recorder->EndRun(engine, record::result::kError, reason);
}

void CStationRecord::SetNextUnit(int port, const QString& label)
{
    m_recorder->SetNextUnit(port, label.toStdString());
}

void CStationRecord::SetRunUnit(const CWinMonitorCtrl& engine, const std::string& label)
{
    m_recorder->SetUnit(engine, label);
}

int CStationRecord::Passes(int port) const
{
    auto it = m_counts.find(port);
    return it == m_counts.end() ? 0 : it->second.first;
}

int CStationRecord::Fails(int port) const
{
    auto it = m_counts.find(port);
    return it == m_counts.end() ? 0 : it->second.second;
}

void CStationRecord::WatchLine(QPointer<CStationRecord> self)
{
    // The journal is read on this thread only; what it finds is posted to the GUI thread.
    std::unique_lock lock(m_lineMutex);
    while (!m_lineStop) {
        lock.unlock();
        std::string error;
        qint64 waiting = -1;
        qint64 setAside = 0;
        {
            record::RecordStore store;
            if (store.Open(m_path, error, true)) {
                waiting = store.PendingForward(error);
                // Records the server refused for their data, kept aside in the journal.
                setAside = std::max<qint64>(0, store.SetAsideCount(error));
            }
        }
        const QString problem = QString::fromStdString(m_forwarder->Problem());
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, waiting, setAside, problem] {
            if (self)
                emit self->lineStatusChanged(waiting, setAside, problem, self->m_lastForward);
        }, Qt::QueuedConnection);
        lock.lock();
        m_lineWake.wait_for(lock, std::chrono::seconds(2), [this] { return m_lineStop; });
    }
}

void CStationRecord::MakeDurable(const std::vector<const CWinMonitorCtrl*>& engines, std::chrono::milliseconds timeout)
{
    for (const CWinMonitorCtrl* engine : engines) {
        const auto current = m_recorder->Current(*engine);
        if (!current || current->result != record::result::kRunning)
            continue;
        if (!current->status)
            m_recorder->EndRun(*engine, record::result::kNoTarget, "no target answered before the station was ended");
        else
            m_recorder->EndRun(*engine, record::result::kAborted, "the station was ended (EXIT) during the run");
    }
    if (m_writer)
        m_writer->Flush(timeout);
}

void CStationRecord::OnCompleted(int port, const QString& result)
{
    ++m_totalRuns;
    if (result == QLatin1String(record::result::kError))
        ++m_totalError;
    if (result == QLatin1String(record::result::kPass)) {
        ++m_counts[port].first;
        ++m_totalPass;
    } else if (result == QLatin1String(record::result::kFail)) {
        ++m_counts[port].second;
        ++m_totalFail;
    }
    emit runRecorded(port, result);
}

}  // namespace tarvo
