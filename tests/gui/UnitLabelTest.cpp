// Unit labels: typed by a barcode scanner (a line ending in Enter) or by hand into the window,
// attached to the selected row or the first armed row without one, shown in the row, and used
// by exactly one run.
#include <QProgressBar>
#include <QSignalSpy>

#include "controls/RoundButton.h"
#include "engine/StatusCodes.h"
#include "resources/Forms.h"
#include "engine/WinMonitorCtrl.h"
#include "station/UnitLabels.h"
#include "support/Pty.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/OperatorSupport.h"

namespace tarvo::test {
namespace {

using station::UnitLabels;
using State = UnitLabels::State;

TEST(UnitLabelRows, SelectedRowOrFirstArmedRowWithoutALabel)
{
    UnitLabels labels;
    std::array<bool, 8> armed{false, true, false, true, true, false, false, false};
    EXPECT_EQ(labels.Target(0, armed), 2);
    EXPECT_EQ(labels.Target(7, armed), 7);  // a selection wins, armed or not
    labels.Attach(2, "A", true);
    EXPECT_EQ(labels.StateOf(2), State::Bound);
    EXPECT_EQ(labels.Target(0, armed), 4);
    labels.Attach(4, "B", true);
    labels.Attach(5, "C", true);
    EXPECT_EQ(labels.Target(0, armed), 0);  // every armed row has one
    EXPECT_EQ(labels.Target(0, std::array<bool, 8>{}), 0);
}

TEST(UnitLabelRows, ALabelIsUsedByExactlyOneRun)
{
    UnitLabels labels;
    // Given to a row that is not armed: waits for its next start.
    labels.Attach(3, "SN-1", false);
    EXPECT_EQ(labels.StateOf(3), State::Pending);
    EXPECT_EQ(labels.RunLabel(3), "");
    EXPECT_EQ(labels.RunStarts(3), "SN-1");
    EXPECT_EQ(labels.RunLabel(3), "SN-1");
    labels.RunEnded(3);
    EXPECT_EQ(labels.StateOf(3), State::Spent);
    EXPECT_EQ(labels.Label(3), "SN-1");  // still shown beside the result
    EXPECT_EQ(labels.RunLabel(3), "");
    // The next run of the row does not take it again.
    EXPECT_EQ(labels.RunStarts(3), "");
    EXPECT_EQ(labels.StateOf(3), State::None);
    EXPECT_EQ(labels.Label(3), "");

    // A run replaced before it ended used its label too.
    labels.Attach(4, "SN-2", true);
    labels.RunEnded(4);
    EXPECT_EQ(labels.RunStarts(4), "");
    // A new scan replaces a label not yet used.
    labels.Attach(5, "SN-3", false);
    labels.Attach(5, "SN-4", false);
    EXPECT_EQ(labels.RunStarts(5), "SN-4");
}

TEST(UnitLabelRows, CleanDropsControlCharactersAndOuterSpaces)
{
    EXPECT_EQ(UnitLabels::Clean("  SN 0042\r\n"), "SN 0042");
    EXPECT_EQ(UnitLabels::Clean("\t\x1b"), "");
    EXPECT_EQ(UnitLabels::Clean("단말-7"), "단말-7");
}

class ScannedLabels : public GuiTest {
protected:
    void SetUp() override
    {
        for (int n = 1; n <= 8; ++n)
            profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), 1);
        for (int port = 5; port <= 12; ++port)
            profile::SetDeviceFor(port, m_profile.Home().filePath(QStringLiteral("no-tty")));
        profile::WriteString(profile::kMainSwSection, QStringLiteral("Name"), MakeImage(m_profile.Home().path()));
        ASSERT_TRUE(m_pty2.ok() && m_pty4.ok());
        profile::SetDeviceFor(6, QString::fromStdString(m_pty2.SlavePath()));
        profile::SetDeviceFor(8, QString::fromStdString(m_pty4.SlavePath()));
        m_view = std::make_unique<CTarvoView>(nullptr, m_test.Make());
        m_view->OnInitialUpdate();
        m_view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view.get()));
    }
    void TearDown() override { m_view.reset(); }

    // What a scanner in keyboard mode does: the characters, then Enter.
    void Scan(const QString& label)
    {
        QTest::keyClicks(m_view.get(), label);
        QTest::keyClick(m_view.get(), Qt::Key_Return);
    }
    void Status(int row, int code, const char* text)
    {
        const CWinMonitorCtrl& engine = m_view->Engine(row);
        ASSERT_TRUE(DeliverFromWorker([&] { m_view->OnPortStatus(engine, StatusReport{row + 4, code, text}); }));
    }
    QString Shown(int row) const
    {
        QProgressBar* bar = m_view->ProgressBar(row);
        return bar->isTextVisible() ? bar->text() : QString();
    }

    Pty m_pty2;
    Pty m_pty4;
    TestOptions m_test;
    std::unique_ptr<CTarvoView> m_view;
};

