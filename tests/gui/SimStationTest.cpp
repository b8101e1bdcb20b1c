// The station window driving a simulated handset: a click on row 1's state field runs the
// whole download, and a faulty handset ends the row in ERROR.
#include <QFileInfo>
#include <QProcess>
#include <QProgressBar>
#include <QTimer>

#include "controls/Label.h"
#include "engine/Clock.h"
#include "engine/WinMonitorCtrl.h"
#include "station/RowLogic.h"
#include "serial/Comm.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/SimHandset.h"

#ifdef TARVO_TARGET_SIM_PATH

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;
namespace colour = station::colour;

struct Observed {
    QStringList states;    // each state word once, in the order first seen
    QStringList messages;  // likewise for the message texts (progress texts collapsed)
    int barValues = 0;     // distinct bar positions seen during DOWNLOAD
};

// Runs the GUI until row 1 shows `final` (or the time is up), noting what it showed.
Observed Watch(CTarvoView& view, const QString& final, std::chrono::milliseconds limit)
{
    Observed seen;
    QSet<int> values;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (bool first = true; std::chrono::steady_clock::now() < deadline; first = false) {
        if (!first)
            QTest::qWait(2);
        const QString state = view.StateField(1)->Text();
        QString message = view.MessageField(1)->Text();
        if (message.startsWith(QStringLiteral("Downloading : ")))
            message = QStringLiteral("Downloading : ...");
        if (seen.states.isEmpty() || seen.states.back() != state)
            seen.states << state;
        if (seen.messages.isEmpty() || seen.messages.back() != message)
            seen.messages << message;
        if (state == QStringLiteral("DOWNLOAD"))
            values.insert(view.ProgressBar(1)->value());
        if (state == final)
            break;
    }
    seen.barValues = static_cast<int>(values.size());
    return seen;
}

class SimulatedStation : public GuiTest {
protected:
    void SetUp() override
    {
        profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 1);
        m_main = m_folder.filePath(QStringLiteral("phone.m0"));
        // 40 image blocks of 256 bytes: a bar that moves in steps.
        ASSERT_TRUE(WriteMainSoftware(m_main, 640, 16));
        m_test.chosen = m_main;
    }

    std::unique_ptr<CTarvoView> MakeView(const QString& device)
    {
        profile::SetDeviceFor(5, device);
        ViewOptions options = m_test.Make();
        options.clock = &m_clock;
        auto view = std::make_unique<CTarvoView>(nullptr, options);
        view->OnInitialUpdate();
        view->show();
        return view;
    }

    // The engine's pauses and time-outs run ten times faster; the handset's delays stay real,
    // all far inside the shortened time-outs.
    ScaledClock m_clock{10.0};
    QTemporaryDir m_folder;
    QString m_main;
    TestOptions m_test;
};

TEST_F(SimulatedStation, ClickOnRowOneRunsTheDownloadToComplete)
{
    SimulatedHandset handset({QStringLiteral("--fault"), QStringLiteral("ack-delay=15")});
    ASSERT_TRUE(handset.WaitReady());
    auto view = MakeView(handset.Link());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    ASSERT_FALSE(view->ImagePath().empty());

    QTest::mouseClick(view->StateField(1), Qt::LeftButton);
    EXPECT_EQ(view->StateField(1)->Text(), QStringLiteral("READY"));
    EXPECT_EQ(view->MessageField(1)->Text(), QStringLiteral("INSERT TARGET"));
    const Observed seen = Watch(*view, QStringLiteral("COMPLETE"), 20s);

    EXPECT_EQ(seen.states, (QStringList{QStringLiteral("READY"), QStringLiteral("ERASE"), QStringLiteral("DOWNLOAD"),
                                        QStringLiteral("COMPLETE")}));
    EXPECT_TRUE(seen.messages.contains(QStringLiteral("Erasing...")));
    EXPECT_TRUE(seen.messages.contains(QStringLiteral("Downloading : ...")));
    EXPECT_GE(seen.barValues, 3);
    EXPECT_TRUE(view->MessageField(1)->Text().startsWith(QStringLiteral("PASS - Checksum: ["))) << view->MessageField(1)->Text().toStdString();
    EXPECT_EQ(view->MessageField(1)->BkColor(), colour::kGreen);
    EXPECT_EQ(view->MessageField(1)->TextColor(), colour::kNearBlack);
    EXPECT_EQ(view->StateField(1)->BkColor(), colour::kGreen);
    EXPECT_FALSE(view->IsTimerActive(2));
    EXPECT_EQ(view->ProgressBar(1)->value(), view->ProgressBar(1)->maximum());
}

TEST_F(SimulatedStation, WrongFinalChecksumsEndInErrorOnRed)
{
    SimulatedHandset handset({QStringLiteral("--fault"), QStringLiteral("final-sums=1234:5678")});
    ASSERT_TRUE(handset.WaitReady());
    auto view = MakeView(handset.Link());
    QTest::mouseClick(view->StateField(1), Qt::LeftButton);
    Watch(*view, QStringLiteral("ERROR"), 20s);
    EXPECT_EQ(view->StateField(1)->Text(), QStringLiteral("ERROR"));
    EXPECT_EQ(view->StateField(1)->BkColor(), colour::kRed);
    EXPECT_EQ(view->StateField(1)->TextColor(), colour::kNearBlack);
    EXPECT_EQ(view->MessageField(1)->Text(), QStringLiteral("FAIL - Checksum: [1234,5678]"));
    EXPECT_EQ(view->MessageField(1)->BkColor(), colour::kNearBlack);
    EXPECT_FALSE(view->IsTimerActive(2));
}

