// The station window under faults and load, against simulated handsets: a run that ends without
// a final status, eight handsets plugged at once in continuous mode (no stall of the GUI
// thread), handsets already plugged when the station starts, a unit label scanned while a run
// is at work, and the port dialog's CANCEL.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "controls/Label.h"
#include "controls/RoundButton.h"
#include "resources/Forms.h"
#include "engine/Clock.h"
#include "station/ComPortSet.h"
#include "station/EngineerLock.h"
#include "station/PinDialogs.h"
#include "resources/Strings.h"
#include "station/RowLogic.h"
#include "station/StationRecord.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/OperatorSupport.h"
#include "tests/gui/SimHandset.h"

#include <sqlite3.h>

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;

TEST(PortDialog, CancelPutsBackEveryBoxAndDeviceAndOkKeepsThem)
{
    TempProfile home;
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 1);
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(2), 0);
    profile::SetDeviceFor(6, QStringLiteral("/dev/ttyUSB1"));
    const auto lister = [] { return QList<SerialDeviceChoice>{}; };
    const auto edit = [](CComPortSet& dialog) {
        dialog.PortBox(1)->click();
        dialog.PortBox(2)->click();
        dialog.DeviceBox(2)->setCurrentText(QStringLiteral("/dev/ttyACM7"));
        emit dialog.DeviceBox(2)->lineEdit()->editingFinished();
        dialog.DeviceBox(3)->setCurrentText(QStringLiteral("/dev/ttyACM8"));
        emit dialog.DeviceBox(3)->lineEdit()->editingFinished();
    };
    {
        CComPortSet dialog(nullptr, lister);
        dialog.show();
        edit(dialog);
        dialog.CancelButton()->click();
    }
    EXPECT_EQ(profile::ReadInt(profile::kPortSection, profile::PortFlagKey(1), -1), 1);
    EXPECT_EQ(profile::ReadInt(profile::kPortSection, profile::PortFlagKey(2), -1), 0);
    EXPECT_EQ(profile::DeviceFor(6), QStringLiteral("/dev/ttyUSB1"));
    EXPECT_FALSE(TempProfile::Has(profile::kDeviceSection, profile::DeviceKey(7))) << "a device added is gone again";
    {
        CComPortSet dialog(nullptr, lister);
        dialog.show();
        edit(dialog);
        dialog.OkButton()->click();
    }
    EXPECT_EQ(profile::ReadInt(profile::kPortSection, profile::PortFlagKey(1), -1), 0);
    EXPECT_EQ(profile::ReadInt(profile::kPortSection, profile::PortFlagKey(2), -1), 1);
    EXPECT_EQ(profile::DeviceFor(6), QStringLiteral("/dev/ttyACM7"));
    EXPECT_EQ(profile::DeviceFor(7), QStringLiteral("/dev/ttyACM8"));
}

// A barcode scanner's burst while the PIN prompt is open is no PIN: it leaves the prompt's
// field as it was, costs no attempt, and is kept for the station as a unit label.
TEST(ScannerInDialog, AScanIntoThePinPromptIsKeptForTheStationNotTakenAsAPin)
{
    TempProfile home;
    ASSERT_TRUE(CEngineerLock().SetPin(QStringLiteral("246813")));
    TestOptions test;
    test.chosen = MakeImage(home.Home().path() + QStringLiteral("/images"));
    ViewOptions options = test.Make();
    bool opened = true;
    QString field = QStringLiteral("unset");
    options.runPinPrompt = [&](CPinPrompt& prompt) {
        prompt.show();
        prompt.PinEdit()->setFocus();
        QTest::keyClicks(prompt.PinEdit(), QStringLiteral("SN77001"));
        QTest::keyClick(prompt.PinEdit(), Qt::Key_Return);
        QTest::qWait(300);
        field = prompt.PinEdit()->text();
        opened = prompt.Opened() || prompt.Checking();
        prompt.reject();
    };
    CTarvoView view(nullptr, options);
    view.show();
    view.OnComPortSetting();
    EXPECT_TRUE(field.isEmpty()) << field.toStdString();
    EXPECT_FALSE(opened);
    EXPECT_EQ(view.EngineerLock().AttemptsLeft(), 3) << "the scan cost no attempt";
    // No row selected and none running: the label is refused with a message.
    EXPECT_EQ(view.UnitLabels().StateOf(1), station::UnitLabels::State::None);
    // With a row selected the scan is kept for it.
    view.SelectRow(2);
    view.OnComPortSetting();
    EXPECT_EQ(view.UnitLabels().Label(2), "SN77001");
    EXPECT_EQ(view.EngineerLock().AttemptsLeft(), 3);
}

