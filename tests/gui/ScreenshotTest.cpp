// Pictures of the station window for review: start-up, rows in every state, the port dialog
// and the about box, written as PNG files to <build>/screenshots/.
#include <QCoreApplication>
#include <QDir>
#include <QPixmap>

#include "app/AboutBox.h"
#include "app/MainFrm.h"
#include "app/TarvoApp.h"
#include "controls/Label.h"
#include "engine/ImageConverter.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "station/ComPortSet.h"
#include "support/Pty.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/SimHandset.h"

namespace tarvo::test {
namespace {

QString ShotPath(const QString& name)
{
    QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots"));
    dir.mkpath(QStringLiteral("."));
    return dir.absoluteFilePath(name);
}

void Save(QWidget& widget, const QString& name)
{
    const QPixmap shot = widget.grab();
    ASSERT_FALSE(shot.isNull());
    ASSERT_TRUE(shot.save(ShotPath(name))) << ShotPath(name).toStdString();
}

using Screenshots = GuiTest;

#ifdef TARVO_TARGET_SIM_PATH
TEST_F(Screenshots, StationWindowDialogAndAboutBox)
{
    for (int n = 1; n <= 8; ++n)
        profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), n == 1 ? 0 : 1);
    for (int port = 5; port <= 12; ++port)
        profile::SetDeviceFor(port, m_profile.Home().filePath(QStringLiteral("no-tty")));
    // A real image: rows are armed only with one.
    QTemporaryDir folder;
    ASSERT_TRUE(QDir().mkpath(folder.filePath(QStringLiteral("line3/main_sw"))));
    const QString main = folder.filePath(QStringLiteral("line3/main_sw/phone_v21.m0"));
    ASSERT_TRUE(WriteMainSoftware(main));
    std::string image;
    ConvertError error;
    ASSERT_TRUE(ConvertImageFile(QFile::encodeName(main).toStdString(), image, error));
    profile::WriteString(profile::kMainSwSection, QStringLiteral("Name"), QString::fromStdString(image));
    // Row 3's handset erases and never confirms: the row stays at "ERASE".
    SimulatedHandset erasing({QStringLiteral("--fault"), QStringLiteral("erase-unconfirmed")});
    ASSERT_TRUE(erasing.WaitReady());
    profile::SetDeviceFor(7, erasing.Link());
    TestOptions test;
    CTarvoApp station(test.Make());
    ASSERT_TRUE(station.InitInstance());
    CMainFrame& frame = *station.Frame();
    CTarvoView& view = *frame.View();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    view.OnTimer(1);
    Save(frame, QStringLiteral("station-startup.png"));

    // Row 2 ready on a device that opens; row 7 on one that does not.
    Pty pty;
    ASSERT_TRUE(pty.ok());
    profile::SetDeviceFor(6, QString::fromStdString(pty.SlavePath()));
    view.StartPort(2);
    view.StartPort(7);
    const auto status = [&](int row, int code, const char* text) {
        const CWinMonitorCtrl& engine = view.Engine(row);
        ASSERT_TRUE(DeliverFromWorker([&] { view.OnPortStatus(engine, StatusReport{row + 4, code, text}); }));
    };
    const auto progress = [&](int row, int percent, int size) {
        const CWinMonitorCtrl& engine = view.Engine(row);
        const int position = static_cast<int>(static_cast<long long>(size) * percent / 100);
        ASSERT_TRUE(DeliverFromWorker([&] { view.OnPortProgress(engine, ProgressReport{row + 4, percent, position, size}); }));
    };
    view.StartPort(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.StateField(3)->Text() == QStringLiteral("ERASE"); }, 10000));
    progress(4, 61, 2000000);
    progress(5, 100, 1500000);
    status(5, status::kPass, "PASS - Checksum: [3F2A,3F2A]");
    progress(6, 37, 1800000);
    status(6, status::kDownloadAborted, "Downloading Aborted !!!");
    progress(8, 84, 1000000);
    view.OnTimer(9);  // row 8 blinks (a fresh paint shows the stored silver background)
    view.OnTimer(1);
    QCoreApplication::processEvents();
    Save(frame, QStringLiteral("station-rows.png"));
    EXPECT_EQ(view.StateField(3)->Text(), QStringLiteral("ERASE"));
    EXPECT_EQ(view.StateField(5)->Text(), QStringLiteral("COMPLETE"));

    CComPortSet dialog(&frame, [] {
        return QList<SerialDeviceChoice>{{QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.1:1.0-port0"), {}},
                                         {QStringLiteral("/dev/ttyUSB0"), {}}};
    });
    profile::SetDeviceFor(5, QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.1:1.0-port0"));
    profile::SetDeviceFor(6, QStringLiteral("/dev/ttyUSB1"));
    for (int port = 7; port <= 12; ++port)
        profile::SetDeviceFor(port, QString());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Save(dialog, QStringLiteral("port-dialog.png"));
    dialog.reject();

    CAboutBox about(&frame);
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    Save(about, QStringLiteral("about-box.png"));
}
#endif  // TARVO_TARGET_SIM_PATH

}  // namespace
}  // namespace tarvo::test