TEST_F(ScannedLabels, ScanGoesToTheFirstArmedRowWithoutALabelAndIsShownThere)
{
    m_view->StartPort(2);
    m_view->StartPort(4);
    ASSERT_EQ(m_view->StateField(2)->Text(), QStringLiteral("READY"));
    QSignalSpy status(m_view.get(), &CTarvoView::statusMessage);

    Scan(QStringLiteral("IMEI-3540001"));
    EXPECT_EQ(m_view->RunUnitLabel(2), "IMEI-3540001");
    EXPECT_EQ(Shown(2), QStringLiteral("IMEI-3540001"));
    EXPECT_EQ(status.last().at(0).toString(), QStringLiteral("Unit label IMEI-3540001 for row 2."));
    Scan(QStringLiteral("IMEI-3540002"));
    EXPECT_EQ(m_view->RunUnitLabel(4), "IMEI-3540002");
    EXPECT_EQ(m_view->RunUnitLabel(2), "IMEI-3540001");
    // No armed row left without a label: the scan goes nowhere, and says so.
    Scan(QStringLiteral("IMEI-3540003"));
    EXPECT_TRUE(status.last().at(0).toString().contains(QStringLiteral("not used")));
    EXPECT_EQ(m_view->RunUnitLabel(2), "IMEI-3540001");
    EXPECT_EQ(m_view->RunUnitLabel(4), "IMEI-3540002");

    // The run ends: the label stays beside the result, spent; the next run has none.
    Status(2, status::kPass, "PASS - Checksum: [3F2A,3F2A]");
    EXPECT_EQ(m_view->RunUnitLabel(2), "");
    EXPECT_EQ(Shown(2), QStringLiteral("IMEI-3540001"));
    m_view->StartPort(2);
    EXPECT_EQ(m_view->RunUnitLabel(2), "");
    EXPECT_EQ(Shown(2), QString());
}

TEST_F(ScannedLabels, ASelectedRowTakesTheLabelForItsNextRun)
{
    // Clicking row 7's port number selects it; the label waits for its next start.
    QLabel* portField = m_view->findChild<QLabel*>(QStringLiteral("1018"));
    ASSERT_NE(portField, nullptr);
    QTest::mouseClick(portField, Qt::LeftButton);
    EXPECT_EQ(m_view->SelectedRow(), 7);
    Scan(QStringLiteral("SN 7/0001"));
    EXPECT_EQ(m_view->SelectedRow(), 0);  // one label per selection
    EXPECT_EQ(m_view->UnitLabels().StateOf(7), UnitLabels::State::Pending);
    EXPECT_EQ(Shown(7), QStringLiteral("SN 7/0001"));

    // Typed by hand with a mistake: Backspace mends it; a modified key is no part of it.
    m_view->SelectRow(3);
    QTest::keyClicks(m_view.get(), QStringLiteral("AB%pX"));
    QTest::keyClick(m_view.get(), Qt::Key_Backspace);
    QTest::keyClick(m_view.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(m_view->TypedLabel(), QStringLiteral("AB%p"));
    QTest::keyClick(m_view.get(), Qt::Key_Enter);
    // Shown literally, not as a progress figure.
    EXPECT_EQ(Shown(3).remove(QChar(0x2060)), QStringLiteral("AB%p"));
    // Escape drops what was typed.
    QTest::keyClicks(m_view.get(), QStringLiteral("junk"));
    QTest::keyClick(m_view.get(), Qt::Key_Escape);
    EXPECT_EQ(m_view->TypedLabel(), QString());
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    EXPECT_EQ(m_view->UnitLabels().Label(3), "AB%p");
    // A space on its own still presses a button that has the keyboard focus.
    int pressed = 0;
    QObject::connect(m_view->Button(forms::kIdComPortSetting), &QPushButton::pressed, [&] { ++pressed; });
    m_view->Button(forms::kIdComPortSetting)->setFocus();
    QTest::keyPress(m_view->Button(forms::kIdComPortSetting), Qt::Key_Space);
    EXPECT_EQ(pressed, 1);
    EXPECT_EQ(m_view->TypedLabel(), QString());
}

}  // namespace
}  // namespace tarvo::test
