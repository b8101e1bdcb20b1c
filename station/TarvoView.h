// CTarvoView: the station form. Eight port rows (port number, message field, state field,
// progress bar), the clock, the path line of the download image and four buttons.
//
// The view owns one port engine per row, created with the view and replaced by StartPort
// (a click on the row's enabled state field). It receives the engines' reports as their
// IReportSink and shows them through the row logic (station/RowLogic.h), which decides every
// text, colour, bar setting and timer; the view only carries the steps out.
//
// Reports and threads: the engines call OnPortStatus/OnPortProgress on their worker threads.
// The view's hand-off (station/ReportHandOff.h) copies the report (text included), queues its
// handling to the GUI thread and makes the worker wait until it ran, so the worker goes on only after the view has shown the
// report (a download advances no faster than the view). Before an engine is let go, the view
// releases it in the report gate: a wait of its workers ends at once and its later reports
// drop, so a status 0 from an engine that is going away never starts a download. A queued
// report is shown only if its engine is still its row's engine.
//
// Letting an engine go never holds the GUI thread: the view asks it to stop and hands it to
// the reaper (station/Reaper.h), which destroys it on a thread of its own. A restarted row
// opens its port once the old engine has released the device; the view waits at most
// kRetireWait for that, and otherwise opens the port as soon as the reaper reports the row
// idle. Closing the view releases and stops every engine first and then waits for all of them
// together.
//
// A row is armed only with a usable download image (station/DownloadImage.h): a click while
// none is chosen, while the chosen one is missing, empty or not an image, shows why in the row
// and in the status bar and opens nothing.
//
// The pause after a row's start keeps later starts back for its length without holding the GUI
// thread (station/StartPause.h): rows started meanwhile wait in order and open one pause after
// another.
//
// The form's fixed widgets come from station/StationForm.h, each row's fields from
// station/RowFields.h; the view owns them all.
//
// Added to the form, each in a unit of its own that the view wires to its rows: the window's
// texts follow the language in force (QEvent::LanguageChange; engine texts are shown as they
// come); the engineer PIN and the administrator's file guard the settings
// (station/SettingsLocks.h); a sound marks the end of each run (station/Sound.h); continuous
// runs start rows as their devices are plugged (station/ContinuousMode.h); a run's port opens
// once its first record is durable (station/RowRecording.h); and unit labels typed into the
// window by a barcode scanner or by hand (station/ScannerInput.h, also out of an open dialog)
// go to the selected row, or the first row with a run in progress and no unit yet
// (station/UnitLabelRows.h); a label for a row whose run has its unit waits for the row's next
// run, and the row's bar says which. A click on a row's port number or message field selects
// the row (another click deselects it); the row's progress bar shows its label.
//
// Threading: everything but the IReportSink calls and the reaper's callback runs on the GUI
// thread.
#pragma once

#include <QBasicTimer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/ReportSink.h"
#include "serial/PortDirectory.h"
#include "station/ContinuousMode.h"
#include "station/Reaper.h"
#include "station/SettingsLocks.h"
#include "station/ReportGate.h"
#include "station/ReportHandOff.h"
#include "station/RowFields.h"
#include "station/RowLogic.h"
#include "station/TraceLog.h"
#include "station/DownloadImage.h"
#include "station/UnitLabelRows.h"

class QLabel;
class QProgressBar;