// No record, no run: with the journal locked by another program beyond the busy time-out the
// row's RUNNING record cannot be made durable. The window stays responsive, the port is never
// opened, and the row shows why in red, unarmed.
TEST(NoRecordNoRun, LockedJournalLeavesThePortClosedAndTheRowRedSlow)
{
    TempProfile home;
    const QString journal = home.Home().path() + QStringLiteral("/records.sqlite");
    profile::WriteString("Record", QStringLiteral("Database"), journal);
    profile::SetDeviceFor(5, home.Home().path() + QStringLiteral("/no-such-tty"));
    TestOptions test;
    test.chosen = home.Home().path() + QStringLiteral("/phone.m0");
    ASSERT_TRUE(WriteMainSoftware(test.chosen));
    CTarvoView view(nullptr, test.Make());
    view.OnInitialUpdate();
    view.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(journal); }, 5000));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(journal).constData(), &other), SQLITE_OK);
    sqlite3_busy_timeout(other, 5000);  // the station's writer may be at work on it just now
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    QElapsedTimer held;
    held.start();
    view.StartPort(1);
    EXPECT_LT(held.elapsed(), 100) << "the GUI thread waited for the journal";
    EXPECT_NE(view.StateField(1)->Text(), QStringLiteral("READY"));
    const bool refused = QTest::qWaitFor([&] {
        return view.MessageField(1)->Text() == QLatin1String(station::text::kNotRecorded);
    }, 15000);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_TRUE(refused) << view.MessageField(1)->Text().toStdString();
    EXPECT_EQ(view.MessageField(1)->TextColor(), station::colour::kRed);
    EXPECT_EQ(view.StateField(1)->Text(), QStringLiteral("ERROR"));
    EXPECT_TRUE(view.MessageField(1)->toolTip().contains(journal)) << view.MessageField(1)->toolTip().toStdString();
    // The port was never opened: an open would have failed on the missing device.
    EXPECT_FALSE(view.MessageField(1)->toolTip().contains(QStringLiteral("no-such-tty")));
}

#ifdef TARVO_TARGET_SIM_PATH

class PluggedStation : public GuiTest {
protected:
    void SetUp() override
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_folder.path()));
        m_main = m_folder.filePath(QStringLiteral("phone.m0"));
        ASSERT_TRUE(WriteMainSoftware(m_main, 64, 16));
        m_test.chosen = m_main;
        ASSERT_TRUE(QDir().mkpath(m_folder.filePath(QStringLiteral("by-path"))));
    }

    QString Link(int row) const { return m_folder.filePath(QStringLiteral("by-path/port%1").arg(row)); }

    void UseRows(int rows)
    {
        for (int r = 1; r <= station::kRows; ++r) {
            profile::WriteInt(profile::kPortSection, profile::PortFlagKey(r), r <= rows ? 1 : 0);
            profile::SetDeviceFor(station::PortForRow(r), Link(r));
        }
    }

    std::unique_ptr<CTarvoView> MakeView(std::chrono::milliseconds startPause = 0ms)
    {
        ViewOptions options = m_test.Make();
        options.clock = &m_clock;
        options.sound = &m_sound;
        options.startPause = startPause;
        auto view = std::make_unique<CTarvoView>(nullptr, options);
        view->OnInitialUpdate();
        view->show();
        return view;
    }

    // A handset on row `row`'s link with `extra` simulator options.
    std::unique_ptr<QProcess> Plug(int row, QStringList extra = {})
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{QStringLiteral("--link"), Link(row), QStringLiteral("--flashloader"), QStringLiteral("1.2.5"),
                         QStringLiteral("--erase-ms"), QStringLiteral("20")};
        process->start(QStringLiteral(TARVO_TARGET_SIM_PATH), args + extra);
        return process;
    }

    static void Unplug(QProcess& process)
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }

    ScaledClock m_clock{10.0};
    CountingSound m_sound;
    QTemporaryDir m_folder;
    QString m_main;
    TestOptions m_test;
};

