// Pictures of the window in English and in Korean for review: the station window with rows in
// several states and unit labels, the production record view and the engineer PIN prompt, written as PNG files to
// <build>/screenshots/ (window-<language>.png, record-view-, pin-prompt-, about-box- and port-dialog-).
#include <QCoreApplication>
#include <QDir>
#include <QPixmap>

#include "app/AboutBox.h"
#include "app/MainFrm.h"
#include "app/TarvoApp.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "resources/Strings.h"
#include "record/RecordStore.h"
#include "station/ComPortSet.h"
#include "station/RecordDialog.h"
#include "station/PinDialogs.h"
#include "support/Pty.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/OperatorSupport.h"

namespace tarvo::test {
namespace {

void Save(QWidget& widget, const QString& name)
{
    QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots"));
    dir.mkpath(QStringLiteral("."));
    const QPixmap shot = widget.grab();
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(dir.absoluteFilePath(name))) << name.toStdString();
}

using LanguageScreenshots = GuiTest;

TEST_F(LanguageScreenshots, WindowAndPinPromptInEnglishAndKorean)
{
    for (int n = 1; n <= 8; ++n)
        profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), 1);
    for (int port = 5; port <= 12; ++port)
        profile::SetDeviceFor(port, m_profile.Home().filePath(QStringLiteral("no-tty")));
    profile::WriteString(profile::kMainSwSection, QStringLiteral("Name"),
                         MakeImage(m_profile.Home().filePath(QStringLiteral("line3/main_sw")), QStringLiteral("phone_v21")));
    Pty pty1;
    Pty pty2;
    ASSERT_TRUE(pty1.ok() && pty2.ok());
    profile::SetDeviceFor(5, QString::fromStdString(pty1.SlavePath()));
    profile::SetDeviceFor(6, QString::fromStdString(pty2.SlavePath()));
    CEngineerLock(nullptr).SetPin(QStringLiteral("246813"));
    // A few runs of a shift for the production record view.
    const std::string db = m_profile.Home().filePath(QStringLiteral("records.sqlite")).toStdString();
    {
        record::RecordStore store;
        std::string error;
        ASSERT_TRUE(store.Open(db, error)) << error;
        const char* results[] = {"PASS", "PASS", "FAIL", "PASS", "ERROR", "PASS"};
        const char* texts[] = {"PASS - Checksum: [3F2A,3F2A]", "PASS - Checksum: [3F2A,3F2A]",
                               "FAIL - Checksum: [3F2A,3E11]", "PASS - Checksum: [3F2A,3F2A]",
                               "Downloading Aborted !!!", "PASS - Checksum: [3F2A,3F2A]"};
        for (int n = 0; n < 6; ++n) {
            record::RunRecord r;
            r.run_id = "shot-" + std::to_string(n);
            r.station = "LINE3-ST2";
            r.port = 5 + n;
            r.result = results[n];
            r.status = n == 2 ? 21 : n == 4 ? 41 : 20;
            r.text = texts[n];
            r.started_at = "2026-12-07T10:1" + std::to_string(n) + ":04.512Z";
            r.ended_at = "2026-12-07T10:1" + std::to_string(n) + ":52.090Z";
            r.unit = "IMEI 3540000000000" + std::to_string(10 + n);
            r.image = "/srv/line3/main_sw/phone_v21.cp64";
            r.total_ms = 47578 + 311 * n;
            ASSERT_TRUE(store.Upsert(r, "", error)) << error;
        }
    }

    for (const QString& language : {QStringLiteral("en"), QStringLiteral("ko")}) {
        CLanguages::Store(language);
        ManualClock clock;
        TestOptions test;
        ViewOptions options = test.Make();
        options.lockClock = &clock;
        CTarvoApp station(options);
        ASSERT_TRUE(station.InitInstance());
        CMainFrame& frame = *station.Frame();
        CTarvoView& view = *frame.View();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));

        const auto status = [&](int row, int code, const char* text) {
            const CWinMonitorCtrl& engine = view.Engine(row);
            ASSERT_TRUE(DeliverFromWorker([&] { view.OnPortStatus(engine, StatusReport{row + 4, code, text}); }));
        };
        const auto progress = [&](int row, int percent) {
            const CWinMonitorCtrl& engine = view.Engine(row);
            ASSERT_TRUE(DeliverFromWorker([&] {
                view.OnPortProgress(engine, ProgressReport{row + 4, percent, percent * 18000, 1800000});
            }));
        };
        // Row 1 armed with a scanned label, row 2 armed, row 3 erasing, row 4 downloading,
        // row 5 passed, row 6 failed, row 7 could not open its port.
        view.StartPort(1);
        view.StartPort(2);
        view.TakeUnitLabel(QStringLiteral("IMEI 354000000000011"));
        status(3, status::kReadyForDownload, "Download Reday End !");
        progress(4, 61);
        view.SelectRow(5);
        view.TakeUnitLabel(QStringLiteral("IMEI 354000000000052"));
        progress(5, 100);
        status(5, status::kPass, "PASS - Checksum: [3F2A,3F2A]");
        progress(6, 37);
        status(6, status::kFail, "FAIL - Checksum: [3F2A,3E11]");
        view.StartPort(7);
        view.OnTimer(1);
        frame.OnMarqueeTimer();
        QCoreApplication::processEvents();
        Save(frame, QStringLiteral("window-%1.png").arg(language));

        // The PIN prompt after one wrong PIN.
        CPinPrompt prompt(view.EngineerLock(), strings::kGuardPortSetting, &frame);
        prompt.PinEdit()->setText(QStringLiteral("1357"));
        prompt.accept();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !prompt.Checking(); }, 5000));
        prompt.PinEdit()->setText(QStringLiteral("24"));
        prompt.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&prompt));
        Save(prompt, QStringLiteral("pin-prompt-%1.png").arg(language));
        prompt.reject();

        CRecordDialog records(db, &frame);
        records.resize(900, 360);
        records.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&records));
        Save(records, QStringLiteral("record-view-%1.png").arg(language));
        records.reject();

        CAboutBox about(&frame);
        about.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
        Save(about, QStringLiteral("about-box-%1.png").arg(language));
        CComPortSet ports(&frame, [] { return QList<SerialDeviceChoice>{}; });
        ports.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&ports));
        Save(ports, QStringLiteral("port-dialog-%1.png").arg(language));
        ports.reject();
    }
    CLanguages::Store(QString());
}

}  // namespace
}  // namespace tarvo::test
