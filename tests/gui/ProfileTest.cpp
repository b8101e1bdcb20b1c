// Port selection and main software selection against a fresh profile per test.
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>

#include "controls/Label.h"
#include "engine/WinMonitorCtrl.h"
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

TEST_F(PortSelection, EveryClickIsStoredAndCancelUndoesNothing)
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
    EXPECT_EQ(Flag(6), 1);  // written by its click, not undone by CANCEL
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

TEST_F(PortSelection, DeviceListShowsStableNamesFirstAndOkStoresTheChoice)
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
        // The boxes keep their ids and captions.
        EXPECT_EQ(dialog.PortBox(3)->property("controlId").toInt(), 1053);
        EXPECT_EQ(dialog.PortBox(3)->text(), QStringLiteral("PORT 3"));

        com5->setCurrentIndex(1);
        dialog.DeviceBox(3)->setCurrentText(QString());
        dialog.DeviceBox(8)->setCurrentText(QStringLiteral("/dev/pts/9"));
        QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    }
    EXPECT_EQ(profile::DeviceFor(5), QString());  // CANCEL keeps the device choices
    EXPECT_EQ(profile::DeviceFor(7), QStringLiteral("/dev/ttyUSB3"));
    {
        CComPortSet dialog(nullptr, lister);
        dialog.show();
        dialog.DeviceBox(1)->setCurrentIndex(1);
        dialog.DeviceBox(3)->setCurrentText(QString());
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    }
    EXPECT_EQ(profile::DeviceFor(5), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_FALSE(TempProfile::Has(profile::kDeviceSection, QStringLiteral("COM7")));
    const MapPortDirectory directory = profile::PortDirectory();
    EXPECT_EQ(directory.DevicePath(5), "/dev/ttyUSB0");
    EXPECT_EQ(directory.DevicePath(7), "/dev/ttyS6");
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

TEST_F(MainSoftware, UpperCaseExtensionFailsAndEmptiesThePathWithTheReasonShown)
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

    QSignalSpy messages(&view, &CTarvoView::statusMessage);
    view.SelectMainSoftware();
    EXPECT_TRUE(view.PathLine()->Text().isEmpty());
    EXPECT_TRUE(TempProfile::Has(profile::kMainSwSection, QStringLiteral("Name")));
    EXPECT_TRUE(profile::ReadString(profile::kMainSwSection, QStringLiteral("Name"), QStringLiteral("x")).isEmpty());
    EXPECT_TRUE(view.PathLine()->toolTip().contains(QStringLiteral("PHONE.M0"))) << view.PathLine()->toolTip().toStdString();
    ASSERT_EQ(messages.count(), 1);
    EXPECT_TRUE(messages.at(0).at(0).toString().contains(QStringLiteral("PHONE.M0")));
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