namespace tarvo {

class CImageApproval;
class CStartPause;
class CStationStatus;
class CComPortSet;
class CDoctorReport;
class CLabel;
class CStationRecord;
class CRowRecording;
class CScannerInput;
class CStationSound;
class ISoundPlayer;
class CRoundButton;
class CWinMonitorCtrl;
class IClock;

struct ViewOptions {
    // Engine clock (null: the system clock) and folder of the monitor files (empty: the
    // working directory).
    IClock* clock = nullptr;
    std::string monitorDir;
    // The main software file dialog: returns the chosen path, empty on Cancel. Empty
    // function: the standard file dialog.
    std::function<QString(QWidget* owner)> chooseMainSoftware;
    // Runs the port dialog; true when it ended with OK. Empty function: a modal exec().
    std::function<bool(CComPortSet& dialog)> runPortDialog;
    // Ends the process for the EXIT button. Empty function: std::_Exit(0).
    std::function<void()> exitProcess;
    // Runs the preflight report dialog. Empty function: a modal exec().
    std::function<void(CDoctorReport& report)> runPreflightReport;
    // The pause after a port was started.
    std::chrono::milliseconds startPause{station::kStartPauseMs};
    // Shows a warning the operator must acknowledge (a profile that cannot be read). Empty
    // function: a modal message box.
    std::function<void(QWidget* owner, const QString& text)> warn;
    // Clock of the engineer lock's lock-out (null: the system clock).
    IClock* lockClock = nullptr;
    // Runs the PIN prompt; the guarded action goes on when prompt.Opened(). Empty function:
    // a modal exec(). The same for the dialog that sets the PIN (true: it ended with OK).
    std::function<void(CPinPrompt& prompt)> runPinPrompt;
    std::function<bool(CPinSetDialog& dialog)> runPinSet;
    // Plays the result sounds (null: the built-in sounds through Qt Multimedia).
    ISoundPlayer* sound = nullptr;
    // How often the image's approval is checked again while the window runs.
    std::chrono::milliseconds approvalPeriod{std::chrono::seconds(60)};
    // Translation folders searched after the standard ones (station/Language.h).
    QStringList translationFolders;
};

class CTarvoView : public QWidget, public IReportSink {
    Q_OBJECT
public:
    explicit CTarvoView(QWidget* parent = nullptr, ViewOptions options = {});
    ~CTarvoView() override;

    // Start-up: colours, clock timer, image path (file dialog when none is stored), row flags.
    void OnInitialUpdate();
    // Replaces row r's engine (1..8), opens its port and starts it.
    void StartPort(int row);
    // The port dialog; applies the flags after OK.
    void EditPortSettings();
    // Reads the row flags from the profile and enables exactly the state fields of rows with 1.
    void ApplyPortSettings();
    // Chooses a main software file, converts it on row 1's engine and keeps its image path.
    void SelectMainSoftware();
    // Clock (1) and blink (2..9) ticks.
    void OnTimer(int id);

    // The buttons COMPORT SETTING and FILE OPEN (and the menu's Open): the engineer PIN first
    // when one is set.
    void OnComPortSetting();
    void OnFileOpen();
    // Asks for the engineer PIN when one is set, naming `purpose` (a kGuard... text of
    // resources/Strings.h). True when no PIN is set or the right one was entered.
    bool UnlockEngineer(const char* purpose);
    // Sets, changes or removes the PIN (after the old one, when one is set).
    void EditEngineerPin();
    CEngineerLock& EngineerLock() { return m_locks.EngineerLock(); }

    // Result sounds on or off (kept in the profile, "Station"/"Sound").
    void SetSoundOn(bool on);
    bool SoundOn() const;

    // Row selection for unit labels: 1..8, or 0 for none.
    void SelectRow(int row);
    int SelectedRow() const { return m_units.Selected(); }
    // A label as typed or scanned (without the Enter): attached to its row. False, with a
    // status bar message, when it goes nowhere.
    bool TakeUnitLabel(const QString& typed);
    // The unit label of the run in progress on `row` (empty when none): what the run's
    // record takes as its unit.
    std::string RunUnitLabel(int row) const { return m_units.Labels().RunLabel(row); }
    const station::UnitLabels& UnitLabels() const { return m_units.Labels(); }
    // Characters typed so far for the next label.
    const QString& TypedLabel() const;

    // Sets every text of the form again in the language in force.
    void Retranslate();

