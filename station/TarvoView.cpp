#include "station/TarvoView.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QTimer>
#include <QTimerEvent>

#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <optional>

#include "controls/DialogUnits.h"
#include "controls/Label.h"
#include "controls/RoundButton.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "resources/Forms.h"
#include "resources/Strings.h"
#include "station/ComPortSet.h"
#include "station/ContinuousMode.h"
#include "station/DoctorReport.h"
#include "station/DownloadImage.h"
#include "station/ImageApproval.h"
#include "station/Profile.h"
#include "station/RowFields.h"
#include "station/RowRecording.h"
#include "station/ReportHandOff.h"
#include "station/ScannerInput.h"
#include "station/StartPause.h"
#include "station/StationForm.h"
#include "station/StationRecord.h"
#include "station/StationStatus.h"
#include "station/Sound.h"

namespace tarvo {
namespace {

QString FromLocal(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string ToLocal(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The row's own error code for a run ended because the image went away (never an engine code).
constexpr int kNoImageCode = -1;
// The row's own error code for a run that ended without a final status (a refused identify, a
// device lost before the first answer).
constexpr int kNoResultCode = -2;
constexpr char kStation[] = "Station";

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;


}  // namespace

// What the reaper destroys for a row: the engine first, then the port directory it points to.
struct RetiredEngine {
    std::unique_ptr<MapPortDirectory> ports;
    std::unique_ptr<CWinMonitorCtrl> engine;
};

CTarvoView::CTarvoView(QWidget* parent, ViewOptions options)
    : QWidget(parent),
      m_options(std::move(options)),
      m_locks(this, m_options.lockClock, {m_options.runPinPrompt, m_options.runPinSet}),
      m_units(this, {[this](int r) { return !m_rows[r - 1].runEnded; },
                     [this](int r, const std::string& label) {
                         if (m_rows[r - 1].engine)
                             m_record->SetRunUnit(*m_rows[r - 1].engine, label);
                     }}),
      m_reaper([this](int row) {
          // On the reaper's thread: only post to the GUI thread, and not while the view closes.
          if (!m_closing.load())
              QMetaObject::invokeMethod(this, [this, row] { OnRowIdle(row); }, Qt::QueuedConnection);
      })
{
    setFont(FormFont(forms::kStationFontPoints));
    m_handOff = std::make_unique<CReportHandOff>(
        m_gate, m_closing,
        CReportHandOff::Handlers{
            [this](station::ReportGate::Ticket ticket, const CReportHandOff::Status& report) { ShowStatus(ticket, report); },
            [this](station::ReportGate::Ticket ticket, const ProgressReport& report) { ShowProgress(ticket, report); },
            [this](station::ReportGate::Ticket ticket, int port) { ShowRunEndedAlone(ticket, port); }});
    connect(&m_locks, &CSettingsLocks::statusMessage, this, &CTarvoView::statusMessage, Qt::DirectConnection);
    connect(&m_units, &CUnitLabelRows::statusMessage, this, &CTarvoView::statusMessage, Qt::DirectConnection);
    m_starts = std::make_unique<CStartPause>(m_options.startPause, [this](int r) { OpenAndStart(r); });
    m_continuous = std::make_unique<CContinuousMode>(ContinuousRows());
    connect(m_continuous.get(), &CContinuousMode::statusMessage, this, &CTarvoView::statusMessage,
            Qt::DirectConnection);
    m_status = std::make_unique<CStationStatus>();
    m_record = std::make_unique<CStationRecord>(*this, this);
    m_recording = std::make_unique<CRowRecording>(
        *m_record, [this](int r, station::ReportGate::Ticket ticket, bool ok, const std::string& error) {
            RunBegun(r, ticket, ok, error);
        });
    connect(m_record.get(), &CStationRecord::problemChanged, this,
            [this](const QString& problem) { m_status->SetRecord(m_record->Enabled(), problem.toStdString()); });
    connect(m_record.get(), &CStationRecord::lineStatusChanged, this,
            [this](qint64 waiting, qint64 setAside, const QString& problem, const QDateTime& lastSuccess) {
                m_status->SetForward(true, waiting, setAside, problem.toStdString(), lastSuccess);
            });
    connect(m_record.get(), &CStationRecord::runRecorded, this, [this](int port, const QString&) { OnRunRecorded(port); });
    connect(m_record.get(), &CStationRecord::problemChanged, this, &CTarvoView::recordProblemChanged);
    // Continuous runs wait while the record cannot be written and go on once it can.
    connect(m_record.get(), &CStationRecord::problemChanged, this, [this](const QString& problem) {
        if (!problem.isEmpty() || !m_continuous->On())
            return;
        for (int r = 1; r <= station::kRows; ++r)
            if (m_rows[r - 1].beginFailed)
                m_continuous->Retry(r);
        m_continuous->DevicesChanged();
    });
    m_approval = std::make_unique<CImageApproval>(m_options.approvalPeriod, [this](int r) { StartPort(r); });
    connect(m_approval.get(), &CImageApproval::approvedChanged, this, [this](bool approved) { m_status->SetApproved(approved); });
    connect(m_approval.get(), &CImageApproval::statusProblem, this, &CTarvoView::statusProblem, Qt::DirectConnection);
    connect(m_approval.get(), &CImageApproval::statusMessage, this, &CTarvoView::statusMessage, Qt::DirectConnection);
    BuildForm();
    // Eight engines from the start, none opened.
    for (int row = 1; row <= station::kRows; ++row)
        ReplaceEngine(row);
    m_sound = std::make_unique<CStationSound>(m_options.sound);
    // Keys typed anywhere in this window (outside text fields) make up unit labels.
    m_scanner = std::make_unique<CScannerInput>(this, [this](const QString& typed) { return TakeUnitLabel(typed); });
    connect(m_scanner.get(), &CScannerInput::statusMessage, this, &CTarvoView::statusMessage, Qt::DirectConnection);
    Retranslate();
}

CTarvoView::~CTarvoView()
{
    m_scanner.reset();
    m_continuous->Stop();  // no device change starts a row from here on
    // Release and stop every engine before waiting for any: all of them wind down at once,
    // each on the reaper's thread, and the devices are free when this returns. Queued reports
    // die with this object.
    m_closing = true;
    m_starts->Clear();
    m_approval->Stop();
    // A wait for a run's first record holds a reference to its engine: over before any goes.
    m_recording->Stop();
    for (int r = 1; r <= station::kRows; ++r)
        RetireEngine(r);
    m_reaper.WaitAll();
}

void CTarvoView::BuildForm()
{
    StationFormWidgets form = BuildStationForm(this);
    m_clock = form.clock;
    m_pathLine = form.pathLine;
    m_buttons = form.buttons;
    m_formTexts = std::move(form.texts);
    connect(m_buttons[0], &QPushButton::clicked, this, [this] {
        // Ends at once: no question, no closing sequence, ports left to the system; only the
        // record is made durable first (runs in progress end ABORTED).
        MakeRecordsDurable();
        if (m_options.exitProcess)
            m_options.exitProcess();
        else
            std::_Exit(0);
    }, Qt::DirectConnection);
    connect(m_buttons[1], &QPushButton::clicked, this, &CTarvoView::OnComPortSetting, Qt::DirectConnection);
    connect(m_buttons[3], &QPushButton::clicked, this, &CTarvoView::OnFileOpen, Qt::DirectConnection);

    const DialogUnits du(font());
    for (int r = 1; r <= station::kRows; ++r) {
        Row& row = m_rows[r - 1];
        row.Build(this, r, du);
        // Clicking the port number or the message field selects the row for the next unit
        // label; clicking the state field starts the row.
        row.portField->installEventFilter(this);
        connect(row.message, &CLabel::clicked, this, [this, r] { m_units.Toggle(r); }, Qt::DirectConnection);
        connect(row.state, &CLabel::clicked, this, [this, r] { StartPort(r); }, Qt::DirectConnection);
        m_units.SetFields(r, row.portField, row.progress);
    }
}

CRoundButton* CTarvoView::Button(int id) const
{
    switch (id) {
    case forms::kIdExit: return m_buttons[0];
    case forms::kIdComPortSetting: return m_buttons[1];
    case forms::kIdOpenCloseAll: return m_buttons[2];
    case forms::kIdFileOpen: return m_buttons[3];
    default: return nullptr;
    }
}

// --- start-up ------------------------------------------------------------------------------

void CTarvoView::OnInitialUpdate()
{
    emit fitFrameRequested();
    Apply(station::InitialAppearance());

    // A profile that cannot be read would silently start the station without its rows and
    // image: say so before anything else.
    const QString unreadable = profile::ReadProblem();
    if (!unreadable.isEmpty()) {
        emit statusProblem(unreadable);
        Warn(unreadable);
    }

    m_imagePath = ToLocal(profile::ReadString(profile::kMainSwSection, QString::fromUtf8(profile::kMainSwKey)));
    m_pathLine->SetText(FromLocal(m_imagePath));
    StartStatusServer();
    // A stored path serves every later start; the file dialog opens only when none is stored
    // (after the engineer PIN, when one is set).
    if (m_imagePath.empty()) {
        if (UnlockEngineer(strings::kGuardFileOpen))
        SelectMainSoftware();
    } else {
        m_pathLine->setToolTip(FromLocal(m_imagePath));
        const ImageCheck image = CheckImage();
        if (!image.detail.isEmpty())
            emit statusProblem(image.detail);
        else
            CheckImageApproval();
    }
    ApplyPortSettings();
}

void CTarvoView::StartStatusServer()
{
    const std::string listen = profile::ReadString("Status", QStringLiteral("Listen")).trimmed().toStdString();
    std::string error;
    if (!m_status->Start(listen, profile::ReadString(kStation, QStringLiteral("Name")).toStdString(),
                         profile::ReadString(kStation, QStringLiteral("Language")).toStdString(), error)) {
        emit statusProblem(tr("The status server is off: %1").arg(QString::fromStdString(error)));
        return;
    }
    if (!m_status->Serving())
        return;
    m_record->SetStatusModel(m_status->Model());
    m_status->SetImage(m_imagePath);
    m_status->SetRecord(m_record->Enabled(), m_record->Problem().toStdString());
    m_status->SetForward(m_record->Forwarding(), 0, 0, {});
}

int CTarvoView::StatusPort() const
{
    return m_status->Port();
}

void CTarvoView::Warn(const QString& text)
{
    if (m_options.warn)
        m_options.warn(this, text);
    else
        QMessageBox::warning(this, QString::fromUtf8(strings::kAppTitle), text);
}

// --- engines -------------------------------------------------------------------------------

void CTarvoView::RetireEngine(int r)
{
    Row& row = m_rows[r - 1];
    if (!row.engine)
        return;
    // Its reports are dropped from now on and a worker waiting in one goes on at once; the
    // gate forgets it before it dies, so no later engine at the same address is mistaken for it.
    const void* key = row.engine.get();
    m_record->StopRun(*row.engine);
    m_gate.Release(key);
    m_gate.Forget(key);
    row.ticket = station::ReportGate::kNoTicket;
    row.engine->RequestStop();  // wakes every wait of its workers; returns at once
    auto retired = std::make_shared<RetiredEngine>();
    retired->ports = std::move(row.ports);
    retired->engine = std::move(row.engine);
    m_reaper.Retire(r, std::move(retired));  // its destructor joins its workers there
}

void CTarvoView::ReplaceEngine(int r)
{
    Row& row = m_rows[r - 1];
    RetireEngine(r);
    // The device paths as the profile holds them now; the engine keeps this snapshot.
    row.ports = std::make_unique<MapPortDirectory>(profile::PortDirectory());
    EngineEnvironment environment;
    environment.clock = m_options.clock;
    environment.ports = row.ports.get();
    environment.trace = m_trace.IfEnabled();
    environment.monitorDir = m_options.monitorDir;
    row.engine = std::make_unique<CWinMonitorCtrl>(environment);
    row.ticket = m_gate.Register(row.engine.get());
}

void CTarvoView::StartPort(int r)
{
    if (r < 1 || r > station::kRows)
        return;
    if (m_rows[r - 1].beginPending)
        return;  // its start waits for the record already
    // No run without its record: while the record cannot be written the row stays as it is.
    if (const QString problem = m_record->Problem(); !problem.isEmpty()) {
        emit recordProblemChanged(problem);
        emit statusMessage(tr("COM%1 not started: the production record cannot be written (%2)")
                               .arg(station::PortForRow(r))
                               .arg(problem));
        return;
    }
    // A run without a usable image could only erase the handset and then stall.
    const ImageCheck image = CheckImage();
    if (!image.detail.isEmpty()) {
        RefuseStart(r, image);
        return;
    }
    // Only approved images: no row is armed before the image's approval is known, nor after
    // it was revoked.
    std::optional<std::string> approval;
    if (CImageApproval::Required()) {
        CheckImageApproval();
        if (!m_approval->ReadyFor(r)) {
            m_rows[r - 1].ShowNote(tr("Checking approval"), station::colour::kYellow, QString());
            return;
        }
        std::string approved, refusal;
        if (!m_approval->Allowed(approved, refusal)) {
            const QString why = QString::fromStdString(refusal);
            RefuseStart(r, {why, why});
            return;
        }
        approval = approved;
    }
    ReplaceEngine(r);
    Row& row = m_rows[r - 1];
    // The row's earlier run (if any) is over: its label is spent.
    row.runEnded = true;
    m_units.RunEnded(r);
    const int port = station::PortForRow(r);
    row.engine->SetPortNumber(port);
    m_record->SubmitRun(*row.engine, port, row.ports->DevicePath(port), m_imagePath, approval);
    // Continuous runs: this device has had its run, click or not.
    m_continuous->RowStarted(r);
    row.beginFailed = false;
    Apply(station::PortStarting(r));
    row.message->setToolTip(QString());
    // No record, no run: the port opens once the run's RUNNING record is durable (RunBegun).
    row.beginPending = true;
    m_recording->Begin(r, row.ticket, *row.engine);
}

void CTarvoView::RunBegun(int r, station::ReportGate::Ticket ticket, bool ok, const std::string& error)
{
    Row& row = m_rows[r - 1];
    if (row.ticket != ticket || !row.beginPending)
        return;  // the row was started again or closed meanwhile
    row.beginPending = false;
    if (!ok) {
        // The run is recorded ERROR with the reason; the row shows it in red and is not armed.
        row.beginFailed = true;
        Apply(station::OnStatus(station::PortForRow(r), kNoResultCode, station::text::kNotRecorded), true);
        row.message->SetTextColor(station::colour::kRed);
        const QString why = QString::fromStdString(error);
        row.message->setToolTip(why);
        emit statusMessage(tr("COM%1 not started: the run could not be recorded (%2)").arg(station::PortForRow(r)).arg(why));
        RunEnded(r, kNoResultCode, false);
        return;
    }
    // The old engine holds the device until it is gone; it was asked to stop, so that is
    // normally a matter of milliseconds. If it takes longer the port opens when it is done.
    row.openPending = !m_reaper.WaitFor(r, kRetireWait);
    if (!row.openPending)
        m_starts->Open(r);
}

void CTarvoView::OnRowIdle(int r)
{
    Row& row = m_rows[r - 1];
    if (row.openPending && !m_reaper.Busy(r)) {
        row.openPending = false;
        m_starts->Open(r);
    }
}

void CTarvoView::RefuseStart(int r, const ImageCheck& problem)
{
    m_rows[r - 1].ShowNote(problem.brief, station::colour::kRed, problem.detail);
    emit statusProblem(problem.detail);
}

std::size_t CTarvoView::QueuedStarts() const { return m_starts->Waiting(); }

std::size_t CTarvoView::ApprovalWaiting() const { return m_approval->Waiting(); }

bool CTarvoView::RequireApproved() const { return CImageApproval::Required(); }

void CTarvoView::CheckImageApproval()
{
    m_approval->Check(m_imagePath, m_record->Enabled() ? m_record->DatabasePath() : std::string());
}

void CTarvoView::OpenAndStart(int r)
{
    Row& row = m_rows[r - 1];
    const int port = station::PortForRow(r);
    if (row.engine->OpenPort(port, station::kBaudRate)) {
        Apply(station::PortOpened(r), true);
        row.runEnded = false;
        // The label that waited for this start belongs to this run's record.
        const std::string unit = m_units.RunStarts(r);
        if (!unit.empty())
            m_record->SetRunUnit(*row.engine, unit);
        m_status->RunBegun(port, m_record->RunId(*row.engine),
                           unit.empty() ? std::nullopt : std::optional<std::string>(unit));
        m_units.Show(r);
        row.engine->Start(&m_record->Sink());
        m_starts->Started();
    } else {
        Apply(station::PortOpenFailed(r), true);
        m_status->OpenFailed(port, row.engine->OpenError());
        RunEnded(r, kNoResultCode, false);
        // Why, naming the device: in the field's tooltip and the status bar.
        m_record->FailRun(*row.engine, row.engine->OpenError());
        QString reason = QString::fromStdString(row.engine->OpenError());
        // What the preflight checks find wrong with the device, and how to fix it.
        const QString problem = DeviceProblem(port, row.ports->DevicePath(port));
        if (!problem.isEmpty())
            reason += QStringLiteral(" - ") + problem;
        row.message->setToolTip(reason);
        emit statusMessage(QStringLiteral("COM%1: %2").arg(port).arg(reason));
    }
}

// --- production record ---------------------------------------------------------------------

void CTarvoView::MakeRecordsDurable()
{
    std::vector<const CWinMonitorCtrl*> engines;
    for (const Row& row : m_rows)
        if (row.engine)
            engines.push_back(row.engine.get());
    m_record->MakeDurable(engines, kExitRecordWait);
}

void CTarvoView::SetNextUnit(int r, const QString& label)
{
    if (r >= 1 && r <= station::kRows)
        m_record->SetNextUnit(station::PortForRow(r), label);
}

QString CTarvoView::RecordTotalsText() const { return m_recording->TotalsText(); }

void CTarvoView::ShowRecordCounts(int r)
{
    m_rows[r - 1].portField->setToolTip(m_recording->CountsTip(station::PortForRow(r)));
}

void CTarvoView::OnRunRecorded(int port)
{
    const int r = station::RowForPort(port);
    if (r >= 1)
        ShowRecordCounts(r);
    emit recordTotalsChanged(RecordTotalsText());
}

// --- reports -------------------------------------------------------------------------------

void CTarvoView::OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report)
{
    m_handOff->OnPortStatus(engine, report);
}

void CTarvoView::OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report)
{
    m_handOff->OnPortProgress(engine, report);
}

void CTarvoView::ReleaseEngine(const CWinMonitorCtrl& engine) { m_handOff->ReleaseEngine(engine); }

void CTarvoView::OnRunEnded(const CWinMonitorCtrl& engine) { m_handOff->OnRunEnded(engine); }

void CTarvoView::ShowRunEndedAlone(station::ReportGate::Ticket ticket, int port)
{
    if (!IsCurrent(port, ticket))
        return;
    const int r = station::RowForPort(port);
    Row& row = m_rows[r - 1];
    if (row.runEnded)
        return;  // its final status was shown
    Apply(station::OnStatus(port, kNoResultCode, station::text::kNoResult), true);
    row.message->SetTextColor(station::colour::kRed);
    const QString why = tr("COM%1: the run ended without a result (the handset refused the identify or the "
                           "device was lost before it answered)")
                            .arg(port);
    row.message->setToolTip(why);
    emit statusMessage(why);
    RunEnded(r, kNoResultCode);
}

bool CTarvoView::IsCurrent(int port, station::ReportGate::Ticket ticket) const
{
    const int r = station::RowForPort(port);
    return r != 0 && m_rows[r - 1].ticket == ticket && m_gate.IsLive(ticket);
}

void CTarvoView::ShowStatus(station::ReportGate::Ticket ticket, const CReportHandOff::Status& report)
{
    if (!IsCurrent(report.port, ticket))
        return;
    m_status->OnStatus(report.port, report.code, report.text, report.reason);
    const int r = station::RowForPort(report.port);
    if (report.code == status::kReadyForDownload) {
        // The image went away after the row was armed, or its approval was revoked (no
        // handset gets it): end the run here, before the erase, and free the device, instead
        // of sitting at "ERASE" for ever.
        ImageCheck stop = CheckImage();
        if (std::string refusal; stop.detail.isEmpty() && m_approval->RefusedNow(refusal))
            stop = {QString::fromStdString(refusal), QString::fromStdString(refusal)};
        if (!stop.detail.isEmpty()) {
            Apply(station::OnStatus(report.port, kNoImageCode, stop.brief.toStdString()));
            m_rows[r - 1].message->SetTextColor(station::colour::kRed);
            m_rows[r - 1].message->setToolTip(stop.detail);
            emit statusProblem(stop.detail);
            m_record->FailRun(*m_rows[r - 1].engine, stop.detail.toStdString());
            RunEnded(r, kNoImageCode);
            ReplaceEngine(r);
            return;
        }
    }
    // Status 0 shows the view's own "Erasing..."; every other status shows the engine's text.
    Apply(station::OnStatus(report.port, report.code, report.text), report.code == 0);
    if (status::IsError(report.code)) {
        // A failure: its known cause goes beside the specified text.
        Row& row = m_rows[r - 1];
        const QString text = QString::fromStdString(report.text);
        const QString reason = QString::fromStdString(report.reason);
        row.message->setToolTip(reason.isEmpty() ? text : tr("%1 (%2)").arg(text, reason));
        if (!reason.isEmpty())
            emit statusMessage(tr("COM%1: %2 (%3)").arg(report.port).arg(text, reason));
    }
    if (report.code != 0 && report.code != 1)
        RunEnded(r, report.code);
}

void CTarvoView::ShowProgress(station::ReportGate::Ticket ticket, const ProgressReport& report)
{
    if (!IsCurrent(report.port, ticket))
        return;
    m_status->OnProgress(report.port, report.percent, report.position, report.size);
    Apply(station::OnProgress(report.port, report.percent, report.position, report.size), true, report.percent);
}

// --- steps of the row logic ----------------------------------------------------------------

CLabel* CTarvoView::LabelFor(station::Field field, int row) const
{
    switch (field) {
    case station::Field::Clock: return m_clock;
    case station::Field::PathLine: return m_pathLine;
    case station::Field::Message: return row >= 1 && row <= station::kRows ? m_rows[row - 1].message : nullptr;
    case station::Field::State: return row >= 1 && row <= station::kRows ? m_rows[row - 1].state : nullptr;
    }
    return nullptr;
}

void CTarvoView::Apply(const station::Steps& steps, bool ownMessage, int percent)
{
    for (const station::Step& step : steps) {
        std::visit(Overloaded{
                       [&](const station::SetTextColor& s) {
                           if (CLabel* label = LabelFor(s.field, s.row))
                               label->SetTextColor(s.color);
                       },
                       [&](const station::SetBkColor& s) {
                           if (CLabel* label = LabelFor(s.field, s.row))
                               label->SetBkColor(s.color);
                       },
                       [&](const station::SetText& s) {
                           CLabel* label = LabelFor(s.field, s.row);
                           if (!label)
                               return;
                           if (s.field == station::Field::State) {
                               m_rows[s.row - 1].ShowState(s.text);
                           } else if (s.field == station::Field::Message) {
                               m_rows[s.row - 1].ShowMessage(s.text, ownMessage, percent);
                           } else {
                               if (s.field == station::Field::Clock)
                                   m_clockText = s.text;
                               label->SetText(QString::fromStdString(s.text));
                           }
                       },
                       [&](const station::SetFontSize& s) {
                           if (CLabel* label = LabelFor(s.field, s.row))
                               label->SetFontSize(s.size);
                       },
                       [&](const station::SetFontBold& s) {
                           if (CLabel* label = LabelFor(s.field, s.row))
                               label->SetFontBold(s.bold);
                       },
                       [&](const station::SetProgressRange& s) {
                           // An empty range (an image below 1000 bytes) shows an empty bar; the
                           // progress bar would take 0..0 for "busy" and animate.
                           QProgressBar* bar = m_rows[s.row - 1].progress;
                           bar->setRange(s.lower, s.upper > s.lower ? s.upper : s.lower + 1);
                       },
                       [&](const station::SetProgressPosition& s) { m_rows[s.row - 1].progress->setValue(s.position); },
                       [&](const station::StartTimer& s) {
                           if (s.id >= 1 && s.id < static_cast<int>(m_timers.size()))
                               m_timers[s.id].start(s.periodMs, this);
                       },
                       [&](const station::StopTimer& s) {
                           if (s.id >= 1 && s.id < static_cast<int>(m_timers.size()))
                               m_timers[s.id].stop();
                       },
                       [&](const station::StartDownload& s) {
                           // A false result (no image) leaves the row at "ERASE"; the operator
                           // chooses a file and restarts the row.
                           // The image file as the run opened and hashed it, so the record
                           // describes exactly the bytes sent.
                           CWinMonitorCtrl& engine = *m_rows[s.row - 1].engine;
                           engine.StartDownload(&m_record->Sink(), m_record->DownloadPath(engine));
                       },
                   },
                   step);
    }
}

// --- timers --------------------------------------------------------------------------------

bool CTarvoView::IsTimerActive(int id) const
{
    return id >= 1 && id < static_cast<int>(m_timers.size()) && m_timers[id].isActive();
}

void CTarvoView::timerEvent(QTimerEvent* event)
{
    for (int id = 1; id < static_cast<int>(m_timers.size()); ++id) {
        if (m_timers[id].timerId() == event->timerId()) {
            OnTimer(id);
            return;
        }
    }
    QWidget::timerEvent(event);
}

void CTarvoView::OnTimer(int id)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    Apply(station::OnTimer(id, local));
}