TEST_F(SimulatedStation, ClosingOrRestartingDuringADownloadReturnsPromptly)
{
    SimulatedHandset handset({QStringLiteral("--fault"), QStringLiteral("ack-delay=150")});
    ASSERT_TRUE(handset.WaitReady());
    auto view = MakeView(handset.Link());
    QTest::mouseClick(view->StateField(1), Qt::LeftButton);
    Watch(*view, QStringLiteral("DOWNLOAD"), 20s);
    ASSERT_EQ(view->StateField(1)->Text(), QStringLiteral("DOWNLOAD"));
    QTest::qWait(200);

    // Restarting the row replaces the engine in the middle of its download.
    auto start = std::chrono::steady_clock::now();
    view->StartPort(1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(view->StateField(1)->Text(), QStringLiteral("READY"));
    EXPECT_TRUE(view->IsTimerActive(2));  // the row's blink timer keeps running

    // The handset, left in the middle of an image block, does not start over; close the
    // window with the new engine on the row.
    QTest::qWait(300);
    start = std::chrono::steady_clock::now();
    view.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

// Ticks on the GUI thread as often as it can (every 2 ms) and keeps the longest gap between
// two ticks: how long the window could not respond.
class Heartbeat {
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = std::chrono::steady_clock::now();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        Reset();
        m_timer.start(2);
    }
    void Reset()
    {
        m_last = std::chrono::steady_clock::now();
        m_longest = {};
    }
    std::chrono::milliseconds Longest() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_longest);
    }

private:
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_last;
    std::chrono::steady_clock::duration m_longest{};
};

// Eight handsets that never confirm the erase: every row waits in the erase (70 s, here 7 s).
class ErasingStation : public SimulatedStation {
protected:
    void SetUp() override
    {
        SimulatedStation::SetUp();
        for (int n = 1; n <= 8; ++n)
            profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), 1);
        for (int n = 0; n < 8; ++n) {
            m_handsets.push_back(std::make_unique<SimulatedHandset>(
                QStringList{QStringLiteral("--fault"), QStringLiteral("erase-unconfirmed")}));
        }
        for (int n = 0; n < 8; ++n) {
            ASSERT_TRUE(m_handsets[n]->WaitReady());
            profile::SetDeviceFor(5 + n, m_handsets[n]->Link());
        }
        ViewOptions options = m_test.Make();
        options.clock = &m_clock;
        m_view = std::make_unique<CTarvoView>(nullptr, options);
        m_view->OnInitialUpdate();
        m_view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view.get()));
    }
    // Starts `rows` and waits until each shows "ERASE".
    bool StartErasing(const std::vector<int>& rows)
    {
        for (int row : rows)
            QTest::mouseClick(m_view->StateField(row), Qt::LeftButton);
        return QTest::qWaitFor([&] {
            for (int row : rows) {
                if (m_view->StateField(row)->Text() != QStringLiteral("ERASE"))
                    return false;
            }
            return true;
        }, 10000);
    }
    // True when the device of every row can be opened again (no engine holds it).
    bool EveryDeviceFree() const
    {
        for (const auto& handset : m_handsets) {
            CComm probe;
            if (!probe.OpenDevice(QFile::encodeName(handset->Link()).toStdString(), 115200))
                return false;
            probe.Close();
        }
        return true;
    }

    std::vector<std::unique_ptr<SimulatedHandset>> m_handsets;
    std::unique_ptr<CTarvoView> m_view;
};

// A click on a row whose handset is erasing replaces its engine without freezing the window:
// the old engine is stopped and destroyed off the GUI thread, and the new one opens the device
// as soon as the old one let it go.
TEST_F(ErasingStation, RestartingARowMidEraseKeepsTheWindowResponsive)
{
    ASSERT_TRUE(StartErasing({1, 2}));
    QTest::qWait(100);
    Heartbeat heartbeat;
    QTest::qWait(50);
    heartbeat.Reset();
    const auto start = std::chrono::steady_clock::now();
    QTest::mouseClick(m_view->StateField(1), Qt::LeftButton);
    const auto click = std::chrono::steady_clock::now() - start;
    // The old engine let the device go at once: the new one has it open already.
    EXPECT_EQ(m_view->StateField(1)->Text(), QStringLiteral("READY"));
    EXPECT_EQ(m_view->MessageField(1)->Text(), QStringLiteral("INSERT TARGET"));
    EXPECT_FALSE(m_view->OpenPending(1));
    EXPECT_TRUE(m_view->Engine(1).Comm().IsRunning());
    // The handset answers the new engine, which takes the row on to the erase again.
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_view->StateField(1)->Text() == QStringLiteral("ERASE"); }, 5000));
    QTest::qWait(100);
    const auto longest = heartbeat.Longest();
    std::printf("[ measured ] row restart mid-erase: click handled in %lld ms, longest GUI stall %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(click).count()),
                static_cast<long long>(longest.count()));
    EXPECT_LT(longest, 100ms);
    EXPECT_EQ(m_view->StateField(2)->Text(), QStringLiteral("ERASE"));  // the other row goes on
}

// Closing the window while eight rows erase ends within 1 s, with every device released.
TEST_F(ErasingStation, ClosingWithEightRowsMidEraseEndsWithinOneSecondAndFreesEveryDevice)
{
    ASSERT_TRUE(StartErasing({1, 2, 3, 4, 5, 6, 7, 8}));
    QTest::qWait(200);
    const auto start = std::chrono::steady_clock::now();
    m_view.reset();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("[ measured ] window close with eight rows mid-erase: GUI thread held %lld ms\n",
                static_cast<long long>(took.count()));
    EXPECT_LT(took, 1000ms);
    EXPECT_TRUE(EveryDeviceFree());
}

}  // namespace
}  // namespace tarvo::test

#endif  // TARVO_TARGET_SIM_PATH
