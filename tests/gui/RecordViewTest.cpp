// The production record in the station window: a row's run is recorded and counted (port
// tooltip, status bar totals), a record that cannot be written blocks arming with a red
// warning, and the record view shows, filters and exports the journal.
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QStatusBar>
#include <QTableView>
#include <QCheckBox>
#include <QComboBox>
#include <QBrush>

#include <fstream>

#include "app/MainFrm.h"
#include "controls/Label.h"
#include "resources/Forms.h"
#include "engine/Clock.h"
#include "record/Export.h"
#include "record/Identity.h"
#include "record/RecordStore.h"
#include "station/RecordDialog.h"
#include "station/RecordModel.h"
#include "station/StationRecord.h"
#include "tests/gui/GuiTestSupport.h"

#include <sqlite3.h>

#ifdef TARVO_TARGET_SIM_PATH

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;

class Handset {
public:
    explicit Handset(QStringList extra = {})
    {
        m_link = m_folder.filePath(QStringLiteral("handset"));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(TARVO_TARGET_SIM_PATH),
                        QStringList{QStringLiteral("--flashloader"), QStringLiteral("1.2.5"), QStringLiteral("--link"),
                                    m_link, QStringLiteral("--erase-ms"), QStringLiteral("100")} + extra);
    }
    ~Handset()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool WaitReady()
    {
        return m_process.waitForStarted(5000) && QTest::qWaitFor([&] { return QFileInfo::exists(m_link); }, 5000);
    }
    const QString& Link() const { return m_link; }

private:
    QTemporaryDir m_folder;
    QString m_link;
    QProcess m_process;
};

std::vector<record::RunRecord> ReadAll(const std::string& path)
{
    record::RecordStore store;
    std::string error;
    std::vector<record::RunRecord> out;
    if (store.Open(path, error, true))
        store.Query({}, [&](const record::RunRecord& r) { out.push_back(r); }, error);
    return out;
}

class RecordWindow : public GuiTest {
protected:
    void SetUp() override
    {
        profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 1);
        m_main = m_folder.filePath(QStringLiteral("phone.m0"));
        ASSERT_TRUE(WriteMainSoftware(m_main, 64, 16));
        m_test.chosen = m_main;
        profile::WriteString("Record", QStringLiteral("Database"), QString::fromStdString(m_db));
        profile::WriteString("Station", QStringLiteral("Name"), QStringLiteral("bay 4"));
    }

    std::unique_ptr<CMainFrame> MakeFrame()
    {
        ViewOptions options = m_test.Make();
        options.clock = &m_clock;
        auto frame = std::make_unique<CMainFrame>(options);
        frame->View()->OnInitialUpdate();
        frame->show();
        return frame;
    }

    ScaledClock m_clock{10.0};
    QTemporaryDir m_folder;
    QString m_main;
    std::string m_db = m_folder.filePath(QStringLiteral("records.sqlite")).toStdString();
    TestOptions m_test;
};

TEST_F(RecordWindow, RunIsRecordedBeforeTheRowShowsItAndCounted)
{
    Handset handset;
    ASSERT_TRUE(handset.WaitReady());
    profile::SetDeviceFor(5, handset.Link());
    auto frame = MakeFrame();
    CTarvoView& view = *frame->View();
    QTest::mouseClick(view.StateField(1), Qt::LeftButton);
    std::vector<record::RunRecord> atComplete;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        if (view.StateField(1)->Text() != QStringLiteral("COMPLETE"))
            return false;
        atComplete = ReadAll(m_db);
        return true;
    }, 20000));
    ASSERT_EQ(atComplete.size(), 1u);
    const record::RunRecord& r = atComplete[0];
    EXPECT_EQ(r.result, "PASS") << "the row showed COMPLETE before the record held it";
    EXPECT_EQ(r.station, "bay 4");
    EXPECT_EQ(r.port, 5);
    EXPECT_EQ(r.device, handset.Link().toStdString());
    EXPECT_NE(r.device_resolved, r.device);
    EXPECT_EQ(r.loader, "flashloader");
    EXPECT_EQ(r.image, view.ImagePath());

    QWidget* portField = view.findChild<QWidget*>(QString::number(forms::kRowIds[0].portField));
    ASSERT_TRUE(QTest::qWaitFor([&] { return portField->toolTip().contains(QStringLiteral("1 PASS, 0 FAIL")); }, 3000))
        << portField->toolTip().toStdString();
    EXPECT_EQ(frame->RecordTotalsPane()->text(), QStringLiteral("Runs 1  PASS 1  FAIL 0  ERROR 0"));

    // A row armed for a handset that never answers, then closed: that run is NO TARGET, and
    // the unit label given for the row belongs to it.
    Handset silent({QStringLiteral("--fault"), QStringLiteral("identify-never")});
    ASSERT_TRUE(silent.WaitReady());
    profile::SetDeviceFor(5, silent.Link());
    view.SetNextUnit(1, QStringLiteral("SN-0042"));
    view.StartPort(1);
    QTest::qWait(100);
    frame.reset();
    const auto records = ReadAll(m_db);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].unit, "SN-0042");
    EXPECT_EQ(records[1].result, "NO TARGET");
}

