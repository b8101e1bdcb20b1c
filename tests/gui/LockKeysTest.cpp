// The CAP / NUM / SCRL panes show the lock state of the display the window is on: on an X
// server the XKB indicators, off X11 nothing. The X11 case runs this test program again as a
// child on a private Xvfb server, where the test itself switches the locks.
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include "app/LockKeys.h"
#include "app/MainFrm.h"
#include "tests/gui/GuiTestSupport.h"

#if TARVO_HAVE_XKB
#include <X11/XKBlib.h>
#include <X11/keysym.h>
#endif

namespace tarvo::test {
namespace {

using LockPanes = GuiTest;

QStringList PaneTexts(const CMainFrame& frame)
{
    return {frame.LockPane(0)->text(), frame.LockPane(1)->text(), frame.LockPane(2)->text()};
}

TEST_F(LockPanes, OffX11NothingIsKnownAndThePanesStayEmpty)
{
    if (QGuiApplication::platformName() == QStringLiteral("xcb"))
        GTEST_SKIP() << "runs on a display without X11";
    CLockKeys keys;
    EXPECT_FALSE(keys.Known());
    EXPECT_FALSE(keys.IsOn(LockKey::Caps));
    TestOptions test;
    CMainFrame frame(test.Make());
    frame.OnMarqueeTimer();
    EXPECT_EQ(PaneTexts(frame), (QStringList{QString(), QString(), QString()}));
}

#if TARVO_HAVE_XKB

// Switches the three locks of the display's core keyboard.
void SetLocks(Display* display, bool on)
{
    const unsigned num = XkbKeysymToModifiers(display, XK_Num_Lock);
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask | num, on ? (LockMask | num) : 0);
    const Atom scroll = XInternAtom(display, "Scroll Lock", True);
    if (scroll != None)
        XkbSetNamedIndicator(display, scroll, True, on ? True : False, False, nullptr);
    XSync(display, False);
}

// A free display number: no socket and no lock file of a running server.
int FreeDisplay()
{
    for (int tries = 0; tries < 200; ++tries) {
        const int n = 100 + static_cast<int>(QRandomGenerator::global()->bounded(800));
        if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) &&
            !QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            return n;
    }
    return -1;
}

TEST_F(LockPanes, OnX11ThePanesFollowTheDisplaysIndicators)
{
    if (qEnvironmentVariable("TARVO_XKB_CHILD") == QStringLiteral("1")) {
        // The child, on the private server.
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        ASSERT_NE(x11, nullptr);
        Display* display = x11->display();
        ASSERT_NE(display, nullptr);
        SetLocks(display, false);
        TestOptions test;
        CMainFrame frame(test.Make());
        frame.OnMarqueeTimer();
        EXPECT_EQ(PaneTexts(frame), (QStringList{QString(), QString(), QString()}));
        SetLocks(display, true);
        frame.OnMarqueeTimer();
        EXPECT_EQ(PaneTexts(frame), (QStringList{QStringLiteral("CAP"), QStringLiteral("NUM"), QStringLiteral("SCRL")}));
        SetLocks(display, false);
        frame.OnMarqueeTimer();
        EXPECT_EQ(PaneTexts(frame), (QStringList{QString(), QString(), QString()}));
        return;
    }

    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "Xvfb is not installed (tools/install-deps.sh installs it)";
    const int number = FreeDisplay();
    ASSERT_GE(number, 0);
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(xvfb, {QStringLiteral(":%1").arg(number), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    ASSERT_TRUE(server.waitForStarted(5000));
    const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, 10000)) << server.readAll().toStdString();

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(number));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("TARVO_XKB_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=LockPanes.OnX11ThePanesFollowTheDisplaysIndicators")});
    const bool finished = child.waitForFinished(60000);
    const std::string output = child.readAll().toStdString();
    EXPECT_TRUE(finished) << output;
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(child.exitCode(), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    server.terminate();
    server.waitForFinished(5000);
}

#endif  // TARVO_HAVE_XKB

}  // namespace
}  // namespace tarvo::test
