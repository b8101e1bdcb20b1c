// The station form: port starts, reports delivered from worker threads, timers and blinking.
#include <QProgressBar>
#include <QSignalSpy>

#include "controls/Label.h"
#include "controls/RoundButton.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "resources/Forms.h"
#include "station/RowLogic.h"
#include "serial/Comm.h"
#include "support/Pty.h"
#include "tests/gui/GuiTestSupport.h"

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;
namespace colour = station::colour;

// Waits for `count` reports to be queued without running the GUI thread's events (which
// would handle them).
bool WaitPending(const CTarvoView& view, std::size_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (view.PendingReports() != count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(2ms);
    return view.PendingReports() == count;
}

class StationView : public GuiTest {
protected:
    void SetUp() override
    {
        for (int n = 1; n <= 8; ++n)
            profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), 1);
        // No row has a working device unless a test gives it one.
        for (int port = 5; port <= 12; ++port)
            profile::SetDeviceFor(port, m_profile.Home().filePath(QStringLiteral("no-tty-%1").arg(port)));
        // A good image, chosen at start-up: rows can be armed.
        m_test.chosen = m_folder.filePath(QStringLiteral("phone.m0"));
        ASSERT_TRUE(WriteMainSoftware(m_test.chosen));
        m_view = std::make_unique<CTarvoView>(nullptr, m_test.Make());
        m_view->OnInitialUpdate();
        m_view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view.get()));
    }
    void TearDown() override { m_view.reset(); }

    void Status(int row, int port, int code, const char* text)
    {
        const CWinMonitorCtrl& engine = m_view->Engine(row);
        ASSERT_TRUE(DeliverFromWorker([&] { m_view->OnPortStatus(engine, StatusReport{port, code, text}); }));
    }
    void Progress(int row, int percent, int position, int size)
    {
        const CWinMonitorCtrl& engine = m_view->Engine(row);
        const int port = row + 4;
        ASSERT_TRUE(DeliverFromWorker(
            [&] { m_view->OnPortProgress(engine, ProgressReport{port, percent, position, size}); }));
    }

    QTemporaryDir m_folder;
    TestOptions m_test;
    std::unique_ptr<CTarvoView> m_view;
};

TEST_F(StationView, StartUpShowsEveryRowClosedAndNoPortOpen)
{
    for (int row = 1; row <= 8; ++row) {
        EXPECT_EQ(m_view->StateField(row)->Text(), QStringLiteral("CLOSE"));
        EXPECT_EQ(m_view->StateField(row)->TextColor(), colour::kRed);
        EXPECT_EQ(m_view->StateField(row)->BkColor(), colour::kLightGrey);
        EXPECT_EQ(m_view->MessageField(row)->FontHeight(), -12);
        EXPECT_EQ(m_view->ProgressBar(row)->value(), 0);
        EXPECT_FALSE(m_view->Engine(row).Comm().IsRunning());
    }
    EXPECT_TRUE(m_view->IsTimerActive(station::kClockTimerId));
    EXPECT_EQ(m_view->PathLine()->TextColor(), colour::kMagenta);
    EXPECT_EQ(m_view->PathLine()->FontWeight(), 700);
    // The controls carry their form ids.
    EXPECT_EQ(m_view->findChild<CLabel*>(QStringLiteral("1051")), m_view->StateField(3));
    EXPECT_EQ(m_view->findChild<CLabel*>(QStringLiteral("1022")), m_view->MessageField(3));
    EXPECT_FALSE(m_view->Button(forms::kIdOpenCloseAll)->isEnabled());
}

TEST_F(StationView, ClockShowsDateAndTime)
{
    m_view->OnTimer(station::kClockTimerId);
    const QString clock = m_view->ClockField()->Text();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d, \\d\\d:\\d\\d:\\d\\d$")).match(clock).hasMatch())
        << clock.toStdString();
}

