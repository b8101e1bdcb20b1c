// The station window driving a simulated handset: a click on row 1's state field runs the
// whole download, and a faulty handset ends the row in ERROR.
#include <QFileInfo>
#include <QProcess>
#include <QProgressBar>

#include "controls/Label.h"
#include "engine/Clock.h"
#include "engine/WinMonitorCtrl.h"
#include "station/RowLogic.h"
#include "tests/gui/GuiTestSupport.h"

#ifdef TARVO_TARGET_SIM_PATH

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;
namespace colour = station::colour;

// tarvo-target-sim as a child process, reachable through a link in a temporary folder.
class SimulatedHandset {
public:
    explicit SimulatedHandset(QStringList extra)
    {
        m_link = m_folder.filePath(QStringLiteral("handset"));
        QStringList args{QStringLiteral("--flashloader"), QStringLiteral("1.2.5"), QStringLiteral("--link"), m_link,
                         QStringLiteral("--erase-ms"), QStringLiteral("300")};
        args += extra;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(TARVO_TARGET_SIM_PATH), args);
    }
    ~SimulatedHandset()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool WaitReady()
    {
        return m_process.waitForStarted(5000) &&
               QTest::qWaitFor([&] { return QFileInfo::exists(m_link); }, 5000);
    }
    const QString& Link() const { return m_link; }

private:
    QTemporaryDir m_folder;
    QString m_link;
    QProcess m_process;
};

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

    // The same handset starts over on the new engine; close the window while it downloads.
    Watch(*view, QStringLiteral("DOWNLOAD"), 20s);
    start = std::chrono::steady_clock::now();
    view.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

}  // namespace
}  // namespace tarvo::test

#endif  // TARVO_TARGET_SIM_PATH
