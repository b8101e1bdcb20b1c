// Pictures of the window in English and in Korean for review: the station window with rows in
// several states and unit labels, and the engineer PIN prompt, written as PNG files to
// <build>/screenshots/ (window-<language>.png, pin-prompt-, about-box- and port-dialog-).
#include <QCoreApplication>
#include <QDir>
#include <QPixmap>

#include "app/AboutBox.h"
#include "app/MainFrm.h"
#include "app/TarvoApp.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "resources/Strings.h"
#include "station/ComPortSet.h"
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
    CEngineerLock(nullptr).SetPin(QStringLiteral("2468"));

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
        prompt.PinEdit()->setText(QStringLiteral("24"));
        prompt.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&prompt));
        Save(prompt, QStringLiteral("pin-prompt-%1.png").arg(language));
        prompt.reject();

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