TEST_F(RecordWindow, UnwritableRecordBlocksArmingWithRedWarning)
{
    Handset silent({QStringLiteral("--fault"), QStringLiteral("identify-never")});
    ASSERT_TRUE(silent.WaitReady());
    profile::SetDeviceFor(5, silent.Link());
    std::ofstream(m_db, std::ios::binary) << std::string(4096, 'x');
    {
        auto frame = MakeFrame();
        ASSERT_TRUE(QTest::qWaitFor([&] { return frame->RecordWarningPane()->isVisible(); }, 5000));
        EXPECT_TRUE(frame->RecordWarningPane()->text().contains(QString::fromStdString(m_db)))
            << frame->RecordWarningPane()->text().toStdString();
        EXPECT_TRUE(frame->RecordWarningPane()->text().contains(QStringLiteral("not a database")));
        QTest::mouseClick(frame->View()->StateField(1), Qt::LeftButton);
        EXPECT_NE(frame->View()->StateField(1)->Text(), QStringLiteral("READY")) << "a row started without its record";
        EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QStringLiteral("not started")));
    }
    // Switched off explicitly, the station runs without a record.
    profile::WriteInt("Record", QStringLiteral("Enabled"), 0);
    auto frame = MakeFrame();
    QTest::qWait(100);
    EXPECT_FALSE(frame->RecordWarningPane()->isVisible());
    QTest::mouseClick(frame->View()->StateField(1), Qt::LeftButton);
    EXPECT_EQ(frame->View()->StateField(1)->Text(), QStringLiteral("READY"));
}

TEST_F(RecordWindow, RecordViewFiltersNewestFirstAndExports)
{
    {
        record::RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(m_db, error)) << error;
        const char* results[] = {"PASS", "FAIL", "PASS", "ERROR", "NO TARGET", "PASS"};
        for (int n = 0; n < 6; ++n) {
            record::RunRecord r;
            r.run_id = "run-" + std::to_string(n);
            r.port = 5 + n % 2;
            r.result = results[n];
            r.started_at = n < 3 ? "2020-01-0" + std::to_string(n + 1) + "T10:00:00.000Z" : record::IsoUtcNow();
            r.text = "text, \"" + std::to_string(n) + "\"\nline";
            ASSERT_TRUE(store.Upsert(r, "", error)) << error;
        }
    }
    const QString exportPath = m_folder.filePath(QStringLiteral("export.csv"));
    CRecordDialog dialog(m_db, nullptr, [&](QWidget*) { return exportPath; });
    CRecordModel& model = *dialog.Model();
    ASSERT_EQ(model.rowCount(), 6);
    EXPECT_EQ(model.RecordAt(0).run_id, "run-5") << "newest first";
    EXPECT_EQ(model.data(model.index(0, CRecordModel::Result), Qt::BackgroundRole).value<QBrush>().color(),
              QColor(0xC8, 0xF0, 0xC8));
    EXPECT_EQ(model.data(model.index(4, CRecordModel::Result), Qt::BackgroundRole).value<QBrush>().color(),
              QColor(0xF8, 0xC0, 0xC0));

    dialog.FailuresFilter()->setChecked(true);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.RecordAt(0).result, "ERROR");
    EXPECT_EQ(model.RecordAt(1).result, "FAIL");
    dialog.FailuresFilter()->setChecked(false);
    dialog.PortFilter()->setCurrentIndex(dialog.PortFilter()->findData(6));
    EXPECT_EQ(model.rowCount(), 3);
    dialog.TodayFilter()->setChecked(true);
    EXPECT_EQ(model.rowCount(), 2);

    dialog.ExportCsv();
    std::ifstream in(exportPath.toStdString(), std::ios::binary);
    std::string csv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(csv.substr(0, 7), "run_id,");
    EXPECT_NE(csv.find("\"text, \"\"5\"\"\nline\""), std::string::npos) << csv;
    EXPECT_EQ(csv.find("run-0"), std::string::npos) << "the export follows the filters";
}

// The view shows each failure's reason (a failed open has no message of its own) and whether
// the record has reached the line database.
TEST_F(RecordWindow, RecordViewShowsTheReasonAndWhetherForwarded)
{
    {
        record::RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(m_db, error)) << error;
        record::RunRecord failed;
        failed.run_id = "run-open";
        failed.port = 5;
        failed.result = "ERROR";
        failed.started_at = record::IsoUtcNow();
        failed.reason = "/dev/ttyUSB4: No such file or directory";
        ASSERT_TRUE(store.Upsert(failed, "", error)) << error;
        record::RunRecord passed = failed;
        passed.run_id = "run-pass";
        passed.result = "PASS";
        passed.reason.reset();
        passed.text = "PASS";
        ASSERT_TRUE(store.Upsert(passed, "", error)) << error;
    }
    {
        // As the forwarder marks a record the line database has.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_db.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "UPDATE runs SET forwarded = 1 WHERE run_id = 'run-pass'", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    CRecordDialog dialog(m_db, nullptr, [&](QWidget*) { return QString(); });
    CRecordModel& model = *dialog.Model();
    ASSERT_EQ(model.rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        const bool open = model.RecordAt(row).run_id == std::optional<std::string>("run-open");
        EXPECT_EQ(model.data(model.index(row, CRecordModel::Reason), Qt::DisplayRole).toString(),
                  open ? QStringLiteral("/dev/ttyUSB4: No such file or directory") : QString());
        EXPECT_EQ(model.data(model.index(row, CRecordModel::Forwarded), Qt::DisplayRole).toString(),
                  open ? QStringLiteral("waiting") : QStringLiteral("yes"));
    }
    EXPECT_EQ(model.headerData(CRecordModel::Reason, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Reason"));
}

}  // namespace
}  // namespace tarvo::test

#endif  // TARVO_TARGET_SIM_PATH