// --- port selection ------------------------------------------------------------------------

void CTarvoView::EditPortSettings()
{
    CComPortSet dialog(this);
    connect(&dialog, &CComPortSet::saveFailed, this, &CTarvoView::statusMessage, Qt::DirectConnection);
    const bool ok = m_options.runPortDialog ? m_options.runPortDialog(dialog) : dialog.exec() == QDialog::Accepted;
    if (ok)
        ApplyPortSettings();
}

void CTarvoView::ApplyPortSettings()
{
    for (int r = 1; r <= station::kRows; ++r)
        m_rows[r - 1].enabled = profile::ReadInt(profile::kPortSection, profile::PortFlagKey(r), 0);
    for (int r = 1; r <= station::kRows; ++r)
        m_rows[r - 1].state->setEnabled(m_rows[r - 1].enabled == 1);
    // The status server lists the rows that take part, with their devices.
    if (m_status->Serving()) {
        const MapPortDirectory devices = profile::PortDirectory();
        for (int r = 1; r <= station::kRows; ++r)
            if (m_rows[r - 1].enabled == 1)
                m_status->AddPort(station::PortForRow(r), devices.DevicePath(station::PortForRow(r)));
    }
    // The rows or their devices may have changed: watch what the profile names now.
    m_continuous->Watch();
}