TEST_F(StationView, FailedOpenShowsRedMessageWithTheReasonAndTheFailuresState)
{
    QSignalSpy messages(m_view.get(), &CTarvoView::statusMessage);
    QTest::mouseClick(m_view->StateField(2), Qt::LeftButton);
    EXPECT_EQ(m_view->MessageField(2)->Text(), QStringLiteral("Serial Port Open Failed..."));
    EXPECT_EQ(m_view->MessageField(2)->TextColor(), colour::kRed);
    EXPECT_EQ(m_view->MessageField(2)->BkColor(), colour::kNearBlack);
    EXPECT_EQ(m_view->StateField(2)->Text(), QStringLiteral("ERROR"));
    EXPECT_EQ(m_view->StateField(2)->BkColor(), colour::kRed);
    EXPECT_TRUE(m_view->MessageField(2)->toolTip().contains(QStringLiteral("no-tty-6")));
    ASSERT_EQ(messages.count(), 1);
    EXPECT_TRUE(messages.at(0).at(0).toString().startsWith(QStringLiteral("COM6")));

    // With a device that opens, the row gets ready and the message green again.
    Pty pty;
    ASSERT_TRUE(pty.ok());
    profile::SetDeviceFor(6, QString::fromStdString(pty.SlavePath()));
    QTest::mouseClick(m_view->StateField(2), Qt::LeftButton);
    EXPECT_EQ(m_view->StateField(2)->Text(), QStringLiteral("READY"));
    EXPECT_EQ(m_view->StateField(2)->BkColor(), colour::kGreen);
    EXPECT_EQ(m_view->MessageField(2)->Text(), QStringLiteral("INSERT TARGET"));
    EXPECT_EQ(m_view->MessageField(2)->TextColor(), colour::kGreen);
    EXPECT_TRUE(m_view->Engine(2).Comm().IsRunning());
}

TEST_F(StationView, DisabledStateFieldTakesNoClick)
{
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(5), 0);
    m_view->ApplyPortSettings();
    const CWinMonitorCtrl* before = &m_view->Engine(5);
    QTest::mouseClick(m_view->StateField(5), Qt::LeftButton);
    EXPECT_EQ(&m_view->Engine(5), before);
    EXPECT_EQ(m_view->MessageField(5)->Text(), QString());
}

TEST_F(StationView, ReportsReachTheirRowOnlyAndTheWorkerWaitsForTheView)
{
    const CWinMonitorCtrl& engine = m_view->Engine(3);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        m_view->OnPortStatus(engine, StatusReport{7, status::kInformation, "Loading Monitor in data RAM..."});
        returned = true;
    });
    ASSERT_TRUE(WaitPending(*m_view, 1));
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(returned.load());  // held until the GUI thread handled the report
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 2000));
    worker.join();
    EXPECT_EQ(m_view->MessageField(3)->Text(), QStringLiteral("Loading Monitor in data RAM..."));
    for (int row : {1, 2, 4, 5, 6, 7, 8})
        EXPECT_TRUE(m_view->MessageField(row)->Text().isEmpty()) << row;
}

TEST_F(StationView, ReportTextIsCopiedAtReportTime)
{
    const CWinMonitorCtrl& engine = m_view->Engine(1);
    char text[32] = "Checksum: File: 1234 RAM: 1234";
    std::thread worker([&] {
        // The worker goes on writing its buffer once the call returned; the view must show
        // what the buffer held when it reported.
        m_view->OnPortStatus(engine, StatusReport{5, status::kInformation, text});
        std::snprintf(text, sizeof text, "overwritten");
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_view->MessageField(1)->Text() == QStringLiteral("Checksum: File: 1234 RAM: 1234"); }, 2000));
    worker.join();
}

TEST_F(StationView, ProgressShowsDownloadAndRunsTheBlinkTimerUntilTheResult)
{
    Progress(3, 61, 1234567, 2000000);
    EXPECT_EQ(m_view->MessageField(3)->Text(), QStringLiteral("Downloading : 61 %"));
    EXPECT_EQ(m_view->StateField(3)->Text(), QStringLiteral("DOWNLOAD"));
    EXPECT_EQ(m_view->ProgressBar(3)->maximum(), 2000);
    EXPECT_EQ(m_view->ProgressBar(3)->value(), 1234);
    EXPECT_TRUE(m_view->IsTimerActive(4));

    Status(3, 7, status::kPass, "PASS - Checksum: [ABCD,ABCD]");
    EXPECT_FALSE(m_view->IsTimerActive(4));
    EXPECT_EQ(m_view->StateField(3)->Text(), QStringLiteral("COMPLETE"));
    EXPECT_EQ(m_view->MessageField(3)->BkColor(), colour::kGreen);
    EXPECT_EQ(m_view->MessageField(3)->TextColor(), colour::kNearBlack);
    EXPECT_EQ(m_view->ProgressBar(3)->value(), 1234);  // status reports leave the bar

    Status(3, 7, status::kInformation, "later text");
    EXPECT_EQ(m_view->StateField(3)->Text(), QStringLiteral("COMPLETE"));
    EXPECT_EQ(m_view->MessageField(3)->Text(), QStringLiteral("later text"));
}

