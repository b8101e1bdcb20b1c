// CContinuousMode: continuous runs of the station window (profile "Station"/"Continuous").
// While on, every enabled row waits for its device and starts itself when one is plugged in;
// when the row's run has ended its device is closed, and the row starts again only once the
// device has gone and come back. So each handset is flashed once per plug:
//   - a device already there when watching begins (the station starts, continuous runs are
//     switched on) waits for a click or a replug;
//   - a device that has had its run (started by a click or by itself) is not started again
//     while it stays, also not when the watch is renewed for changed port settings;
//   - a device whose run never began (its first record could not be written) counts as not
//     flashed: Retry lets it start once the record works again.
// A row without its device is shown waiting (which is no error).
//
// The devices are the profile's device of each row's port (its default path when none is set),
// watched by serial/DeviceWatcher.h: inotify, no polling. Which rows take part and whether they
// are busy, and what starting, closing and showing a row means, the window tells through Rows.
//
// Threading: construct, call and destroy on the GUI thread; every Rows function is called on it.
// The watcher's thread only queues a look at the devices to the GUI thread.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "station/RowLogic.h"

namespace tarvo {

class DeviceWatcher;

class CContinuousMode : public QObject {
    Q_OBJECT
public:
    // The window's rows (1..8).
    struct Rows {
        std::function<bool(int row)> enabled;   // the row takes part (its flag is 1)
        std::function<bool(int row)> runEnded;  // no run in progress on the row
        std::function<void(int row)> start;     // starts the row's run, as a click does
        std::function<void(int row)> close;     // frees the row's device (an unopened engine)
        // The row's `device` is absent: show the row waiting for it (called again on every
        // look while it stays absent).
        std::function<void(int row, const QString& device)> absent;
        // The row's `device` was there when watching began: show that it waits for a click.
        std::function<void(int row, const QString& device)> presentAtStart;
    };

    // Reads the switch from the profile; watches nothing before Watch().
    explicit CContinuousMode(Rows rows);
    ~CContinuousMode() override;

    bool On() const { return m_on; }
    // Switches continuous runs and keeps the choice in the profile: on watches the devices at
    // once, off stops watching. A lock of the administrator's file is the caller's to check.
    void SetOn(bool on);
    // When on: watches the rows' devices as the profile names them now, then looks at them.
    void Watch();
    // Watches no more: no device change starts a row from here on (the window closes).
    void Stop();
    // Starts every idle enabled row whose device is new and shows the absent ones waiting.
    void DevicesChanged();
    // A run was started on `row`: its device has had its run, click or not.
    void RowStarted(int row);
    // The run on `row` has ended: when on, its device is closed once the report in hand has
    // been handled (queued), and the row waits for the next device.
    void RunEnded(int row);
    // The run started on `row` never began: its device counts as not flashed.
    void Retry(int row) { m_rows[row - 1].flashedGeneration = 0; }

    static constexpr char kSection[] = "Station";
    static constexpr char kKey[] = "Continuous";

signals:
    void statusMessage(const QString& text);

private:
    void CloseFinishedRun(int row);

    struct Row {
        int watch = -1;                 // the row's entry in the watcher
        QString device;                 // the device it watches
        uint64_t flashedGeneration = 0;  // the device generation of the last run started
    };
    Rows m_do;
    bool m_on = false;
    std::array<Row, station::kRows> m_rows{};
    std::unique_ptr<DeviceWatcher> m_watcher;
};

}  // namespace tarvo