// --- main software -------------------------------------------------------------------------

void CTarvoView::SelectMainSoftware()
{
    const QString chosen = m_options.chooseMainSoftware ? m_options.chooseMainSoftware(this)
                                                             : ChooseMainSoftwareFile(this, m_imagePath);
    if (chosen.isEmpty())
        return;
    CWinMonitorCtrl& engine = *m_rows[0].engine;
    if (!engine.ConvertImage(ToLocal(chosen))) {
        // The image in force (if any) stays: path line and profile keep it. The failure stays
        // on show until a choice succeeds, and a row is armed only if the earlier image is good.
        m_choiceFailure = QString::fromStdString(engine.ConvertFailure().ToString());
        m_pathLine->setToolTip(m_choiceFailure);
        emit statusProblem(Tr(kStation, strings::kConvertFailed) + m_choiceFailure);
        return;
    }
    m_choiceFailure.clear();
    m_imagePath = engine.ImagePath();
    m_status->SetImage(m_imagePath);
    CheckImageApproval();
    const QString shown = FromLocal(m_imagePath);
    m_pathLine->SetText(shown);
    m_pathLine->setToolTip(shown);
    emit statusMessage(QString());
    if (!profile::WriteString(profile::kMainSwSection, QString::fromUtf8(profile::kMainSwKey), shown))
        emit statusProblem(profile::SaveProblem());
    else
        emit statusProblem(QString());
}