TEST_F(StationView, SmallImageShowsAnEmptyBarNotABusyOne)
{
    Progress(4, 50, 500, 999);
    EXPECT_GT(m_view->ProgressBar(4)->maximum(), m_view->ProgressBar(4)->minimum());
    EXPECT_EQ(m_view->ProgressBar(4)->value(), 0);
}

TEST_F(StationView, AbortShowsErrorOnRedAndKeepsMessageColours)
{
    Progress(4, 10, 100000, 1000000);
    Status(4, 8, status::kDownloadAborted, "Downloading Aborted !!!");
    EXPECT_EQ(m_view->MessageField(4)->Text(), QStringLiteral("Downloading Aborted !!!"));
    EXPECT_EQ(m_view->MessageField(4)->TextColor(), colour::kGreen);
    EXPECT_EQ(m_view->MessageField(4)->BkColor(), colour::kNearBlack);
    EXPECT_EQ(m_view->StateField(4)->Text(), QStringLiteral("ERROR"));
    EXPECT_EQ(m_view->StateField(4)->BkColor(), colour::kRed);
    EXPECT_EQ(m_view->StateField(4)->PaintedBkColor(), colour::kRed);
    EXPECT_FALSE(m_view->IsTimerActive(5));
}

// The known cause of a failure goes beside the specified text: the row's tooltip and the
// status bar; the message field keeps the specified text.
TEST_F(StationView, TheCauseOfAFailureIsTheRowsTooltipAndInTheStatusBar)
{
    QSignalSpy messages(m_view.get(), &CTarvoView::statusMessage);
    const CWinMonitorCtrl& engine = m_view->Engine(4);
    ASSERT_TRUE(DeliverFromWorker([&] {
        m_view->OnPortStatus(engine, StatusReport{8, status::kDownloadAborted, "Downloading Aborted !!!", "device hung up"});
    }));
    EXPECT_EQ(m_view->MessageField(4)->Text(), QStringLiteral("Downloading Aborted !!!"));
    EXPECT_EQ(m_view->StateField(4)->Text(), QStringLiteral("ERROR"));
    EXPECT_TRUE(m_view->MessageField(4)->toolTip().contains(QStringLiteral("device hung up")))
        << m_view->MessageField(4)->toolTip().toStdString();
    ASSERT_EQ(messages.count(), 1);
    EXPECT_EQ(messages.at(0).at(0).toString(), QStringLiteral("COM8: Downloading Aborted !!! (device hung up)"));

    // Without a known cause the tooltip holds the text and the status bar is left alone.
    messages.clear();
    Status(5, 9, status::kPortLost, "Serial Port Lost...");
    EXPECT_EQ(m_view->MessageField(5)->toolTip(), QStringLiteral("Serial Port Lost..."));
    EXPECT_EQ(messages.count(), 0);
    // A new start of the row clears the old cause.
    Pty pty;
    ASSERT_TRUE(pty.ok());
    profile::SetDeviceFor(8, QString::fromStdString(pty.SlavePath()));
    m_view->StartPort(4);
    EXPECT_TRUE(m_view->MessageField(4)->toolTip().isEmpty());
}

TEST_F(StationView, ReportsForPortsOutsideTheStationChangeNothing)
{
    Status(1, 4, status::kFail, "FAIL");
    Status(1, 13, status::kFail, "FAIL");
    for (int row = 1; row <= 8; ++row)
        EXPECT_EQ(m_view->StateField(row)->Text(), QStringLiteral("CLOSE"));
}

