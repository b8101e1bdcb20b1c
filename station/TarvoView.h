// CTarvoView: the station form. Eight port rows (port number, message field, state field,
// progress bar), the clock, the path line of the download image and four buttons.
//
// The view owns one port engine per row, created with the view and replaced by StartPort
// (a click on the row's enabled state field). It receives the engines' reports as their
// IReportSink and shows them through the row logic (station/RowLogic.h), which decides every
// text, colour, bar setting and timer; the view only carries the steps out.
//
// Reports and threads: the engines call OnPortStatus/OnPortProgress on their worker threads.
// The view copies the report (text included), queues its handling to the GUI thread and makes
// the worker wait until it ran, so the worker goes on only after the view has shown the
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
// A row is armed only with a usable download image: a click while none is chosen, while the
// chosen one is missing, empty or not an image, shows why in the row and in the status bar
// and opens nothing.
//
// Threading: everything but the IReportSink calls and the reaper's callback runs on the GUI
// thread.
#pragma once

#include <QBasicTimer>
#include <QString>
#include <QWidget>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "engine/ReportSink.h"
#include "serial/PortDirectory.h"
#include "station/Reaper.h"
#include "station/ReportGate.h"
#include "station/RowLogic.h"
#include "station/TraceLog.h"

class QLabel;
class QProgressBar;

namespace tarvo {

class CComPortSet;
class CLabel;
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
    // The pause after a port was started.
    std::chrono::milliseconds startPause{station::kStartPauseMs};
    // Shows a warning the operator must acknowledge (a profile that cannot be read). Empty
    // function: a modal message box.
    std::function<void(QWidget* owner, const QString& text)> warn;
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

    // IReportSink: called on engine worker threads.
    void OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report) override;
    void OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report) override;
    void ReleaseEngine(const CWinMonitorCtrl& engine) override;

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
    struct ImageCheck {
        QString brief;
        QString detail;
    };
    ImageCheck CheckImage() const;

    // The longest the GUI thread waits for a replaced engine before it leaves the opening of
    // the port to the reaper's notice.
    static constexpr std::chrono::milliseconds kRetireWait{50};

signals:
    // Asks the frame to fit itself to the form (start-up).
    void fitFrameRequested();
    // A message for the status bar; empty clears it.
    void statusMessage(const QString& text);
    // A problem the status bar keeps showing until it is cleared (empty text).
    void statusProblem(const QString& text);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct Row {
        // Declared before the engine: the engine's channel keeps a pointer to it.
        std::unique_ptr<MapPortDirectory> ports;
        std::unique_ptr<CWinMonitorCtrl> engine;
        station::ReportGate::Ticket ticket = station::ReportGate::kNoTicket;
        int enabled = 0;
        bool openPending = false;
        QLabel* portField = nullptr;
        CLabel* message = nullptr;
        CLabel* state = nullptr;
        QProgressBar* progress = nullptr;
    };
    struct StatusValue {
        int port;
        int code;
        std::string text;
        std::string reason;
    };

    void BuildForm();
    void ReplaceEngine(int row);
    void RetireEngine(int row);
    void OpenAndStart(int row);
    void OnRowIdle(int row);
    void RefuseStart(int row, const ImageCheck& problem);
    void Apply(const station::Steps& steps);
    CLabel* LabelFor(station::Field field, int row) const;
    bool IsCurrent(int port, station::ReportGate::Ticket ticket) const;
    void ShowStatus(station::ReportGate::Ticket ticket, const StatusValue& report);
    void ShowProgress(station::ReportGate::Ticket ticket, const ProgressReport& report);
    QString RunFileDialog();
    void Warn(const QString& text);

    ViewOptions m_options;
    LogTraceSink m_trace;
    station::ReportGate m_gate;
    std::array<Row, station::kRows> m_rows;
    std::array<QBasicTimer, station::kRows + 2> m_timers;  // index = timer id (1..9)
    std::string m_imagePath;
    // Why the last main software choice failed; empty after a good one.
    QString m_choiceFailure;
    std::string m_clockText;
    CLabel* m_clock = nullptr;
    CLabel* m_pathLine = nullptr;
    std::array<CRoundButton*, 4> m_buttons{};
    std::atomic<bool> m_closing{false};
    // Last among the members: its threads are joined before anything an engine points to goes.
    station::Reaper m_reaper;
};

}  // namespace tarvo