ImageCheck CTarvoView::CheckImage() const { return CheckDownloadImage(m_imagePath, m_choiceFailure); }

// --- settings locks ------------------------------------------------------------------------

bool CTarvoView::UnlockEngineer(const char* purpose) { return m_locks.UnlockEngineer(purpose); }

void CTarvoView::EditEngineerPin() { m_locks.EditPin(); }

void CTarvoView::ApplyAdministratorLocks() { m_locks.DisableLockedButtons(m_buttons[1], m_buttons[3]); }

void CTarvoView::OnComPortSetting()
{
    if (m_locks.RefusePortSettings())
        return;
    if (UnlockEngineer(strings::kGuardPortSetting))
        EditPortSettings();
}

void CTarvoView::OnFileOpen()
{
    if (m_locks.Refuse(profile::kMainSwSection, profile::kMainSwKey))
        return;
    if (UnlockEngineer(strings::kGuardFileOpen))
        SelectMainSoftware();
}

// --- sound ---------------------------------------------------------------------------------

bool CTarvoView::SoundOn() const { return m_sound->On(); }

void CTarvoView::SetSoundOn(bool on)
{
    if (!m_locks.Refuse(CStationSound::kSection, CStationSound::kKey))
        m_sound->SetOn(on);
}

void CTarvoView::RunEnded(int r, int code, bool started)
{
    if (r < 1 || r > station::kRows)
        return;
    Row& row = m_rows[r - 1];
    // An engine reports one final word per run; should another error follow, the run has
    // still ended only once. A run whose port did not open never started (runEnded is still
    // set from the start), yet it ends as any failed run.
    if (row.runEnded && started)
        return;
    row.runEnded = true;
    m_status->OnEnd(station::PortForRow(r), code);
    m_units.RunEnded(r);
    m_units.Show(r);
    m_sound->RunEnded(code);
    // Continuous runs close the device once the report has been handled.
    m_continuous->RunEnded(r);
}