TEST_F(StationView, BlinkAlternatesOnScreen)
{
    Progress(2, 5, 10000, 1000000);
    const int phase = station::BlinkPhase(2);
    m_view->OnTimer(3);
    m_view->OnTimer(3);
    if (phase == 1)
        m_view->OnTimer(3);  // line up on phase 0
    // Phase 0: white text, silver stored; the screen shows white on the last background.
    m_view->OnTimer(3);
    EXPECT_EQ(m_view->StateField(2)->PaintedTextColor(), colour::kWhite);
    EXPECT_EQ(m_view->StateField(2)->PaintedBkColor(), colour::kGreen);
    m_view->OnTimer(3);
    EXPECT_EQ(m_view->StateField(2)->PaintedTextColor(), colour::kNearBlack);
    EXPECT_EQ(m_view->StateField(2)->PaintedBkColor(), colour::kSilver);
    EXPECT_EQ(m_view->StateField(2)->Text(), QStringLiteral("DOWNLOAD"));
}

TEST_F(StationView, StatusZeroOfAReplacedEngineStartsNoDownloadAndNothingDeadlocks)
{
    const CWinMonitorCtrl* old = &m_view->Engine(1);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        m_view->OnPortStatus(*old, StatusReport{5, status::kReadyForDownload, "Download Reday End !"});
        returned = true;
    });
    ASSERT_TRUE(WaitPending(*m_view, 1));
    // Replacing the engine (on this thread, with the report still queued) lets the worker go.
    m_view->StartPort(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 2000));
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_NE(m_view->StateField(1)->Text(), QStringLiteral("ERASE"));
    EXPECT_NE(m_view->MessageField(1)->Text(), QStringLiteral("Erasing..."));
    EXPECT_FALSE(m_view->Engine(1).IsBusy());
}

TEST_F(StationView, ReportsOfAnEngineTheViewDoesNotHoldAreDropped)
{
    CWinMonitorCtrl stranger;
    ASSERT_TRUE(DeliverFromWorker([&] { m_view->OnPortStatus(stranger, StatusReport{5, status::kFail, "FAIL"}); }, 1000ms));
    EXPECT_EQ(m_view->StateField(1)->Text(), QStringLiteral("CLOSE"));
}

TEST_F(StationView, ClosingWhileAnEngineWorkerWaitsForTheViewDoesNotDeadlock)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    profile::SetDeviceFor(11, QString::fromStdString(pty.SlavePath()));
    m_view->StartPort(7);
    ASSERT_EQ(m_view->StateField(7)->Text(), QStringLiteral("READY"));
    // The handset goes away: the ready worker reports the lost port and waits for the view,
    // which does not run its events now.
    pty.HangUp();
    ASSERT_TRUE(WaitPending(*m_view, 1));
    const auto start = std::chrono::steady_clock::now();
    m_view.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

// A click on a row arms it only with a usable download image; otherwise the row says why in
// red, the status bar keeps the whole reason, and no port opens.
TEST_F(StationView, ClickWithoutAUsableImageArmsNoRowAndSaysWhy)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    profile::SetDeviceFor(6, QString::fromStdString(pty.SlavePath()));
    const std::string image = m_view->ImagePath();
    ASSERT_FALSE(image.empty());
    QSignalSpy problems(m_view.get(), &CTarvoView::statusProblem);

    const auto expectRefused = [&](const QString& brief, const QString& inDetail) {
        SCOPED_TRACE(brief.toStdString());
        const CWinMonitorCtrl* before = &m_view->Engine(2);
        problems.clear();
        QTest::mouseClick(m_view->StateField(2), Qt::LeftButton);
        EXPECT_EQ(&m_view->Engine(2), before);  // no new engine, no port
        EXPECT_FALSE(m_view->Engine(2).Comm().IsRunning());
        EXPECT_EQ(m_view->StateField(2)->Text(), QStringLiteral("CLOSE"));
        EXPECT_EQ(m_view->MessageField(2)->Text(), brief);
        EXPECT_EQ(m_view->MessageField(2)->TextColor(), colour::kRed);
        EXPECT_TRUE(m_view->MessageField(2)->toolTip().contains(inDetail)) << m_view->MessageField(2)->toolTip().toStdString();
        ASSERT_EQ(problems.count(), 1);
        EXPECT_EQ(problems.at(0).at(0).toString(), m_view->MessageField(2)->toolTip());
    };
    const QString path = QString::fromStdString(image);

    QFile::remove(path);  // the chosen image vanished
    expectRefused(QStringLiteral("Image missing"), path);
    QFile empty(path);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    expectRefused(QStringLiteral("Image empty"), path);
    QFile text(path);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("hello\n");
    text.close();
    expectRefused(QStringLiteral("Not an image"), path);
    QFile::remove(path);
    ASSERT_TRUE(QDir().mkdir(path));  // a folder in its place
    expectRefused(QStringLiteral("Not an image"), path);
    ASSERT_TRUE(QDir().rmdir(path));

    // A good choice clears the standing problem and the row is armed again.
    problems.clear();
    m_view->SelectMainSoftware();
    ASSERT_GE(problems.count(), 1);
    EXPECT_TRUE(problems.back().at(0).toString().isEmpty());
    QTest::mouseClick(m_view->StateField(2), Qt::LeftButton);
    EXPECT_EQ(m_view->StateField(2)->Text(), QStringLiteral("READY"));
    EXPECT_EQ(m_view->MessageField(2)->Text(), QStringLiteral("INSERT TARGET"));
    EXPECT_TRUE(m_view->Engine(2).Comm().IsRunning());
}