TEST_F(PluggedStation, IdentifyRefusedEndsTheRowAsEveryFailedRun)
{
    UseRows(1);
    auto view = MakeView();
    view->SetSoundOn(true);
    auto handset = Plug(1, {QStringLiteral("--fault"), QStringLiteral("identify-result")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(Link(1)); }, 5000));
    view->StartPort(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->StateField(1)->Text() == QStringLiteral("ERROR"); }, 10000))
        << view->StateField(1)->Text().toStdString() << " / " << view->MessageField(1)->Text().toStdString();
    EXPECT_EQ(view->StateField(1)->BkColor(), station::colour::kRed);
    EXPECT_EQ(view->MessageField(1)->TextColor(), station::colour::kRed);
    ASSERT_EQ(m_sound.played.size(), 1u);
    EXPECT_EQ(m_sound.played[0], ResultSound::Fail);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->Record().TotalRuns() == 1; }, 5000));
    EXPECT_EQ(view->Record().TotalErrors(), 1);
    EXPECT_TRUE(view->RecordTotalsText().contains(QStringLiteral("ERROR 1"))) << view->RecordTotalsText().toStdString();
    // The row is no longer armed: a scanned label waits for its next run.
    view->SelectRow(0);
    EXPECT_FALSE(view->TakeUnitLabel(QStringLiteral("SN-1"))) << "no run to give it to";
    Unplug(*handset);
}

TEST_F(PluggedStation, ContinuousRowRearmsAfterARefusedIdentify)
{
    UseRows(1);
    profile::WriteInt("Station", QStringLiteral("Continuous"), 1);
    auto view = MakeView();
    auto refusing = Plug(1, {QStringLiteral("--fault"), QStringLiteral("identify-result")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->StateField(1)->Text() == QStringLiteral("ERROR"); }, 10000));
    Unplug(*refusing);
    // The next handset is flashed by itself: the row was re-armed.
    auto good = Plug(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->StateField(1)->Text() == QStringLiteral("COMPLETE"); }, 20000))
        << view->StateField(1)->Text().toStdString();
    Unplug(*good);
}

// Eight handsets appear at once in continuous mode with the real pause after each start: the
// starts keep their spacing, yet the GUI thread never stalls beyond 100 ms (a 5 ms heartbeat
// timer measures the longest gap between its ticks).
TEST_F(PluggedStation, EightSimultaneousPlugsNeverStallTheWindow)
{
    UseRows(8);
    profile::WriteInt("Station", QStringLiteral("Continuous"), 1);
    auto view = MakeView(std::chrono::milliseconds(station::kStartPauseMs));
    QTest::qWait(200);
    QElapsedTimer beat;
    qint64 longest = 0;
    QTimer heartbeat;
    heartbeat.setInterval(5);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        if (beat.isValid())
            longest = std::max(longest, beat.elapsed());
        beat.start();
    });
    heartbeat.start();
    QTest::qWait(50);  // the heartbeat beats before the first handset appears
    std::vector<std::unique_ptr<QProcess>> handsets;
    for (int r = 1; r <= 8; ++r)
        handsets.push_back(Plug(r));
    // Starting the simulators is the test's own work on this thread: the window's share begins
    // now (the devices appear, the rows start, when events are handled again).
    beat.start();
    longest = 0;
    QElapsedTimer since;
    since.start();
    std::array<qint64, 8> startedAt{};
    startedAt.fill(-1);
    const bool allStarted = QTest::qWaitFor([&] {
        for (int r = 1; r <= 8; ++r)
            if (startedAt[r - 1] < 0 && view->StateField(r)->Text() != QStringLiteral("CLOSE"))
                startedAt[r - 1] = since.elapsed();
        return std::all_of(startedAt.begin(), startedAt.end(), [](qint64 t) { return t >= 0; });
    }, 20000);
    heartbeat.stop();
    ASSERT_TRUE(allStarted);
    std::sort(startedAt.begin(), startedAt.end());
    qint64 shortest = startedAt[1] - startedAt[0];
    for (int i = 1; i < 8; ++i)
        shortest = std::min(shortest, startedAt[i] - startedAt[i - 1]);
    std::printf("[ stall ] longest GUI gap %lld ms; starts %lld ms apart at least, %lld ms from first to last "
                "(8 plugs, 500 ms pause)\n",
                static_cast<long long>(longest), static_cast<long long>(shortest),
                static_cast<long long>(startedAt[7] - startedAt[0]));
    EXPECT_LT(longest, 100) << "the GUI thread stalled";
    // Seen by polling every few milliseconds: each start is found a little late or early.
    EXPECT_GE(shortest, station::kStartPauseMs - 40) << "the pause between starts kept its length";
    for (auto& handset : handsets)
        Unplug(*handset);
}