// --- continuous runs -----------------------------------------------------------------------

void CTarvoView::SetContinuous(bool on)
{
    if (!m_locks.Refuse(CContinuousMode::kSection, CContinuousMode::kKey))
        m_continuous->SetOn(on);
}

bool CTarvoView::Continuous() const { return m_continuous->On(); }

CContinuousMode::Rows CTarvoView::ContinuousRows()
{
    CContinuousMode::Rows rows;
    rows.enabled = [this](int r) { return m_rows[r - 1].enabled == 1; };
    rows.runEnded = [this](int r) { return m_rows[r - 1].runEnded; };
    rows.start = [this](int r) { StartPort(r); };
    rows.close = [this](int r) { ReplaceEngine(r); };
    rows.absent = [this](int r, const QString& device) {
        Row& row = m_rows[r - 1];
        if (row.messageSource == station::text::kNoDevice)
            return;  // shown already
        Apply(station::DeviceAbsent(r), true);
        m_status->Waiting(station::PortForRow(r), true);
        row.message->setToolTip(device);
    };
    rows.presentAtStart = [this](int r, const QString& device) {
        Apply(station::DevicePresentAtStart(r), true);
        m_rows[r - 1].message->setToolTip(device);
    };
    return rows;
}

void CTarvoView::ShowPreflightReport()
{
    const std::string monitorDir = m_options.monitorDir;
    const std::string image = m_imagePath;
    CDoctorReport report([monitorDir, image] { return RunStationChecks(monitorDir, image); }, this);
    if (m_options.runPreflightReport)
        m_options.runPreflightReport(report);
    else
        report.exec();
}

// --- unit labels ---------------------------------------------------------------------------

void CTarvoView::SelectRow(int r) { m_units.Select(r); }

bool CTarvoView::TakeUnitLabel(const QString& typed) { return m_units.Take(typed); }

const QString& CTarvoView::TypedLabel() const { return m_scanner->Typed(); }

bool CTarvoView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        for (int r = 1; r <= station::kRows; ++r) {
            if (watched == m_rows[r - 1].portField) {
                m_units.Toggle(r);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// --- languages -----------------------------------------------------------------------------

void CTarvoView::Retranslate()
{
    RetranslateStationForm(m_formTexts);
    for (int r = 1; r <= station::kRows; ++r) {
        Row& row = m_rows[r - 1];
        row.Retranslate();
        m_units.Show(r);
        if (!row.portField->toolTip().isEmpty())
            ShowRecordCounts(r);
    }
    ApplyAdministratorLocks();
}

void CTarvoView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QWidget::changeEvent(event);
}

}  // namespace tarvo
