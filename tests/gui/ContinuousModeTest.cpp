// Continuous runs' decision which rows start, without the window: real device watches on files
// standing in for the devices, and rows that only count what they are asked to do.
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

#include "GuiTestSupport.h"
#include "station/ContinuousMode.h"

namespace tarvo {
namespace {

class ContinuousRows : public test::GuiTest {
protected:
    ContinuousRows()
    {
        m_device = m_profile.Home().path() + QStringLiteral("/handset1");
        m_other = m_profile.Home().path() + QStringLiteral("/handset1b");
        profile::SetDeviceFor(station::PortForRow(1), m_device);
        // Only row 1 takes part; the other rows' default devices are never there.
        for (int r = 2; r <= station::kRows; ++r)
            profile::SetDeviceFor(station::PortForRow(r), m_profile.Home().path() + QStringLiteral("/none%1").arg(r));
    }

    CContinuousMode::Rows Rows()
    {
        CContinuousMode::Rows rows;
        rows.enabled = [](int r) { return r == 1; };
        rows.runEnded = [this](int) { return !m_running; };
        rows.start = [this](int r) {
            m_started.push_back(r);
            m_running = true;
            m_mode->RowStarted(r);
        };
        rows.close = [this](int) { ++m_closed; };
        rows.absent = [this](int, const QString&) { ++m_absent; };
        rows.presentAtStart = [this](int, const QString&) { ++m_presentAtStart; };
        return rows;
    }
    void EndRun()
    {
        m_running = false;
        m_mode->RunEnded(1);
    }
    static void Plug(const QString& path)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    QString m_device, m_other;
    CContinuousMode* m_mode = nullptr;
    std::vector<int> m_started;
    bool m_running = false;
    int m_closed = 0, m_absent = 0, m_presentAtStart = 0;
};

TEST_F(ContinuousRows, EachPlugIsFlashedOnceAlsoWhenTheWatchIsRenewed)
{
    Plug(m_device);
    CContinuousMode mode(Rows());
    m_mode = &mode;
    mode.SetOn(true);
    EXPECT_EQ(profile::ReadInt("Station", QStringLiteral("Continuous"), 0), 1);
    // Plugged before watching began: it waits for a click or a replug.
    EXPECT_EQ(m_presentAtStart, 1);
    EXPECT_TRUE(m_started.empty());

    // Unplugged and plugged again: a new handset, started by itself.
    ASSERT_TRUE(QFile::remove(m_device));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_absent > 0; }, 5000)) << "the row shows it waits for a device";
    Plug(m_device);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_started.size() == 1; }, 5000));

    // Its run ends: the device is closed, and the handset that stays is not flashed again,
    // neither now nor when the watch is renewed (the port settings applied again).
    EndRun();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_closed == 1; }, 5000));
    mode.Watch();
    QTest::qWait(100);
    EXPECT_EQ(m_started.size(), 1U);
    EXPECT_EQ(m_presentAtStart, 1) << "a renewed watch is no new start of the station";

    // The row's device is now another path with a handset on it: that one is new.
    Plug(m_other);
    profile::SetDeviceFor(station::PortForRow(1), m_other);
    mode.Watch();
    EXPECT_EQ(m_started.size(), 2U);

    // Its run never began (the record could not be written): once retried it starts again.
    m_running = false;
    mode.Retry(1);
    mode.DevicesChanged();
    EXPECT_EQ(m_started.size(), 3U);

    // Off: nothing is watched and no plug starts the row.
    m_running = false;
    mode.SetOn(false);
    EXPECT_EQ(profile::ReadInt("Station", QStringLiteral("Continuous"), 1), 0);
    ASSERT_TRUE(QFile::remove(m_other));
    Plug(m_other);
    QTest::qWait(100);
    EXPECT_EQ(m_started.size(), 3U);
}

}  // namespace
}  // namespace tarvo
