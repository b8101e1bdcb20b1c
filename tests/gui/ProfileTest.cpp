// Port selection and main software selection against a fresh profile per test.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

#include "controls/Label.h"
#include "engine/WinMonitorCtrl.h"
#include "app/MainFrm.h"
#include "app/TarvoApp.h"
#include "station/ComPortSet.h"
#include "tests/gui/GuiTestSupport.h"

namespace tarvo::test {
namespace {

using PortSelection = GuiTest;
using MainSoftware = GuiTest;

bool AnyRowEnabled(const CTarvoView& view)
{
    for (int row = 1; row <= 8; ++row) {
        if (view.StateField(row)->isEnabled())
            return true;
    }
    return false;
}

int Flag(int n) { return profile::ReadInt(profile::kPortSection, profile::PortFlagKey(n), -1); }

QList<SerialDeviceChoice> NoDevices() { return {}; }

TEST_F(PortSelection, FreshProfileStoresAllRowsAtOnceButCancelLeavesTheRowsDisabled)
{
    TestOptions test;
    ViewOptions options = test.Make();
    bool allCheckedAtOpening = false;
    options.runPortDialog = [&](CComPortSet& dialog) {
        dialog.show();
        allCheckedAtOpening = true;
        for (int n = 1; n <= 8; ++n)
            allCheckedAtOpening = allCheckedAtOpening && dialog.PortBox(n)->isChecked();
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
        return dialog.result() == QDialog::Accepted;
    };
    {
        CTarvoView view(nullptr, options);
        view.OnInitialUpdate();
        EXPECT_FALSE(AnyRowEnabled(view));
        view.EditPortSettings();
        EXPECT_TRUE(allCheckedAtOpening);
        for (int n = 1; n <= 8; ++n)
            EXPECT_EQ(Flag(n), 1) << n;
        EXPECT_FALSE(AnyRowEnabled(view));
    }
    // The next start finds all eight flags.
    CTarvoView restarted(nullptr, options);
    restarted.OnInitialUpdate();
    for (int row = 1; row <= 8; ++row)
        EXPECT_TRUE(restarted.StateField(row)->isEnabled()) << row;
}

TEST_F(PortSelection, FirstFlagZeroShowsEveryBoxUncheckedAndWritesNothing)
{
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 0);
    CComPortSet dialog(nullptr, NoDevices);
    dialog.show();
    for (int n = 1; n <= 8; ++n)
        EXPECT_FALSE(dialog.PortBox(n)->isChecked()) << n;
    for (int n = 2; n <= 8; ++n)
        EXPECT_FALSE(TempProfile::Has(profile::kPortSection, profile::PortFlagKey(n))) << n;
}

TEST_F(PortSelection, EveryClickIsStoredAndCancelPutsItBack)
{
    for (int n = 1; n <= 8; ++n)
        profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), n == 3 ? 1 : 0);
    TestOptions test;
    ViewOptions options = test.Make();
    std::vector<int> afterClicks;
    options.runPortDialog = [&](CComPortSet& dialog) {
        dialog.show();
        QTest::mouseClick(dialog.PortBox(3), Qt::LeftButton);
        afterClicks.push_back(Flag(3));
        QTest::mouseClick(dialog.PortBox(3), Qt::LeftButton);
        afterClicks.push_back(Flag(3));
        QTest::mouseClick(dialog.PortBox(6), Qt::LeftButton);
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
        return dialog.result() == QDialog::Accepted;
    };
    CTarvoView view(nullptr, options);
    view.OnInitialUpdate();
    view.EditPortSettings();
    EXPECT_EQ(afterClicks, (std::vector<int>{0, 1}));
    EXPECT_EQ(Flag(3), 1);
    EXPECT_EQ(Flag(6), 0);  // written by its click, put back by CANCEL
    // The view still shows the flags it read at start-up.
    EXPECT_TRUE(view.StateField(3)->isEnabled());
    EXPECT_FALSE(view.StateField(6)->isEnabled());
}