TEST_F(StationView, NoImageChosenArmsNoRow)
{
    m_view.reset();
    profile::Remove(profile::kMainSwSection, QStringLiteral("Name"));
    TestOptions cancelled;  // the start-up file dialog is cancelled
    CTarvoView view(nullptr, cancelled.Make());
    QSignalSpy problems(&view, &CTarvoView::statusProblem);
    view.OnInitialUpdate();
    ASSERT_EQ(cancelled.chooserCalls, 1);
    Pty pty;
    ASSERT_TRUE(pty.ok());
    profile::SetDeviceFor(5, QString::fromStdString(pty.SlavePath()));
    QTest::mouseClick(view.StateField(1), Qt::LeftButton);
    EXPECT_EQ(view.StateField(1)->Text(), QStringLiteral("CLOSE"));
    EXPECT_EQ(view.MessageField(1)->Text(), QStringLiteral("No image chosen"));
    EXPECT_FALSE(view.Engine(1).Comm().IsRunning());
    ASSERT_EQ(problems.count(), 1);
    EXPECT_TRUE(problems.at(0).at(0).toString().contains(QStringLiteral("FILE OPEN")));

    // A failed choice with nothing in force: the row is still refused, naming the failure.
    cancelled.chosen = m_folder.filePath(QStringLiteral("absent.m0"));
    view.SelectMainSoftware();
    QTest::mouseClick(view.StateField(1), Qt::LeftButton);
    EXPECT_EQ(view.StateField(1)->Text(), QStringLiteral("CLOSE"));
    EXPECT_TRUE(view.MessageField(1)->toolTip().contains(QStringLiteral("absent.m0"))) << view.MessageField(1)->toolTip().toStdString();
}

// The image going away after the row was armed ends the run before the erase, in ERROR, and
// frees the device at once.
TEST_F(StationView, ImageGoneWhenTheTargetIsReadyEndsTheRunBeforeTheErase)
{
    Pty pty;
    ASSERT_TRUE(pty.ok());
    profile::SetDeviceFor(7, QString::fromStdString(pty.SlavePath()));
    m_view->StartPort(3);
    ASSERT_EQ(m_view->StateField(3)->Text(), QStringLiteral("READY"));
    ASSERT_TRUE(QFile::remove(QString::fromStdString(m_view->ImagePath())));
    Status(3, 7, status::kReadyForDownload, "Download Reday End !");
    EXPECT_EQ(m_view->StateField(3)->Text(), QStringLiteral("ERROR"));
    EXPECT_EQ(m_view->StateField(3)->BkColor(), colour::kRed);
    EXPECT_EQ(m_view->MessageField(3)->Text(), QStringLiteral("Image missing"));
    EXPECT_EQ(m_view->MessageField(3)->TextColor(), colour::kRed);
    EXPECT_FALSE(m_view->Engine(3).Comm().IsRunning());
    // The device is free again: nothing holds it once the old engine is gone.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        CComm probe;
        const bool opened = probe.OpenDevice(pty.SlavePath(), 115200);
        probe.Close();
        return opened;
    }, 2000));
}

TEST_F(StationView, ExitEndsTheProcessThroughItsHook)
{
    QTest::mouseClick(m_view->Button(forms::kIdExit), Qt::LeftButton,
                      {}, m_view->Button(forms::kIdExit)->rect().center());
    EXPECT_EQ(m_test.exitCalls, 1);
}

}  // namespace
}  // namespace tarvo::test
