// Continuous runs in the station window against simulated handsets whose device link comes and
// goes, the hint beside a failed open, and the preflight report.
#include <QFileInfo>
#include <QProcess>
#include <QLabel>
#include <QTreeWidget>

#include "controls/Label.h"
#include "engine/Clock.h"
#include "station/DoctorReport.h"
#include <QTextBrowser>
#include "station/RowLogic.h"
#include "tests/gui/GuiTestSupport.h"

#ifdef TARVO_TARGET_SIM_PATH

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;

class ContinuousStation : public GuiTest {
protected:
    void SetUp() override
    {
        // The rows' runs are recorded in this test's folder.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_folder.path()));
        profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 1);
        m_main = m_folder.filePath(QStringLiteral("phone.m0"));
        ASSERT_TRUE(WriteMainSoftware(m_main, 64, 16));
        m_test.chosen = m_main;
        m_link = m_folder.filePath(QStringLiteral("by-path/usb-0:1.2:1.0-port0"));
        profile::SetDeviceFor(5, m_link);
    }

    std::unique_ptr<CTarvoView> MakeView()
    {
        ViewOptions options = m_test.Make();
        options.clock = &m_clock;
        auto view = std::make_unique<CTarvoView>(nullptr, options);
        view->OnInitialUpdate();
        view->show();
        return view;
    }

    ScaledClock m_clock{10.0};
    QTemporaryDir m_folder;
    QString m_main;
    QString m_link;
    TestOptions m_test;
};

TEST_F(ContinuousStation, RowFlashesThreeHandsetsInTurnWithoutAClick)
{
    profile::WriteInt("Station", QStringLiteral("Continuous"), 1);
    auto view = MakeView();
    ASSERT_TRUE(view->Continuous()) << "kept in the profile";
    // No device yet: the row says so, in yellow, and is not in error.
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->MessageField(1)->Text() == QLatin1String(station::text::kNoDevice); }, 2000));
    EXPECT_EQ(view->MessageField(1)->TextColor(), station::colour::kYellow);
    EXPECT_NE(view->StateField(1)->Text(), QStringLiteral("ERROR"));

    // Three handsets one after another; each stays plugged 1.5 s after its download, long
    // enough for a wrong second run to begin.
    // The link's folder appears with the first handset, as udev makes /dev/serial/by-path.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(m_link).path()));
    QProcess handsets;
    handsets.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    handsets.start(QStringLiteral(TARVO_TARGET_SIM_PATH),
                   {QStringLiteral("--link"), m_link, QStringLiteral("--flashloader"), QStringLiteral("1.2.5"),
                    QStringLiteral("--erase-ms"), QStringLiteral("20"), QStringLiteral("--handsets"), QStringLiteral("3"),
                    QStringLiteral("--stay-ms"), QStringLiteral("1500"), QStringLiteral("--away-ms"),
                    QStringLiteral("300")});
    ASSERT_TRUE(handsets.waitForStarted(5000));

    int completes = 0, readies = 0, absences = 0;
    QString state, message;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline && handsets.state() != QProcess::NotRunning) {
        QTest::qWait(5);
        const QString nowState = view->StateField(1)->Text();
        const QString nowMessage = view->MessageField(1)->Text();
        if (nowState != state) {
            completes += nowState == QStringLiteral("COMPLETE");
            readies += nowState == QStringLiteral("READY");
            state = nowState;
        }
        if (nowMessage != message) {
            absences += nowMessage == QLatin1String(station::text::kNoDevice);
            message = nowMessage;
        }
    }
    ASSERT_EQ(handsets.state(), QProcess::NotRunning) << "three handsets served in time";
    EXPECT_EQ(handsets.exitCode(), 0);
    QTest::qWait(300);
    // A second run on a handset that stayed would finish within its 1.5 s and show a fourth
    // COMPLETE (a short READY may slip between two looks at the row, so it is only bounded).
    EXPECT_EQ(completes, 3) << "one run per handset: none on a handset that stayed";
    EXPECT_LE(readies, 3);
    EXPECT_GE(absences, 2) << "the row showed the absence between handsets";
    EXPECT_EQ(view->MessageField(1)->Text(), QLatin1String(station::text::kNoDevice));
    EXPECT_EQ(view->StateField(1)->Text(), QStringLiteral("COMPLETE")) << "the last result stays";

    // Switched off: kept in the profile.
    view->SetContinuous(false);
    EXPECT_EQ(profile::ReadInt("Station", QStringLiteral("Continuous"), 1), 0);
}

TEST_F(ContinuousStation, FailedOpenTellsTheFixAndTheReportListsEveryCheck)
{
    auto view = MakeView();
    EXPECT_FALSE(view->Continuous());
    view->StartPort(1);  // the link names nothing yet
    const QString tip = view->MessageField(1)->toolTip();
    EXPECT_TRUE(tip.contains(QStringLiteral("does not exist"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("plug in"))) << tip.toStdString();

    int shown = 0;
    ViewOptions options = m_test.Make();
    options.runPreflightReport = [&](CDoctorReport& report) {
        ++shown;
        const QString text = report.Report()->toPlainText();
        // COM5's missing device and the station's monitor files fail; the image passes.
        EXPECT_TRUE(text.contains(QStringLiteral("device present:"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("monitor files:"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("download image"))) << text.toStdString();
        EXPECT_TRUE(report.Verdict()->text().contains(QStringLiteral("2 problem")));
    };
    CTarvoView reporting(nullptr, options);
    reporting.OnInitialUpdate();
    reporting.ShowPreflightReport();
    EXPECT_EQ(shown, 1);
}

}  // namespace
}  // namespace tarvo::test

#endif  // TARVO_TARGET_SIM_PATH
