// Settings the administrator locks in the system file (TARVO_SYSTEM_CONF here): they override
// the operator's profile, and the window keeps their controls disabled, naming the file.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QMenu>

#include "app/MainFrm.h"
#include "controls/RoundButton.h"
#include "resources/Forms.h"
#include "station/ComPortSet.h"
#include "station/EngineerLock.h"
#include "tests/gui/GuiTestSupport.h"

namespace tarvo::test {
namespace {

class LockedSettings : public GuiTest {
protected:
    void WriteSystem(const QByteArray& text)
    {
        QFile file(m_profile.SystemConf());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
};

TEST_F(LockedSettings, TheAdministratorsValuesWinAndTheirControlsAreDisabled)
{
    const QString image = MakeImage(m_profile.Home().path() + QStringLiteral("/images"));
    ASSERT_FALSE(image.isEmpty());
    WriteSystem("[Station]\nContinuous=0\nSound=1\nEngineerPin=" + HashPin(QStringLiteral("135790"), 1000).toLatin1() +
                "\n[MainSW]\nName=" + QFile::encodeName(image) + "\n[Port]\nm_intPort1=1\n[Device]\nCOM5=/dev/ttyUSB9\n");
    // The operator's own profile says otherwise, edited by hand.
    profile::WriteInt("Station", QStringLiteral("Continuous"), 1);
    profile::WriteInt("Station", QStringLiteral("Sound"), 0);
    profile::WriteString("Station", QStringLiteral("EngineerPin"), QString());
    profile::WriteString(profile::kMainSwSection, QString::fromLatin1(profile::kMainSwKey), QStringLiteral("/tmp/other.cp64"));
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 0);

    TestOptions test;
    CMainFrame frame(test.Make());
    CTarvoView* view = frame.View();
    view->OnInitialUpdate();
    EXPECT_FALSE(view->Continuous());
    EXPECT_TRUE(view->SoundOn());
    EXPECT_TRUE(view->EngineerLock().HasPin()) << "deleting the PIN from the profile removes nothing";
    EXPECT_EQ(QString::fromStdString(view->ImagePath()), image);
    EXPECT_EQ(view->EnabledFlag(1), 1);
    EXPECT_EQ(profile::DeviceFor(5), QStringLiteral("/dev/ttyUSB9"));

    const QString tip = QStringLiteral("set by the administrator in %1").arg(m_profile.SystemConf());
    for (QAction* action : {frame.ContinuousAction(), frame.SoundAction(), frame.PinAction(), frame.OpenAction()}) {
        EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
        EXPECT_EQ(action->toolTip(), tip) << action->objectName().toStdString();
    }
    EXPECT_TRUE(frame.LanguageMenu()->menuAction()->isEnabled()) << "not locked";
    EXPECT_FALSE(view->Button(forms::kIdFileOpen)->isEnabled());
    EXPECT_EQ(view->Button(forms::kIdFileOpen)->toolTip(), tip);
    EXPECT_TRUE(view->Button(forms::kIdComPortSetting)->isEnabled()) << "rows 2 to 8 are the operator's";

    // Switching a locked setting from code is refused too.
    view->SetContinuous(true);
    EXPECT_FALSE(view->Continuous());

    // In the port dialog the locked box and device are disabled; the others are not.
    CComPortSet dialog(nullptr, [] { return QList<SerialDeviceChoice>{}; });
    dialog.show();
    EXPECT_FALSE(dialog.PortBox(1)->isEnabled());
    EXPECT_EQ(dialog.PortBox(1)->toolTip(), tip);
    EXPECT_TRUE(dialog.PortBox(1)->isChecked());
    EXPECT_FALSE(dialog.DeviceBox(1)->isEnabled());
    EXPECT_TRUE(dialog.DeviceBox(1)->toolTip().startsWith(tip));
    EXPECT_TRUE(dialog.PortBox(2)->isEnabled());
    EXPECT_TRUE(dialog.DeviceBox(2)->isEnabled());
}

TEST_F(LockedSettings, WithoutTheFileEverythingIsTheOperators)
{
    TestOptions test;
    CMainFrame frame(test.Make());
    for (QAction* action : {frame.ContinuousAction(), frame.SoundAction(), frame.PinAction(), frame.OpenAction()})
        EXPECT_TRUE(action->isEnabled()) << action->objectName().toStdString();
    EXPECT_FALSE(profile::IsLocked("Station", QStringLiteral("Continuous")));
}

// The line database's pane: hidden while nothing waits, the count while records wait, and a
// failure only after it has lasted 60 s, in red, with its reason and since when. A passing
// message in the status bar hides neither it nor the totals.
TEST_F(LockedSettings, LineDatabasePaneWaitsAMinuteBeforeItCallsAFailure)
{
    TestOptions test;
    CMainFrame frame(test.Make());
    frame.show();
    QLabel* pane = frame.LineDatabasePane();
    const QDateTime start(QDate(2026, 12, 8), QTime(9, 14));
    frame.ShowLineStatusAt(0, 0, QString(), start);
    EXPECT_TRUE(pane->isHidden());
    frame.ShowLineStatusAt(3, 0, QString(), start);
    EXPECT_EQ(pane->text(), QStringLiteral("Line DB: 3 waiting"));
    EXPECT_FALSE(pane->isHidden());
    frame.ShowLineStatusAt(4, 0, QStringLiteral("connection refused"), start);
    EXPECT_EQ(pane->text(), QStringLiteral("Line DB: 4 waiting")) << "a short outage is no news";
    frame.ShowLineStatusAt(5, 2, QStringLiteral("connection refused"), start.addSecs(61));
    EXPECT_EQ(pane->text(), QStringLiteral("Line DB: 5, 2 set aside waiting \u2014 connection refused since 09:14"));
    EXPECT_TRUE(pane->styleSheet().contains(QStringLiteral("red")));
    emit frame.View()->statusMessage(QStringLiteral("a passing message"));
    EXPECT_FALSE(pane->isHidden());
    EXPECT_FALSE(frame.RecordTotalsPane()->isHidden());
    frame.ShowLineStatusAt(0, 0, QString(), start.addSecs(90));
    EXPECT_TRUE(pane->isHidden());
}

}  // namespace
}  // namespace tarvo::test
