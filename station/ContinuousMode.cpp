#include "station/ContinuousMode.h"

#include <QFile>
#include <QMetaObject>
#include <QTimer>
#include <utility>

#include "serial/DeviceWatcher.h"
#include "serial/PortDirectory.h"
#include "station/Profile.h"

namespace tarvo {

CContinuousMode::CContinuousMode(Rows rows) : m_do(std::move(rows))
{
    m_on = profile::ReadInt(kSection, QString::fromLatin1(kKey), 0) == 1;
}

CContinuousMode::~CContinuousMode() = default;

void CContinuousMode::SetOn(bool on)
{
    m_on = on;
    profile::WriteInt(kSection, QString::fromLatin1(kKey), on ? 1 : 0);
    if (on)
        Watch();
    else
        m_watcher.reset();
}

void CContinuousMode::Stop() { m_watcher.reset(); }

void CContinuousMode::Watch()
{
    if (!m_on)
        return;
    // Rows whose device stays the same keep what they know: a device that has had its run
    // and is still there is not flashed again because the watch was renewed.
    // Devices already there when watching begins (the station starts, continuous runs are
    // switched on) wait for a click or a replug: only a device that appears while the station
    // runs is flashed by itself.
    const bool fresh = !m_watcher;
    std::array<bool, station::kRows> stayed{};
    for (int r = 1; r <= station::kRows; ++r) {
        const Row& row = m_rows[r - 1];
        stayed[r - 1] = m_watcher && row.watch >= 0 && m_watcher->Present(row.watch) &&
                        m_watcher->Generation(row.watch) == row.flashedGeneration;
    }
    m_watcher.reset();
    auto watcher = std::make_unique<DeviceWatcher>(
        [this] { QMetaObject::invokeMethod(this, [this] { DevicesChanged(); }, Qt::QueuedConnection); });
    for (int r = 1; r <= station::kRows; ++r) {
        Row& row = m_rows[r - 1];
        const int port = station::PortForRow(r);
        QString device = profile::DeviceFor(port);
        if (device.isEmpty())
            device = QString::fromStdString(DefaultDevicePath(port));
        const bool same = device == row.device;
        row.device = device;
        row.watch = watcher->Watch(QFile::encodeName(device).toStdString());
        row.flashedGeneration = same && stayed[r - 1] ? watcher->Generation(row.watch) : 0;
    }
    std::string error;
    if (!watcher->Start(error)) {
        emit statusMessage(QString::fromStdString(error));
        return;
    }
    m_watcher = std::move(watcher);
    if (fresh) {
        for (int r = 1; r <= station::kRows; ++r) {
            Row& row = m_rows[r - 1];
            if (!m_do.enabled(r) || !m_do.runEnded(r) || row.watch < 0 || !m_watcher->Present(row.watch))
                continue;
            row.flashedGeneration = m_watcher->Generation(row.watch);
            m_do.presentAtStart(r, row.device);
        }
    }
    DevicesChanged();
}

void CContinuousMode::DevicesChanged()
{
    if (!m_on || !m_watcher)
        return;
    for (int r = 1; r <= station::kRows; ++r) {
        const Row& row = m_rows[r - 1];
        if (!m_do.enabled(r) || !m_do.runEnded(r) || row.watch < 0)
            continue;
        const bool present = m_watcher->Present(row.watch);
        if (present && m_watcher->Generation(row.watch) != row.flashedGeneration)
            m_do.start(r);
        else if (!present)
            m_do.absent(r, row.device);
    }
}

void CContinuousMode::RowStarted(int r)
{
    Row& row = m_rows[r - 1];
    if (m_watcher && row.watch >= 0)
        row.flashedGeneration = m_watcher->Generation(row.watch);
}

void CContinuousMode::RunEnded(int r)
{
    // The device is closed once the report that ended the run has been handled.
    if (m_on)
        QTimer::singleShot(0, this, [this, r] { CloseFinishedRun(r); });
}

void CContinuousMode::CloseFinishedRun(int r)
{
    if (!m_on || !m_do.runEnded(r))
        return;
    // A fresh, unopened engine in place of the finished one: the device is closed until the
    // next handset.
    m_do.close(r);
    DevicesChanged();
}

}  // namespace tarvo
