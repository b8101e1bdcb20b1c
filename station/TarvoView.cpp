#include "station/TarvoView.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QTimerEvent>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "controls/DialogUnits.h"
#include "controls/Label.h"
#include "controls/RoundButton.h"
#include "engine/WinMonitorCtrl.h"
#include "resources/Forms.h"
#include "resources/Pictures.h"
#include "resources/Strings.h"
#include "station/ComPortSet.h"
#include "station/Profile.h"
#include "station/StationRecord.h"

namespace tarvo {
namespace {

QString FromLocal(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string ToLocal(const QString& path) { return QFile::encodeName(path).toStdString(); }

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace

CTarvoView::CTarvoView(QWidget* parent, ViewOptions options) : QWidget(parent), m_options(std::move(options))
{
    setFont(FormFont(forms::kStationFontPoints));
    m_record = std::make_unique<CStationRecord>(*this, this);
    connect(m_record.get(), &CStationRecord::runRecorded, this, [this](int port, const QString&) { OnRunRecorded(port); });
    connect(m_record.get(), &CStationRecord::problemChanged, this, &CTarvoView::recordProblemChanged);
    BuildForm();
    // Eight engines from the start, none opened.
    for (int row = 1; row <= station::kRows; ++row)
        ReplaceEngine(row);
}

CTarvoView::~CTarvoView()
{
    // Release every engine first so that no worker still waits for this thread, then stop
    // and join them one by one. Queued reports die with this object.
    for (Row& row : m_rows) {
        if (row.engine)
            m_gate.Release(row.engine.get());
    }
    for (Row& row : m_rows)
        DestroyEngine(row);
}

void CTarvoView::BuildForm()
{
    const DialogUnits du(font());
    setFixedSize(du.Size(forms::kStationWidth, forms::kStationHeight));

    for (const forms::Item& item : forms::kStationForm) {
        const QRect rect = du.Rect(item.x, item.y, item.cx, item.cy);
        const QString text = QString::fromUtf8(item.text);
        QWidget* widget = nullptr;
        switch (item.kind) {
        case forms::Kind::GroupBox:
            widget = new QGroupBox(text, this);
            break;
        case forms::Kind::Text: {
            auto* label = new QLabel(text, this);
            label->setAlignment(Qt::AlignCenter);
            widget = label;
            break;
        }
        case forms::Kind::Picture: {
            auto* picture = new QLabel(this);
            picture->setPixmap(item.id == forms::kIdBanner ? pictures::Banner(rect.size())
                                                           : pictures::StationPicture(rect.size()));
            widget = picture;
            break;
        }
        case forms::Kind::Label: {
            auto* label = new CLabel(this);
            label->SetSunken(true);
            if (item.id == forms::kIdClock)
                m_clock = label;
            else
                m_pathLine = label;
            widget = label;
            break;
        }
        case forms::Kind::RoundButton: {
            auto* button = new CRoundButton(text, this);
            button->setGeometry(rect);
            button->Attach();
            button->setFocusPolicy(Qt::TabFocus);
            if (item.id == forms::kIdExit) {
                m_buttons[0] = button;
                connect(button, &QPushButton::clicked, this, [this] {
                    // Ends at once: no question, no closing sequence, ports left to the system.
                    if (m_options.exitProcess)
                        m_options.exitProcess();
                    else
                        std::_Exit(0);
                }, Qt::DirectConnection);
            } else if (item.id == forms::kIdComPortSetting) {
                m_buttons[1] = button;
                connect(button, &QPushButton::clicked, this, &CTarvoView::EditPortSettings, Qt::DirectConnection);
            } else if (item.id == forms::kIdOpenCloseAll) {
                // Created disabled; nothing enables it.
                m_buttons[2] = button;
                button->setEnabled(false);
            } else {
                m_buttons[3] = button;
                connect(button, &QPushButton::clicked, this, &CTarvoView::SelectMainSoftware, Qt::DirectConnection);
            }
            widget = button;
            break;
        }
        default:
            break;
        }
        if (!widget)
            continue;
        widget->setObjectName(QString::number(item.id));
        widget->setProperty("controlId", item.id);
        if (item.kind != forms::Kind::RoundButton)
            widget->setGeometry(rect);
    }

    for (int r = 1; r <= station::kRows; ++r) {
        Row& row = m_rows[r - 1];
        const forms::RowIds& ids = forms::kRowIds[r - 1];
        const int y = forms::kRowY[r - 1];

        row.portField = new QLabel(QString::number(r), this);
        row.portField->setAlignment(Qt::AlignCenter);
        row.portField->setGeometry(du.Rect(forms::kPortFieldX, y, forms::kPortFieldWidth, forms::kRowHeight));

        row.message = new CLabel(this);
        row.message->SetSunken(true);
        row.message->SetNotify(true);
        row.message->setGeometry(du.Rect(forms::kMessageX, y, forms::kMessageWidth, forms::kRowHeight));

        row.state = new CLabel(this);
        row.state->SetNotify(true);
        row.state->setGeometry(du.Rect(forms::kStateX, y, forms::kStateWidth, forms::kRowHeight));
        row.state->setCursor(Qt::PointingHandCursor);
        connect(row.state, &CLabel::clicked, this, [this, r] { StartPort(r); }, Qt::DirectConnection);

        row.progress = new QProgressBar(this);
        row.progress->setTextVisible(false);
        row.progress->setRange(0, 100);
        row.progress->setValue(0);
        row.progress->setGeometry(du.Rect(forms::kProgressX, y, forms::kProgressWidth, forms::kRowHeight));

        const std::pair<QWidget*, int> named[] = {
            {row.portField, ids.portField}, {row.message, ids.message}, {row.state, ids.state}, {row.progress, ids.progress}};
        for (const auto& [widget, id] : named) {
            widget->setObjectName(QString::number(id));
            widget->setProperty("controlId", id);
        }
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

    m_imagePath = ToLocal(profile::ReadString(profile::kMainSwSection, QString::fromUtf8(profile::kMainSwKey)));
    m_pathLine->SetText(FromLocal(m_imagePath));
    // A stored path serves every later start; the file dialog opens only when none is stored.
    if (m_imagePath.empty())
        SelectMainSoftware();
    ApplyPortSettings();
}

// --- engines -------------------------------------------------------------------------------

void CTarvoView::DestroyEngine(Row& row)
{
    if (!row.engine)
        return;
    const void* key = row.engine.get();
    m_record->StopRun(*row.engine);
    m_gate.Release(key);
    row.engine.reset();  // stops the download thread and the ready worker, closes the port
    m_gate.Forget(key);
    row.ticket = station::ReportGate::kNoTicket;
}

void CTarvoView::ReplaceEngine(int r)
{
    Row& row = m_rows[r - 1];
    DestroyEngine(row);
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
    // No run without its record: while the record cannot be written the row stays as it is.
    if (const QString problem = m_record->Problem(); !problem.isEmpty()) {
        emit recordProblemChanged(problem);
        emit statusMessage(tr("COM%1 not started: the production record cannot be written (%2)")
                               .arg(station::PortForRow(r))
                               .arg(problem));
        return;
    }
    ReplaceEngine(r);
    Row& row = m_rows[r - 1];
    const int port = station::PortForRow(r);
    row.engine->SetPortNumber(port);
    m_record->BeginRun(*row.engine, port, row.ports->DevicePath(port), m_imagePath);
    Apply(station::PortStarting(r));
    if (row.engine->OpenPort(port, station::kBaudRate)) {
        Apply(station::PortOpened(r));
        row.engine->Start(&m_record->Sink());
        std::this_thread::sleep_for(m_options.startPause);
    } else {
        Apply(station::PortOpenFailed(r));
        // Why, naming the device: in the field's tooltip and the status bar.
        m_record->FailRun(*row.engine, row.engine->OpenError());
        const QString reason = QString::fromStdString(row.engine->OpenError());
        row.message->setToolTip(reason);
        emit statusMessage(QStringLiteral("COM%1: %2").arg(port).arg(reason));
    }
}

// --- production record ---------------------------------------------------------------------

void CTarvoView::SetNextUnit(int r, const QString& label)
{
    if (r >= 1 && r <= station::kRows)
        m_record->SetNextUnit(station::PortForRow(r), label);
}

QString CTarvoView::RecordTotalsText() const
{
    return tr("Runs %1  PASS %2  FAIL %3").arg(m_record->TotalRuns()).arg(m_record->TotalPasses()).arg(m_record->TotalFails());
}

void CTarvoView::OnRunRecorded(int port)
{
    const int r = station::RowForPort(port);
    if (r >= 1)
        m_rows[r - 1].portField->setToolTip(
            tr("COM%1: %2 PASS, %3 FAIL since start-up").arg(port).arg(m_record->Passes(port)).arg(m_record->Fails(port)));
    emit recordTotalsChanged(RecordTotalsText());
}

// --- reports -------------------------------------------------------------------------------

void CTarvoView::OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report)
{
    StatusValue value{report.port, report.code, report.text ? std::string(report.text) : std::string()};
    const station::ReportGate::PassPtr pass = m_gate.Enter(&engine);
    if (!pass)
        return;  // the engine is being destroyed
    QMetaObject::invokeMethod(this, [this, pass, value = std::move(value)] {
        ShowStatus(pass->ticket, value);
        m_gate.Finish(pass);
    }, Qt::QueuedConnection);
    m_gate.Wait(pass);
}

void CTarvoView::OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report)
{
    const station::ReportGate::PassPtr pass = m_gate.Enter(&engine);
    if (!pass)
        return;
    QMetaObject::invokeMethod(this, [this, pass, value = report] {
        ShowProgress(pass->ticket, value);
        m_gate.Finish(pass);
    }, Qt::QueuedConnection);
    m_gate.Wait(pass);
}

void CTarvoView::ReleaseEngine(const CWinMonitorCtrl& engine) { m_gate.Release(&engine); }

bool CTarvoView::IsCurrent(int port, station::ReportGate::Ticket ticket) const
{
    const int r = station::RowForPort(port);
    return r != 0 && m_rows[r - 1].ticket == ticket && m_gate.IsLive(ticket);
}

void CTarvoView::ShowStatus(station::ReportGate::Ticket ticket, const StatusValue& report)
{
    if (!IsCurrent(report.port, ticket))
        return;
    Apply(station::OnStatus(report.port, report.code, report.text));
}

void CTarvoView::ShowProgress(station::ReportGate::Ticket ticket, const ProgressReport& report)
{
    if (!IsCurrent(report.port, ticket))
        return;
    Apply(station::OnProgress(report.port, report.percent, report.position, report.size));
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

void CTarvoView::Apply(const station::Steps& steps)
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
                           if (s.field == station::Field::Clock)
                               m_clockText = s.text;
                           if (CLabel* label = LabelFor(s.field, s.row))
                               label->SetText(QString::fromStdString(s.text));
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
                           m_rows[s.row - 1].engine->StartDownload(&m_record->Sink(), m_imagePath);
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
}

// --- main software -------------------------------------------------------------------------

QString CTarvoView::RunFileDialog()
{
    QString folder = QFileInfo(FromLocal(m_imagePath)).absolutePath();
    if (m_imagePath.empty() || !QFileInfo(folder).isDir())
        folder = QDir::currentPath();
    QFileDialog dialog(this, QString(), folder, QString::fromUtf8(strings::kMainSoftwareFilter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QString::fromUtf8(strings::kMainSoftwareSuffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void CTarvoView::SelectMainSoftware()
{
    const QString chosen = m_options.chooseMainSoftware ? m_options.chooseMainSoftware(this) : RunFileDialog();
    if (chosen.isEmpty())
        return;
    CWinMonitorCtrl& engine = *m_rows[0].engine;
    const bool converted = engine.ConvertImage(ToLocal(chosen));
    // Also after a failure the view takes what row 1's engine holds: the image of an earlier
    // choice on that engine, or nothing.
    m_imagePath = engine.ImagePath();
    const QString shown = FromLocal(m_imagePath);
    m_pathLine->SetText(shown);
    profile::WriteString(profile::kMainSwSection, QString::fromUtf8(profile::kMainSwKey), shown);
    if (converted) {
        m_pathLine->setToolTip(shown);
        emit statusMessage(QString());
    } else {
        const QString reason = QString::fromStdString(engine.ConvertFailure().ToString());
        m_pathLine->setToolTip(reason);
        emit statusMessage(QString::fromUtf8(strings::kConvertFailed) + reason);
    }
}

}  // namespace tarvo