    // IReportSink: called on engine worker threads.
    void OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report) override;
    void OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report) override;
    void ReleaseEngine(const CWinMonitorCtrl& engine) override;
    // A run that ends without a final status (a refused identify, a device lost before the
    // first answer) ends its row as every failed run does. Never blocks.
    void OnRunEnded(const CWinMonitorCtrl& engine) override;

    // Access for the shell and tests.
    const std::string& ImagePath() const { return m_imagePath; }
    CWinMonitorCtrl& Engine(int row) const { return *m_rows[row - 1].engine; }
    CLabel* MessageField(int row) const { return m_rows[row - 1].message; }
    CLabel* StateField(int row) const { return m_rows[row - 1].state; }
    QProgressBar* ProgressBar(int row) const { return m_rows[row - 1].progress; }
    CLabel* ClockField() const { return m_clock; }
    CLabel* PathLine() const { return m_pathLine; }
    CRoundButton* Button(int id) const;
    int EnabledFlag(int row) const { return m_rows[row - 1].enabled; }
    bool IsTimerActive(int id) const;
    // Reports waiting for the GUI thread (tests).
    std::size_t PendingReports() const { return m_gate.Waiting(); }
    // True while row r waits for its old engine to be gone before opening its port.
    bool OpenPending(int row) const { return m_rows[row - 1].openPending; }
    // Why no row can be armed now: a short text for a row's message field and the whole
    // reason; both empty when the image in use is fine.
    // (station/DownloadImage.h)
    ImageCheck CheckImage() const;

    // Rows waiting for the pause after an earlier start to end before their port opens.
    std::size_t QueuedStarts() const;
    // EXIT: ends the runs in progress (ABORTED, or NO TARGET while none answered) and waits
    // at most kExitRecordWait for every record to be durable in the journal.
    void MakeRecordsDurable();
    static constexpr std::chrono::milliseconds kExitRecordWait{2000};

    // The longest the GUI thread waits for a replaced engine before it leaves the opening of
    // the port to the reaper's notice.
    static constexpr std::chrono::milliseconds kRetireWait{50};

    // The production record of the rows' runs (station/StationRecord.h). A row is not started
    // while the record cannot be written, unless recording is off in the profile.
    CStationRecord& Record() const { return *m_record; }
    // Attaches a unit label (e.g. a scanned serial number) to the next run of row r (1..8).
    void SetNextUnit(int row, const QString& label);
    // The station's totals since start-up, as the status bar shows them.
    QString RecordTotalsText() const;
    // Continuous runs (profile "Station"/"Continuous"): every enabled row waits for its
    // device (an inotify watch, no polling), starts itself when the device appears, closes the
    // device when the run has ended and starts again only once the device has gone and come
    // back; a device that stays is not flashed again without a click. An absent device shows
    // in the row's message field in yellow on black, which is no error.
    bool Continuous() const;
    void SetContinuous(bool on);
    // The preflight report of the enabled rows' devices and the station's files.
    void ShowPreflightReport();
    // Only approved images ("Record"/"RequireApproved"=1): the image's approval is checked
    // (station/ImageApproval.h) before any row is armed, off the GUI thread; a row clicked
    // meanwhile waits for the verdict. A refused image (never approved, revoked, no list ever
    // fetched) arms no row: the row's message and the status bar say why in red, naming the
    // file. The run's record carries who approved the image.
    bool RequireApproved() const;
    // The status server's port ("Status"/"Listen" in the profile; 0: not serving).
    int StatusPort() const;
    // Rows waiting for the image's first approval verdict (tests).
    std::size_t ApprovalWaiting() const;

signals:
    // Asks the frame to fit itself to the form (start-up).
    void fitFrameRequested();
    // A message for the status bar; empty clears it.
    void statusMessage(const QString& text);
    // A problem the status bar keeps showing until it is cleared (empty text).
    void statusProblem(const QString& text);
    // The station's PASS/FAIL totals since start-up changed (RecordTotalsText()).
    void recordTotalsChanged(const QString& text);
    // Recording stopped working (a warning naming the reason) or works again (empty).
    void recordProblemChanged(const QString& problem);

