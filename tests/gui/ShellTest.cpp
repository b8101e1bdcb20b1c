// The application shell: marquee, main frame, menu, accelerator and about box.
#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QStatusTipEvent>
#include <QTimer>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/AboutBox.h"
#include "app/MainFrm.h"
#include "app/Marquee.h"
#include "app/TarvoApp.h"
#include "controls/Label.h"
#include "resources/Strings.h"
#include "tests/gui/GuiTestSupport.h"

namespace tarvo::test {
namespace {

TEST(Marquee, SeventySevenCharacterMessageStepsByTwoAndRestartsAtHalf)
{
    const std::string text = MarqueeText(std::string(77, 'x'));
    ASSERT_EQ(text.size(), 308u);
    std::size_t position = 0;
    std::vector<std::size_t> shown;
    for (int step = 0; step < 78; ++step)
        shown.push_back(MarqueeStep(position, text.size()));
    for (std::size_t i = 0; i < 77; ++i)
        EXPECT_EQ(shown[i], 2 * i);
    EXPECT_EQ(shown[76], 152u);
    EXPECT_EQ(shown[77], 0u);
}

TEST(Marquee, RestartShowsTheSameTextAsTheStart)
{
    const std::string message = strings::kMarqueeMessage;
    const std::string text = MarqueeText(message);
    EXPECT_EQ(text.substr(2 * message.size(), message.size()), message);
    std::size_t position = 0;
    for (std::size_t i = 0; i < 1000; ++i) {
        const std::size_t from = MarqueeStep(position, text.size());
        // The pane always has at least two copies' worth of text to show.
        EXPECT_GE(text.size() - from, 2 * message.size() - 2);
    }
    std::size_t tiny = 0;
    EXPECT_EQ(MarqueeStep(tiny, 0), 0u);
    EXPECT_EQ(MarqueeStep(tiny, 1), 0u);
}

using MainFrame = GuiTest;

TEST_F(MainFrame, FixedWindowAtTheTopLeftWithCaptionMenuAndPanes)
{
    TestOptions test;
    CTarvoApp station(test.Make());
    ASSERT_TRUE(station.InitInstance());
    CMainFrame* frame = station.Frame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Orvane Program Ver 1.3"));
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(frame->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
    EXPECT_LE(frame->width(), 1020);
    EXPECT_LE(frame->height(), 765);
    EXPECT_GE(frame->width(), frame->View()->width());
    EXPECT_EQ(frame->pos(), QPoint(0, 0));

    const QList<QAction*> menus = frame->menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("File(&F)"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("Settings(&S)"));
    EXPECT_EQ(menus[2]->text(), QStringLiteral("Station(&T)"));
    EXPECT_EQ(menus[3]->text(), QStringLiteral("Help(&H)"));
    EXPECT_EQ(frame->OpenAction()->text(), QStringLiteral("Main S/W Open(&O)...\tCtrl+O"));
    EXPECT_EQ(frame->ExitAction()->text(), QStringLiteral("Exit(&X)"));
    EXPECT_EQ(frame->AboutAction()->text(), QStringLiteral("Tarvo Infomation(&A)..."));
    EXPECT_EQ(frame->OpenAction()->statusTip(), QStringLiteral("Open Main Software"));

    const QString before = frame->MessagePane()->text();
    frame->OnMarqueeTimer();
    frame->OnMarqueeTimer();
    EXPECT_NE(frame->MessagePane()->text(), before);
    EXPECT_TRUE(QString::fromUtf8(strings::kMarqueeMessage).contains(frame->MessagePane()->text().left(20)));
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(frame->LockPane(i), nullptr);
}

TEST_F(MainFrame, CtrlOReachesTheViewsFileSelection)
{
    profile::WriteString(profile::kMainSwSection, QStringLiteral("Name"), QStringLiteral("/stored/image.cp64"));
    TestOptions test;
    CTarvoApp station(test.Make());
    ASSERT_TRUE(station.InitInstance());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(station.Frame()));
    station.Frame()->activateWindow();
    EXPECT_EQ(test.chooserCalls, 0);
    QTest::keyClick(station.Frame(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(test.chooserCalls, 1);
    station.Frame()->OpenAction()->trigger();
    EXPECT_EQ(test.chooserCalls, 2);
    // Cancelled: the stored image stays.
    EXPECT_EQ(station.Frame()->View()->PathLine()->Text(), QStringLiteral("/stored/image.cp64"));
}

// A row refused for want of an image leaves its reason in the status bar until a good choice:
// passing messages and menu prompts do not wipe it.
TEST_F(MainFrame, StatusBarKeepsAStandingProblemUntilAGoodChoice)
{
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 1);
    TestOptions test;  // the start-up file dialog is cancelled: no image
    CTarvoApp station(test.Make());
    ASSERT_TRUE(station.InitInstance());
    CMainFrame& frame = *station.Frame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    QTest::mouseClick(frame.View()->StateField(1), Qt::LeftButton);
    const QString problem = frame.statusBar()->currentMessage();
    EXPECT_TRUE(problem.contains(QStringLiteral("FILE OPEN"))) << problem.toStdString();
    EXPECT_EQ(frame.StatusProblem(), problem);

    emit frame.View()->statusMessage(QStringLiteral("COM6: something passing"));
    EXPECT_EQ(frame.statusBar()->currentMessage(), QStringLiteral("COM6: something passing"));
    emit frame.View()->statusMessage(QString());
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.statusBar()->currentMessage(), problem);
    QStatusTipEvent prompt(QStringLiteral("Open Main Software"));
    QCoreApplication::sendEvent(&frame, &prompt);
    QStatusTipEvent promptGone{QString()};
    QCoreApplication::sendEvent(&frame, &promptGone);
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.statusBar()->currentMessage(), problem);

    QTemporaryDir folder;
    test.chosen = folder.filePath(QStringLiteral("phone.m0"));
    ASSERT_TRUE(WriteMainSoftware(test.chosen));
    frame.View()->SelectMainSoftware();
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame.statusBar()->currentMessage().isEmpty());
    EXPECT_TRUE(frame.StatusProblem().isEmpty());
}

// The file dialog opens with "*.m0" as its file name.
TEST_F(MainFrame, FileDialogOpensWithTheM0Pattern)
{
    profile::WriteString(profile::kMainSwSection, QStringLiteral("Name"), QStringLiteral("/stored/image.cp64"));
    TestOptions test;
    ViewOptions options = test.Make();
    options.chooseMainSoftware = nullptr;  // the real dialog
    CTarvoView view(nullptr, options);
    view.OnInitialUpdate();
    QString name;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        seen = true;
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name = edit->text();
        dialog->reject();
    });
    view.SelectMainSoftware();
    EXPECT_TRUE(seen);
    EXPECT_EQ(name, QStringLiteral("*.m0"));
    EXPECT_EQ(view.PathLine()->Text(), QStringLiteral("/stored/image.cp64"));
}

TEST(AboutBox, ShowsVersionAndClosesWithOk)
{
    CAboutBox about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Tarvo 정보"));
    auto* version = about.findChild<QLabel*>(QStringLiteral("version"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("Tarvo 버전 1.3"));
    EXPECT_EQ(about.OkButton()->text(), QStringLiteral("확인"));
    EXPECT_TRUE(about.OkButton()->isDefault());
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    QTest::mouseClick(about.OkButton(), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace tarvo::test