TEST_F(PluggedStation, HandsetsPluggedAtStartWaitForAClickInContinuousMode)
{
    UseRows(2);
    profile::WriteInt("Station", QStringLiteral("Continuous"), 1);
    auto first = Plug(1);
    auto second = Plug(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(Link(1)) && QFileInfo::exists(Link(2)); }, 5000));
    auto view = MakeView();  // the station (re)starts with both handsets plugged in
    QTest::qWait(1500);
    for (int r = 1; r <= 2; ++r) {
        EXPECT_EQ(view->StateField(r)->Text(), QStringLiteral("CLOSE")) << "row " << r << " was flashed without a click";
        EXPECT_EQ(view->MessageField(r)->Text(), QLatin1String(station::text::kPresentAtStart));
    }
    // A click flashes the handset.
    view->StartPort(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->StateField(1)->Text() == QStringLiteral("COMPLETE"); }, 20000));
    EXPECT_EQ(view->StateField(2)->Text(), QStringLiteral("CLOSE"));
    // A replug flashes it too.
    Unplug(*second);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(Link(2)); }, 5000));
    second = Plug(2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->StateField(2)->Text() == QStringLiteral("COMPLETE"); }, 20000));
    Unplug(*first);
    Unplug(*second);
}

TEST_F(PluggedStation, LabelScannedDuringTheDownloadBelongsToThatRun)
{
    UseRows(1);
    auto view = MakeView();
    // Every block acknowledged late: the download takes a while.
    auto handset = Plug(1, {QStringLiteral("--fault"), QStringLiteral("ack-delay=400")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(Link(1)); }, 5000));
    view->StartPort(1);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const QString state = view->StateField(1)->Text();
        return state == QStringLiteral("ERASE") || state == QStringLiteral("DOWNLOAD");
    }, 10000));
    QTest::keyClicks(view.get(), QStringLiteral("SN-0001"));
    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(view->RunUnitLabel(1), "SN-0001") << "the handset in the socket";
    EXPECT_EQ(view->UnitLabels().StateOf(1), station::UnitLabels::State::Bound);
    EXPECT_TRUE(view->ProgressBar(1)->toolTip().contains(QStringLiteral("run in progress")));
    // A second label for the row while its run has its unit waits for the row's next run, and
    // says so.
    view->SelectRow(1);
    QTest::keyClicks(view.get(), QStringLiteral("SN-0002"));
    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(view->RunUnitLabel(1), "SN-0001");
    EXPECT_EQ(view->UnitLabels().StateOf(1), station::UnitLabels::State::Pending);
    EXPECT_TRUE(view->ProgressBar(1)->format().startsWith(QStringLiteral("next")));
    Unplug(*handset);
}

// EXIT ends the process at once, but the run in progress is in the journal as ABORTED first.
TEST_F(PluggedStation, ExitMakesTheRunInProgressDurableAsAborted)
{
    UseRows(1);
    const QString journal = m_folder.filePath(QStringLiteral("records.sqlite"));
    profile::WriteString("Record", QStringLiteral("Database"), journal);
    std::string resultAtExit = "not called";
    ViewOptions options = m_test.Make();
    options.clock = &m_clock;
    options.exitProcess = [&] {
        // What another program finds in the journal the moment the process would end.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(journal).constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* query = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT result FROM runs", -1, &query, nullptr), SQLITE_OK);
        resultAtExit.clear();
        while (sqlite3_step(query) == SQLITE_ROW)
            resultAtExit += reinterpret_cast<const char*>(sqlite3_column_text(query, 0)) + std::string(";");
        sqlite3_finalize(query);
        sqlite3_close(db);
    };
    CTarvoView view(nullptr, options);
    view.OnInitialUpdate();
    view.show();
    auto handset = Plug(1, {QStringLiteral("--fault"), QStringLiteral("ack-delay=400")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(Link(1)); }, 5000));
    view.StartPort(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.StateField(1)->Text() == QStringLiteral("DOWNLOAD"); }, 10000));
    QElapsedTimer held;
    held.start();
    view.Button(forms::kIdExit)->click();
    EXPECT_LT(held.elapsed(), 2500);
    EXPECT_EQ(resultAtExit, "ABORTED;");
    Unplug(*handset);
}

#endif  // TARVO_TARGET_SIM_PATH

}  // namespace
}  // namespace tarvo::test
