// Only approved images in the window, against a real PostgreSQL server: with
// "Record"/"RequireApproved"=1 an image the line database has approved arms its row and the
// run's record says who approved it; one never approved arms no row, and the row's message and
// the status bar say why in red, naming the file.
#include <sys/stat.h>

#include <QSignalSpy>

#include <filesystem>

#include "controls/Label.h"
#include "engine/WinMonitorCtrl.h"
#include "record/LineDatabase.h"
#include "record/PgServer.h"
#include "record/RecordStore.h"
#include "record/Sha256.h"
#include "serial/Comm.h"
#include "station/RowLogic.h"
#include "support/Pty.h"
#include "tests/gui/GuiTestSupport.h"

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;

class ApprovedImage : public PgSuiteOn<GuiTest> {
protected:
    void SetUp() override
    {
        PgSuiteOn::SetUp();
        if (!Ready())
            return;
        ASSERT_EQ(server->Sql(std::string(PgServer::kDropSchema) + "DROP ROLE IF EXISTS tarvo_station"), "");
        std::string error;
        ASSERT_TRUE(m_db.Connect(server->Url(), 5000, error)) << error;  // migrates the schema

        // Row 1 has a device that opens; the image is in the profile already.
        ASSERT_TRUE(m_pty.ok());
        profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 1);
        profile::SetDeviceFor(5, QString::fromStdString(m_pty.SlavePath()));
        m_image = MakeImage(m_folder.path()).toStdString();
        ASSERT_FALSE(m_image.empty());
        profile::WriteString(profile::kMainSwSection, QString::fromLatin1(profile::kMainSwKey), QString::fromStdString(m_image));
        m_journal = m_folder.filePath(QStringLiteral("records.sqlite")).toStdString();
        profile::WriteString("Record", QStringLiteral("Database"), QString::fromStdString(m_journal));
        profile::WriteString("Record", QStringLiteral("Forward"), QString::fromStdString(server->Url()));
        profile::WriteInt("Record", QStringLiteral("RequireApproved"), 1);
        ASSERT_TRUE(record::Sha256File(m_image, m_sha, error)) << error;
    }

    std::unique_ptr<CTarvoView> MakeView(std::chrono::milliseconds period = 60s)
    {
        ViewOptions options = m_test.Make();
        options.approvalPeriod = period;
        auto view = std::make_unique<CTarvoView>(nullptr, options);
        view->OnInitialUpdate();
        view->show();
        return view;
    }

    // Clicks row 1 and waits for the image's approval verdict to reach it.
    void ClickRowOne(CTarvoView& view)
    {
        QTest::mouseClick(view.StateField(1), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return view.ApprovalWaiting() == 0; }, 10000));
    }

    record::LineDatabase m_db;
    Pty m_pty;
    QTemporaryDir m_folder;
    TestOptions m_test;
    std::string m_image, m_sha, m_journal;
};

TEST_F(ApprovedImage, ApprovedImageArmsTheRowAndItsRecordSaysWhoApproved)
{
    record::ImageApproval approval;
    std::string error;
    ASSERT_TRUE(m_db.Approve(m_sha, "phone.cp64", 1, "release 3.1", approval, error)) << error;

    auto view = MakeView();
    ClickRowOne(*view);
    EXPECT_EQ(view->StateField(1)->Text(), QStringLiteral("READY"));
    EXPECT_EQ(view->MessageField(1)->Text(), QStringLiteral("INSERT TARGET"));
    EXPECT_TRUE(view->Engine(1).Comm().IsRunning());

    // The run's RUNNING record is durable before the port opened; it names who approved.
    record::RecordStore store;
    ASSERT_TRUE(store.Open(m_journal, error, true)) << error;
    std::vector<record::RunRecord> records;
    ASSERT_TRUE(store.Query({}, [&](const record::RunRecord& r) { records.push_back(r); }, error)) << error;
    ASSERT_EQ(records.size(), 1u);
    ASSERT_TRUE(records[0].approval.has_value());
    EXPECT_EQ(records[0].approval->rfind("approved by tarvo at 20", 0), 0u) << *records[0].approval;
}

TEST_F(ApprovedImage, ImageNeverApprovedArmsNoRowAndSaysWhyInRed)
{
    auto view = MakeView();
    QSignalSpy problems(view.get(), &CTarvoView::statusProblem);
    ClickRowOne(*view);

    const QString refusal = QString::fromStdString(m_image + ": image not approved (sha256 " + m_sha.substr(0, 12) +
                                                   "\xE2\x80\xA6)");
    EXPECT_EQ(view->MessageField(1)->Text(), refusal);
    EXPECT_EQ(view->MessageField(1)->TextColor(), station::colour::kRed);
    EXPECT_NE(view->StateField(1)->Text(), QStringLiteral("READY"));
    EXPECT_FALSE(view->Engine(1).Comm().IsRunning());
    QStringList shown;
    for (const QList<QVariant>& signal : problems)
        shown << signal.at(0).toString();
    EXPECT_TRUE(shown.contains(refusal)) << shown.join(QLatin1Char('|')).toStdString();

    // A second click is refused at once, from the verdict the gate holds.
    problems.clear();
    QTest::mouseClick(view->StateField(1), Qt::LeftButton);
    EXPECT_EQ(view->ApprovalWaiting(), 0u);
    EXPECT_EQ(view->MessageField(1)->Text(), refusal);
    EXPECT_FALSE(view->Engine(1).Comm().IsRunning());
    ASSERT_EQ(problems.count(), 1);
    EXPECT_EQ(problems.at(0).at(0).toString(), refusal);

    // No run began: the journal holds no record.
    record::RecordStore store;
    std::string error;
    if (std::filesystem::exists(m_journal) && store.Open(m_journal, error, true)) {
        int count = 0;
        ASSERT_TRUE(store.Query({}, [&](const record::RunRecord&) { ++count; }, error)) << error;
        EXPECT_EQ(count, 0);
    }
}

TEST_F(ApprovedImage, RunAfterARevocationIsRefused)
{
    record::ImageApproval approval;
    std::string error;
    ASSERT_TRUE(m_db.Approve(m_sha, "phone.cp64", 1, "", approval, error)) << error;
    auto view = MakeView(100ms);
    QSignalSpy problems(view.get(), &CTarvoView::statusProblem);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->ApprovalWaiting() == 0 && problems.isEmpty(); }, 5000));

    bool found = false;
    ASSERT_TRUE(m_db.Revoke(m_sha, "bad RF calibration", approval, found, error)) << error;
    ASSERT_TRUE(found);
    // The gate's next check sees the revocation and the window says so in the status bar.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !problems.isEmpty(); }, 5000));
    const QString refusal = problems.last().at(0).toString();
    EXPECT_TRUE(refusal.startsWith(QString::fromStdString(m_image))) << refusal.toStdString();
    EXPECT_TRUE(refusal.contains(QStringLiteral("bad RF calibration"))) << refusal.toStdString();

    QTest::mouseClick(view->StateField(1), Qt::LeftButton);
    EXPECT_EQ(view->MessageField(1)->Text(), refusal);
    EXPECT_EQ(view->MessageField(1)->TextColor(), station::colour::kRed);
    EXPECT_FALSE(view->Engine(1).Comm().IsRunning());
}

}  // namespace
}  // namespace tarvo::test