protected:
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A row: its fields (station/RowFields.h), its engine and the state of its run.
    struct Row : RowFields {
        // Declared before the engine: the engine's channel keeps a pointer to it.
        std::unique_ptr<MapPortDirectory> ports;
        std::unique_ptr<CWinMonitorCtrl> engine;
        station::ReportGate::Ticket ticket = station::ReportGate::kNoTicket;
        int enabled = 0;
        bool openPending = false;
        // The run on this row has shown its final word (sound and label done).
        bool runEnded = true;
        // The row's start waits for its run's RUNNING record to be durable; the last start
        // failed because that record could not be written.
        bool beginPending = false;
        bool beginFailed = false;
    };
    void BuildForm();
    void ReplaceEngine(int row);
    void RetireEngine(int row);
    void OpenAndStart(int row);
    void OnRowIdle(int row);
    void RefuseStart(int row, const ImageCheck& problem);
    // Only approved images: begins the check of the image in use (never waits).
    void CheckImageApproval();
    // Carries the steps out. State words are translated; a message is translated when
    // `ownMessage` (the view's own text; `percent` >= 0 for "Downloading : %d %").
    void Apply(const station::Steps& steps, bool ownMessage = false, int percent = -1);
    // The row's run has ended with `code`: label, sound, continuous re-arm. `started` false:
    // the port never opened, and the row ends as a failed run all the same.
    void RunEnded(int row, int code, bool started = true);
    void ShowRunEndedAlone(station::ReportGate::Ticket ticket, int port);
    // The answer of the wait for a run's RUNNING record (station/RowRecording.h).
    void RunBegun(int row, station::ReportGate::Ticket ticket, bool ok, const std::string& error);
    // Settings the administrator's file sets: their buttons are disabled (station/SettingsLocks.h).
    void ApplyAdministratorLocks();
    // What continuous runs do with the rows (station/ContinuousMode.h).
    CContinuousMode::Rows ContinuousRows();
    CLabel* LabelFor(station::Field field, int row) const;
    bool IsCurrent(int port, station::ReportGate::Ticket ticket) const;
    void ShowStatus(station::ReportGate::Ticket ticket, const CReportHandOff::Status& report);
    void ShowProgress(station::ReportGate::Ticket ticket, const ProgressReport& report);
    void Warn(const QString& text);

    ViewOptions m_options;
    LogTraceSink m_trace;
    station::ReportGate m_gate;
    // The reports' way from the engines' workers to the GUI thread (after the gate it uses).
    std::unique_ptr<CReportHandOff> m_handOff;
    std::array<Row, station::kRows> m_rows;
    std::array<QBasicTimer, station::kRows + 2> m_timers;  // index = timer id (1..9)
    // The pause after a start (ViewOptions::startPause) and the rows waiting for it to end.
    std::unique_ptr<CStartPause> m_starts;
    // Only approved images (station/ImageApproval.h).
    std::unique_ptr<CImageApproval> m_approval;
    std::string m_imagePath;
    // Why the last main software choice failed; empty after a good one.
    QString m_choiceFailure;
    std::string m_clockText;
    CLabel* m_clock = nullptr;
    CLabel* m_pathLine = nullptr;
    std::array<CRoundButton*, 4> m_buttons{};
    // The status server ("Status"/"Listen"); after the record, whose recorder feeds its model.
    std::unique_ptr<CStationStatus> m_status;
    void StartStatusServer();
    // After the rows: destroyed before them, when the destructor has destroyed every engine.
    std::unique_ptr<CStationRecord> m_record;
    // The record hooks around the rows' runs; after the record it waits on.
    std::unique_ptr<CRowRecording> m_recording;
    void OnRunRecorded(int port);
    void ShowRecordCounts(int row);
    // Form texts and the source each was made from.
    std::vector<std::pair<QWidget*, const char*>> m_formTexts;
    // The engineer PIN and the administrator's locks.
    CSettingsLocks m_locks;
    std::unique_ptr<CStationSound> m_sound;
    std::unique_ptr<CContinuousMode> m_continuous;
    // The rows' unit labels and the row selected for the next one.
    CUnitLabelRows m_units;
    // Keys typed or scanned into the window, made into unit labels.
    std::unique_ptr<CScannerInput> m_scanner;
    std::atomic<bool> m_closing{false};
    // Last among the members: its threads are joined before anything an engine points to goes.
    station::Reaper m_reaper;
};

}  // namespace tarvo