TEST_F(PortSelection, OkAppliesTheFlagsAndOnlyOneEnablesARow)
{
    for (int n = 1; n <= 8; ++n)
        profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), 1);
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(4), 5);
    TestOptions test;
    ViewOptions options = test.Make();
    bool box4Checked = true;
    options.runPortDialog = [&](CComPortSet& dialog) {
        dialog.show();
        box4Checked = dialog.PortBox(4)->isChecked();
        QTest::mouseClick(dialog.PortBox(2), Qt::LeftButton);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        return dialog.result() == QDialog::Accepted;
    };
    CTarvoView view(nullptr, options);
    view.OnInitialUpdate();
    EXPECT_FALSE(view.StateField(4)->isEnabled());
    EXPECT_EQ(view.EnabledFlag(4), 5);
    EXPECT_TRUE(view.StateField(2)->isEnabled());
    view.EditPortSettings();
    EXPECT_FALSE(box4Checked);
    EXPECT_FALSE(view.StateField(2)->isEnabled());
    EXPECT_FALSE(view.StateField(4)->isEnabled());
    EXPECT_TRUE(view.StateField(1)->isEnabled());
}

// Each box names its COM port; a device field is stored like its box, at once, and CANCEL
// undoes nothing.
TEST_F(PortSelection, DeviceFieldsNameTheirPortAndWriteThroughLikeTheBoxes)
{
    profile::SetDeviceFor(7, QStringLiteral("/dev/ttyUSB3"));
    const auto lister = [] {
        return QList<SerialDeviceChoice>{{QStringLiteral("/dev/serial/by-path/pci-0:1.0-port0"), QStringLiteral("hub 1")},
                                         {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R")}};
    };
    {
        CComPortSet dialog(nullptr, lister);
        dialog.show();
        QComboBox* com5 = dialog.DeviceBox(1);
        EXPECT_EQ(com5->property("portNumber").toInt(), 5);
        EXPECT_TRUE(com5->isEditable());
        ASSERT_EQ(com5->count(), 2);
        EXPECT_EQ(com5->itemText(0), QStringLiteral("/dev/serial/by-path/pci-0:1.0-port0"));
        EXPECT_TRUE(com5->currentText().isEmpty());  // nothing stored: the default device
        EXPECT_EQ(dialog.DeviceBox(3)->currentText(), QStringLiteral("/dev/ttyUSB3"));
        // The boxes keep their ids and name their COM ports.
        EXPECT_EQ(dialog.PortBox(3)->property("controlId").toInt(), 1053);
        EXPECT_EQ(dialog.PortBox(1)->text(), QStringLiteral("PORT 1 (COM5)"));
        EXPECT_EQ(dialog.PortBox(8)->text(), QStringLiteral("PORT 8 (COM12)"));

        // Picking an entry stores it at once.
        com5->setFocus();
        QTest::keyClick(com5, Qt::Key_Down);
        const QString picked = com5->currentText();
        EXPECT_FALSE(picked.isEmpty());
        EXPECT_EQ(profile::DeviceFor(5), picked);
        // An edited field is stored when it is left; an emptied one means the default.
        dialog.DeviceBox(3)->setCurrentText(QString());
        emit dialog.DeviceBox(3)->lineEdit()->editingFinished();
        EXPECT_FALSE(TempProfile::Has(profile::kDeviceSection, QStringLiteral("COM7")));
        dialog.DeviceBox(8)->setCurrentText(QStringLiteral("/dev/pts/9"));
        emit dialog.DeviceBox(8)->lineEdit()->editingFinished();
        EXPECT_EQ(profile::DeviceFor(12), QStringLiteral("/dev/pts/9"));
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    }
    // CANCEL put every device back as the dialog found it.
    EXPECT_TRUE(profile::DeviceFor(5).isEmpty());
    EXPECT_EQ(profile::DeviceFor(7), QStringLiteral("/dev/ttyUSB3"));
    EXPECT_TRUE(profile::DeviceFor(12).isEmpty());
    {
        CComPortSet dialog(nullptr, lister);
        dialog.show();
        // Still in the field when OK is pressed.
        dialog.DeviceBox(1)->setCurrentText(QStringLiteral("/dev/ttyACM4"));
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    }
    EXPECT_EQ(profile::DeviceFor(5), QStringLiteral("/dev/ttyACM4"));
    const MapPortDirectory directory = profile::PortDirectory();
    EXPECT_EQ(directory.DevicePath(5), "/dev/ttyACM4");
    EXPECT_EQ(directory.DevicePath(7), "/dev/ttyUSB3");
    EXPECT_EQ(directory.DevicePath(8), "/dev/ttyS7");
}

// The dialog fits beside the main window: never wider than it, with long device names too.
TEST_F(PortSelection, DialogIsNoWiderThanTheMainWindow)
{
    TestOptions test;
    CTarvoApp station(test.Make());
    ASSERT_TRUE(station.InitInstance());
    const auto lister = [] {
        return QList<SerialDeviceChoice>{
            {QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.1.4.2:1.0-port0-and-a-long-tail"), {}}};
    };
    CComPortSet dialog(station.Frame(), lister);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_LE(dialog.frameGeometry().width(), station.Frame()->frameGeometry().width());
    for (int n = 1; n <= 8; ++n) {
        // Every box shows its whole caption and its field lies inside the dialog.
        EXPECT_GE(dialog.PortBox(n)->width(), dialog.PortBox(n)->sizeHint().width()) << n;
        EXPECT_LE(dialog.DeviceBox(n)->geometry().right(), dialog.width()) << n;
        EXPECT_GE(dialog.DeviceBox(n)->width(), 80) << n;
    }
}

TEST_F(MainSoftware, ChoiceIsConvertedAndTheImagePathShownAndStored)
{
    QTemporaryDir folder;
    const QString main = folder.filePath(QStringLiteral("phone.m0"));
    ASSERT_TRUE(WriteMainSoftware(main));
    TestOptions test;
    test.chosen = main;
    CTarvoView view(nullptr, test.Make());
    view.OnInitialUpdate();  // no path stored: the file selection runs at start-up
    EXPECT_EQ(test.chooserCalls, 1);
    const QString image = folder.filePath(QStringLiteral("phone.cp64"));
    EXPECT_EQ(view.PathLine()->Text(), image);
    EXPECT_EQ(profile::ReadString(profile::kMainSwSection, QStringLiteral("Name")), image);
    EXPECT_TRUE(QFileInfo::exists(image));

    // Restarting row 1 replaces its engine but not the view's image path.
    profile::SetDeviceFor(5, folder.filePath(QStringLiteral("no-such-tty")));
    view.StartPort(1);
    EXPECT_EQ(view.Engine(1).ImagePath(), "");
    EXPECT_EQ(view.PathLine()->Text(), image);
    EXPECT_EQ(QString::fromStdString(view.ImagePath()), image);
}

// A failed choice leaves the image in force where it was (path line, profile) and keeps the
// failure on show until a choice succeeds.
TEST_F(MainSoftware, AFailedChoiceKeepsTheImageInForceAndShowsWhy)
{
    QTemporaryDir folder;
    const QString main = folder.filePath(QStringLiteral("PHONE.M0"));
    ASSERT_TRUE(WriteMainSoftware(main));
    profile::WriteString(profile::kMainSwSection, QStringLiteral("Name"), QStringLiteral("/old/image.cp64"));
    TestOptions test;
    test.chosen = main;
    CTarvoView view(nullptr, test.Make());
    view.OnInitialUpdate();
    EXPECT_EQ(test.chooserCalls, 0);  // a stored path: no dialog at start-up
    EXPECT_EQ(view.PathLine()->Text(), QStringLiteral("/old/image.cp64"));

    QSignalSpy problems(&view, &CTarvoView::statusProblem);
    view.SelectMainSoftware();
    EXPECT_EQ(view.PathLine()->Text(), QStringLiteral("/old/image.cp64"));
    EXPECT_EQ(view.ImagePath(), "/old/image.cp64");
    EXPECT_EQ(profile::ReadString(profile::kMainSwSection, QStringLiteral("Name")), QStringLiteral("/old/image.cp64"));
    EXPECT_TRUE(view.PathLine()->toolTip().contains(QStringLiteral("PHONE.M0"))) << view.PathLine()->toolTip().toStdString();
    ASSERT_EQ(problems.count(), 1);
    EXPECT_TRUE(problems.at(0).at(0).toString().contains(QStringLiteral("PHONE.M0")));

    // Also when row 1's engine was replaced in between (it then holds no image of its own).
    const QString good = folder.filePath(QStringLiteral("phone.m0"));
    ASSERT_TRUE(WriteMainSoftware(good));
    test.chosen = good;
    view.SelectMainSoftware();
    const QString image = folder.filePath(QStringLiteral("phone.cp64"));
    ASSERT_EQ(view.PathLine()->Text(), image);
    EXPECT_TRUE(problems.back().at(0).toString().isEmpty());
    profile::SetDeviceFor(5, folder.filePath(QStringLiteral("no-such-tty")));
    view.StartPort(1);
    test.chosen = main;
    view.SelectMainSoftware();
    EXPECT_EQ(view.PathLine()->Text(), image);
    EXPECT_EQ(profile::ReadString(profile::kMainSwSection, QStringLiteral("Name")), image);
}

TEST_F(MainSoftware, AFailedChoiceKeepsAnEarlierImageOfRowOnesEngine)
{
    QTemporaryDir folder;
    const QString good = folder.filePath(QStringLiteral("phone.m0"));
    ASSERT_TRUE(WriteMainSoftware(good));
    TestOptions test;
    test.chosen = good;
    CTarvoView view(nullptr, test.Make());
    view.OnInitialUpdate();
    const QString image = view.PathLine()->Text();
    test.chosen = folder.filePath(QStringLiteral("missing.m0"));
    view.SelectMainSoftware();
    EXPECT_EQ(view.PathLine()->Text(), image);
    EXPECT_EQ(profile::ReadString(profile::kMainSwSection, QStringLiteral("Name")), image);
}

using ProfileProblems = GuiTest;

// A corrupt or unreadable profile is reported at start (message box and status bar), naming
// the file; the station still starts.
TEST_F(ProfileProblems, CorruptOrUnreadableProfileIsReportedAtStart)
{
    const QString file = m_profile.File();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath()));
    {
        QFile corrupt(file);
        ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
        corrupt.write("[Port\nm_intPort1=1\n\x01\xff junk\n");
    }
    for (const bool asFolder : {false, true}) {
        SCOPED_TRACE(asFolder ? "a folder in the file's place" : "corrupt");
        if (asFolder) {
            ASSERT_TRUE(QFile::remove(file));
            ASSERT_TRUE(QDir().mkdir(file));
        }
        TestOptions test;
        CTarvoView view(nullptr, test.Make());
        QSignalSpy problems(&view, &CTarvoView::statusProblem);
        view.OnInitialUpdate();
        ASSERT_EQ(test.warnings.size(), 1);
        EXPECT_TRUE(test.warnings[0].contains(file)) << test.warnings[0].toStdString();
        ASSERT_GE(problems.count(), 1);
        EXPECT_EQ(problems.at(0).at(0).toString(), test.warnings[0]);
    }
    // A sound profile is not reported.
    ASSERT_TRUE(QDir().rmdir(file));
    TestOptions test;
    CTarvoView view(nullptr, test.Make());
    view.OnInitialUpdate();
    EXPECT_TRUE(test.warnings.isEmpty());
}

// Settings that cannot be saved say so: in the status bar for the image choice, in the port
// dialog (and the status bar) for the rows and devices.
TEST_F(ProfileProblems, SettingsThatCannotBeSavedSaySo)
{
    QTemporaryDir folder;
    const QString main = folder.filePath(QStringLiteral("phone.m0"));
    ASSERT_TRUE(WriteMainSoftware(main));
    const QString file = m_profile.File();
    ASSERT_TRUE(QDir().mkpath(file));  // nothing can be written there
    TestOptions test;
    test.chosen = main;
    ViewOptions options = test.Make();
    QString dialogProblem;
    options.runPortDialog = [&](CComPortSet& dialog) {
        dialog.show();
        QTest::mouseClick(dialog.PortBox(2), Qt::LeftButton);
        auto* label = dialog.findChild<QLabel*>(QStringLiteral("saveProblem"));
        if (label && label->isVisible())
            dialogProblem = label->text();
        dialog.reject();
        return false;
    };
    CTarvoView view(nullptr, options);
    QSignalSpy problems(&view, &CTarvoView::statusProblem);
    QSignalSpy messages(&view, &CTarvoView::statusMessage);
    view.OnInitialUpdate();  // the file dialog at start-up: converted, but not stored
    EXPECT_EQ(view.PathLine()->Text(), folder.filePath(QStringLiteral("phone.cp64")));
    ASSERT_GE(problems.count(), 1);
    EXPECT_TRUE(problems.back().at(0).toString().startsWith(QStringLiteral("Settings not saved: ")));
    EXPECT_TRUE(problems.back().at(0).toString().contains(file));

    view.EditPortSettings();
    EXPECT_TRUE(dialogProblem.contains(file)) << dialogProblem.toStdString();
    bool announced = false;
    for (const QList<QVariant>& message : messages)
        announced = announced || message.at(0).toString() == dialogProblem;
    EXPECT_TRUE(announced);
}

TEST_F(MainSoftware, CancelChangesNothing)
{
    TestOptions test;
    CTarvoView view(nullptr, test.Make());
    view.OnInitialUpdate();
    EXPECT_EQ(test.chooserCalls, 1);
    EXPECT_TRUE(view.PathLine()->Text().isEmpty());
    EXPECT_FALSE(TempProfile::Has(profile::kMainSwSection, QStringLiteral("Name")));
}

}  // namespace
}  // namespace tarvo::test
