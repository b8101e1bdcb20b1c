// CRowRecording: the window's record hooks around a row's run (the record itself is
// station/StationRecord.h).
//
// No record, no run: a row's port opens only once its run's RUNNING record is durable. Begin()
// waits for that on a thread of its own (CStationRecord::WaitBegun) and hands the answer to
// `begun` on the GUI thread, exactly once per Begin(): at once when the record was written
// within the GUI thread's short wait, else when it is (or when the journal gives up, with the
// reason). The write normally takes milliseconds, so the GUI thread waits a moment for it;
// rows started together (eight handsets plugged at once) share that moment: what the GUI thread
// spends on the waits within kBeginWindow stays below kBeginWait. A journal that is locked or
// slow therefore never holds the window.
//
// The texts of the station's counts since start-up (the status bar's totals and a row's
// tooltip) come from here too.
//
// Threading: construct, call and destroy on the GUI thread; `begun` runs on it. The waiting
// threads only call CStationRecord::WaitBegun and queue the answer. Stop() (and the destructor)
// joins them; no answer comes after it, so the engines they wait for may then go.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "station/ReportGate.h"

namespace tarvo {

class CStationRecord;
class CWinMonitorCtrl;

class CRowRecording : public QObject {
    Q_OBJECT
public:
    // The answer for the run of `row` begun with `ticket`: `ok`, or the reason it failed.
    using Begun = std::function<void(int row, station::ReportGate::Ticket ticket, bool ok, const std::string& error)>;

    // `record` outlives this object.
    CRowRecording(CStationRecord& record, Begun begun);
    ~CRowRecording() override;

    // Waits for the RUNNING record of the run just submitted for `engine` on `row`; `ticket`
    // names that run in the answer. `engine` stays until Stop() or the answer.
    void Begin(int row, station::ReportGate::Ticket ticket, const CWinMonitorCtrl& engine);
    // Joins every wait; no answer comes after it.
    void Stop();

    // "Runs N  PASS N  FAIL N  ERROR N" of the station since start-up.
    QString TotalsText() const;
    // The PASS and FAIL counts of `port` since start-up.
    QString CountsTip(int port) const;

    static constexpr std::chrono::milliseconds kBeginWait{40};
    static constexpr std::chrono::milliseconds kBeginWindow{200};

private:
    struct State {
        std::mutex mutex;
        std::condition_variable answered;
        std::atomic<bool> done{false};
        std::atomic<bool> handled{false};
        bool ok = false;
        std::string error;
    };
    struct Wait {
        std::thread thread;
        std::shared_ptr<State> state;
    };
    void Answer(int row, station::ReportGate::Ticket ticket, State& state);

    CStationRecord& m_record;
    Begun m_begun;
    std::vector<Wait> m_waits;
    std::atomic<bool> m_stopping{false};
    QElapsedTimer m_window;
    qint64 m_spentMs = 0;
};

}  // namespace tarvo
