// The engineer lock: the PIN's salted hash, wrong PINs and the 60 s lock-out, and which of the
// window's actions ask for the PIN.
#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>

#include "app/MainFrm.h"
#include "app/TarvoApp.h"
#include "controls/RoundButton.h"
#include "resources/Forms.h"
#include "resources/Strings.h"
#include "station/ComPortSet.h"
#include "station/EngineerLock.h"
#include "station/PinDialogs.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/OperatorSupport.h"

namespace tarvo::test {
namespace {

TEST(Pbkdf2, KnownAnswersOfHmacSha256)
{
    const auto hex = [](int iterations, int length) {
        return Pbkdf2Sha256("password", "salt", iterations, length).toHex().toStdString();
    };
    EXPECT_EQ(hex(1, 32), "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
    EXPECT_EQ(hex(2, 32), "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43");
    EXPECT_EQ(hex(4096, 32), "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");
    // Longer than one block of the hash.
    EXPECT_EQ(Pbkdf2Sha256("passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 40)
                  .toHex()
                  .toStdString(),
              "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1c635518c7dac47e9");
}

TEST(PinHash, SaltedAndCheckedWithoutKeepingThePin)
{
    const QString first = HashPin(QStringLiteral("4711"), 1000);
    const QString second = HashPin(QStringLiteral("4711"), 1000);
    EXPECT_NE(first, second);  // a fresh salt each time
    EXPECT_FALSE(first.contains(QStringLiteral("4711")));
    EXPECT_TRUE(first.startsWith(QStringLiteral("pbkdf2-sha256$1000$")));
    EXPECT_TRUE(VerifyPin(QStringLiteral("4711"), first));
    EXPECT_TRUE(VerifyPin(QStringLiteral("4711"), second));
    EXPECT_FALSE(VerifyPin(QStringLiteral("4712"), first));
    EXPECT_FALSE(VerifyPin(QString(), first));
    // Damaged or foreign values never open.
    EXPECT_FALSE(VerifyPin(QStringLiteral("4711"), QStringLiteral("4711")));
    EXPECT_FALSE(VerifyPin(QStringLiteral("4711"), QStringLiteral("pbkdf2-sha256$0$AAAA$AAAA")));
    EXPECT_FALSE(VerifyPin(QStringLiteral("4711"), QStringLiteral("pbkdf2-sha256$999999999$AAAA$AAAA")));
    QString cut = first;
    cut.chop(8);
    EXPECT_FALSE(VerifyPin(QStringLiteral("4711"), cut));
}

using EngineerLockTest = GuiTest;

TEST_F(EngineerLockTest, ThreeWrongPinsLockForSixtySecondsOfTheClock)
{
    ManualClock clock;
    CEngineerLock lock(&clock);
    EXPECT_FALSE(lock.HasPin());
    EXPECT_EQ(lock.Try(QStringLiteral("anything")), CEngineerLock::Result::Open);

    ASSERT_TRUE(lock.SetPin(QStringLiteral("246813")));
    EXPECT_TRUE(lock.HasPin());
    const QString stored = profile::ReadString("Station", QStringLiteral("EngineerPin"));
    EXPECT_FALSE(stored.contains(QStringLiteral("246813")));
    EXPECT_FALSE(QFile(m_profile.File()).exists() && [&] {
        QFile file(m_profile.File());
        return file.open(QIODevice::ReadOnly) && file.readAll().contains("246813");
    }());

    EXPECT_EQ(lock.Try(QStringLiteral("1111")), CEngineerLock::Result::Wrong);
    EXPECT_EQ(lock.AttemptsLeft(), 2);
    EXPECT_EQ(lock.Try(QStringLiteral("246813")), CEngineerLock::Result::Open);  // a right PIN resets
    EXPECT_EQ(lock.AttemptsLeft(), 3);
    EXPECT_EQ(lock.Try(QStringLiteral("1111")), CEngineerLock::Result::Wrong);
    EXPECT_EQ(lock.Try(QStringLiteral("2222")), CEngineerLock::Result::Wrong);
    EXPECT_EQ(lock.Try(QStringLiteral("3333")), CEngineerLock::Result::LockedOut);
    EXPECT_EQ(lock.LockedForMs(), 60000u);
    // During the lock-out even the right PIN is not looked at.
    clock.Advance(59999);
    EXPECT_EQ(lock.Try(QStringLiteral("246813")), CEngineerLock::Result::LockedOut);
    EXPECT_EQ(lock.LockedForMs(), 1u);
    clock.Advance(1);
    EXPECT_EQ(lock.LockedForMs(), 0u);
    EXPECT_EQ(lock.AttemptsLeft(), 3);
    EXPECT_EQ(lock.Try(QStringLiteral("246813")), CEngineerLock::Result::Open);

    // Too short a PIN is refused; an empty one removes the lock.
    QString error;
    EXPECT_FALSE(lock.SetPin(QStringLiteral("12"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(lock.HasPin());
    ASSERT_TRUE(lock.SetPin(QString()));
    EXPECT_FALSE(lock.HasPin());
}

TEST(Pbkdf2, PublishedVectorsOfRfc7914)
{
    EXPECT_EQ(Pbkdf2Sha256("passwd", "salt", 1, 64).toHex().toStdString(),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
              "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
    EXPECT_EQ(Pbkdf2Sha256("Password", "NaCl", 80000, 64).toHex().toStdString(),
              "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
              "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d");
}

TEST_F(EngineerLockTest, NewPinsHaveSixDigitsAndTheOwaspIterationsAndOldHashesStillOpen)
{
    CEngineerLock lock;
    QString error;
    EXPECT_FALSE(lock.SetPin(QStringLiteral("12345"), &error)) << "five digits";
    EXPECT_FALSE(lock.SetPin(QStringLiteral("12345a"), &error)) << "not only digits";
    ASSERT_TRUE(lock.SetPin(QStringLiteral("123456"), &error)) << error.toStdString();
    EXPECT_TRUE(profile::ReadString("Station", QStringLiteral("EngineerPin")).startsWith(QStringLiteral("pbkdf2-sha256$600000$")));
    // A hash stored by an earlier version (60,000 iterations, a 4-digit PIN) still opens.
    profile::WriteString("Station", QStringLiteral("EngineerPin"), HashPin(QStringLiteral("4711"), 60000));
    EXPECT_EQ(lock.Try(QStringLiteral("4711")), CEngineerLock::Result::Open);
}

TEST_F(EngineerLockTest, TheLockOutSurvivesARestart)
{
    ManualClock clock;
    {
        CEngineerLock lock(&clock);
        ASSERT_TRUE(lock.SetPin(QStringLiteral("246813")));
        EXPECT_EQ(lock.Try(QStringLiteral("111111")), CEngineerLock::Result::Wrong);
    }
    {
        // One wrong PIN is remembered: two more lock out.
        CEngineerLock lock(&clock);
        EXPECT_EQ(lock.AttemptsLeft(), 2);
        EXPECT_EQ(lock.Try(QStringLiteral("222222")), CEngineerLock::Result::Wrong);
        EXPECT_EQ(lock.Try(QStringLiteral("333333")), CEngineerLock::Result::LockedOut);
    }
    ManualClock later;  // another process: its own clock
    CEngineerLock restarted(&later);
    EXPECT_GT(restarted.LockedForMs(), 55000u);
    EXPECT_EQ(restarted.Try(QStringLiteral("246813")), CEngineerLock::Result::LockedOut) << "the right PIN waits too";
    later.Advance(CEngineerLock::kLockOutMs);
    EXPECT_EQ(restarted.Try(QStringLiteral("246813")), CEngineerLock::Result::Open);
    CEngineerLock again(&later);
    EXPECT_EQ(again.LockedForMs(), 0u);
    EXPECT_EQ(again.AttemptsLeft(), 3);
}

TEST_F(EngineerLockTest, ThePromptChecksOffTheGuiThread)
{
    CEngineerLock lock;
    ASSERT_TRUE(lock.SetPin(QStringLiteral("246813")));
    CPinPrompt prompt(lock, strings::kGuardPortSetting);
    prompt.PinEdit()->setText(QStringLiteral("246813"));
    QElapsedTimer held;
    held.start();
    prompt.accept();
    EXPECT_LT(held.elapsed(), 50) << "accept() returned only after the key derivation";
    EXPECT_TRUE(prompt.Checking());
    EXPECT_FALSE(prompt.OkButton()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompt.Checking(); }, 5000));
    EXPECT_TRUE(prompt.Opened());
}

// The window with a PIN set: what asks for it and what does not.
class LockedStation : public GuiTest {
protected:
    void SetUp() override
    {
        for (int n = 1; n <= 8; ++n)
            profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), 1);
        for (int port = 5; port <= 12; ++port)
            profile::SetDeviceFor(port, m_profile.Home().filePath(QStringLiteral("no-tty")));
        profile::WriteString(profile::kMainSwSection, QStringLiteral("Name"), MakeImage(m_profile.Home().path()));
        {
            CEngineerLock setter;
            ASSERT_TRUE(setter.SetPin(QStringLiteral("246813")));
        }
        m_options = m_test.Make();
        m_options.lockClock = &m_clock;
        m_options.sound = &m_sound;
        m_options.runPortDialog = [this](CComPortSet&) {
            ++m_portDialogs;
            return false;
        };
        // The prompt is answered with the next of m_answers (empty: Cancel).
        m_options.runPinPrompt = [this](CPinPrompt& prompt) {
            ++m_prompts;
            m_lastPromptText = prompt.findChildren<QLabel*>().value(0)->text();
            while (!m_answers.isEmpty()) {
                const QString answer = m_answers.takeFirst();
                if (answer.isEmpty())
                    break;
                m_promptOkEnabled = prompt.OkButton()->isEnabled();
                prompt.PinEdit()->setText(answer);
                QTest::mouseClick(prompt.OkButton(), Qt::LeftButton);
                EXPECT_TRUE(QTest::qWaitFor([&] { return !prompt.Checking(); }, 5000));
                m_lastMessage = prompt.Message()->text();
                if (prompt.Opened())
                    break;
            }
            if (!prompt.Opened())
                prompt.reject();
        };
        m_options.runPinSet = [this](CPinSetDialog&) {
            ++m_pinSets;
            return false;
        };
        m_station = std::make_unique<CTarvoApp>(m_options);
        ASSERT_TRUE(m_station->InitInstance());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_station->Frame()));
    }
    void TearDown() override { m_station.reset(); }

    CTarvoView* View() const { return m_station->Frame()->View(); }

    ManualClock m_clock;
    CountingSound m_sound;
    TestOptions m_test;
    ViewOptions m_options;
    std::unique_ptr<CTarvoApp> m_station;
    QStringList m_answers;
    int m_prompts = 0;
    int m_portDialogs = 0;
    int m_pinSets = 0;
    bool m_promptOkEnabled = true;
    QString m_lastPromptText;
    QString m_lastMessage;
};

TEST_F(LockedStation, SettingsOpenOnlyWithTheRightPin)
{
    // COMPORT SETTING: a wrong PIN and Cancel keep the dialog shut.
    m_answers = {QStringLiteral("1357"), QString()};
    QTest::mouseClick(View()->Button(forms::kIdComPortSetting), Qt::LeftButton);
    EXPECT_EQ(m_prompts, 1);
    EXPECT_EQ(m_portDialogs, 0);
    EXPECT_TRUE(m_lastPromptText.contains(QStringLiteral("COMPORT SETTING")));
    EXPECT_TRUE(m_lastMessage.contains(QStringLiteral("Attempts left: 2")));
    // The right PIN opens it.
    m_answers = {QStringLiteral("246813")};
    QTest::mouseClick(View()->Button(forms::kIdComPortSetting), Qt::LeftButton);
    EXPECT_EQ(m_portDialogs, 1);

    // FILE OPEN and the menu's Open (Ctrl+O).
    m_answers = {QString()};
    QTest::mouseClick(View()->Button(forms::kIdFileOpen), Qt::LeftButton);
    EXPECT_EQ(m_test.chooserCalls, 0);
    m_answers = {QString()};
    m_station->Frame()->OpenAction()->trigger();
    EXPECT_EQ(m_test.chooserCalls, 0);
    m_answers = {QStringLiteral("246813")};
    m_station->Frame()->OpenAction()->trigger();
    EXPECT_EQ(m_test.chooserCalls, 1);

    // The sound setting stays as it was without the PIN.
    QAction* sound = m_station->Frame()->SoundAction();
    ASSERT_FALSE(sound->isChecked());
    m_answers = {QString()};
    sound->trigger();
    EXPECT_FALSE(sound->isChecked());
    EXPECT_FALSE(View()->SoundOn());
    m_answers = {QStringLiteral("246813")};
    sound->trigger();
    EXPECT_TRUE(sound->isChecked());
    EXPECT_TRUE(View()->SoundOn());

    // Continuous runs too.
    QAction* continuous = m_station->Frame()->ContinuousAction();
    ASSERT_FALSE(continuous->isChecked());
    m_answers = {QStringLiteral("9999"), QString()};
    continuous->trigger();
    EXPECT_FALSE(continuous->isChecked());
    EXPECT_FALSE(View()->Continuous());
    EXPECT_TRUE(m_lastPromptText.contains(QStringLiteral("continuous mode")));
    m_answers = {QStringLiteral("246813")};
    continuous->trigger();
    EXPECT_TRUE(View()->Continuous());
    m_answers = {QStringLiteral("246813")};
    continuous->trigger();
    EXPECT_FALSE(View()->Continuous());

    // Changing the PIN needs the old one first.
    m_answers = {QString()};
    m_station->Frame()->PinAction()->trigger();
    EXPECT_EQ(m_pinSets, 0);
    m_answers = {QStringLiteral("246813")};
    m_station->Frame()->PinAction()->trigger();
    EXPECT_EQ(m_pinSets, 1);
}

TEST_F(LockedStation, OperatorWorkAsksForNoPin)
{
    const int before = m_prompts;
    View()->StartPort(3);  // arming a row
    EXPECT_EQ(View()->StateField(3)->Text(), QStringLiteral("ERROR"));  // no device: open failed
    EXPECT_EQ(View()->MessageField(3)->Text(), QStringLiteral("Serial Port Open Failed..."));
    m_station->Frame()->ChooseLanguage(QStringLiteral("en"));  // switching the language
    m_station->Frame()->ChooseLanguage(QString());
    View()->SelectRow(2);  // and choosing a row for a unit label
    EXPECT_TRUE(View()->TakeUnitLabel(QStringLiteral("SN-1")));
    EXPECT_EQ(m_prompts, before);
}

TEST_F(LockedStation, ThreeWrongPinsLockThePromptForSixtySeconds)
{
    m_answers = {QStringLiteral("0000"), QStringLiteral("1111"), QStringLiteral("2222"), QStringLiteral("246813")};
    QTest::mouseClick(View()->Button(forms::kIdComPortSetting), Qt::LeftButton);
    EXPECT_EQ(m_portDialogs, 0);
    EXPECT_FALSE(m_promptOkEnabled);  // the right PIN could not even be entered
    EXPECT_TRUE(m_lastMessage.contains(QStringLiteral("60 s")));

    // A new prompt during the lock-out starts locked and counts down.
    CPinPrompt prompt(View()->EngineerLock(), strings::kGuardFileOpen);
    EXPECT_FALSE(prompt.OkButton()->isEnabled());
    EXPECT_FALSE(prompt.PinEdit()->isEnabled());
    m_clock.Advance(30000);
    prompt.UpdateLockOut();
    EXPECT_TRUE(prompt.Message()->text().contains(QStringLiteral("30 s")));
    m_clock.Advance(30000);
    prompt.UpdateLockOut();
    EXPECT_TRUE(prompt.OkButton()->isEnabled());
    EXPECT_TRUE(prompt.Message()->isHidden());

    m_answers = {QStringLiteral("246813")};
    QTest::mouseClick(View()->Button(forms::kIdComPortSetting), Qt::LeftButton);
    EXPECT_EQ(m_portDialogs, 1);
}

TEST_F(EngineerLockTest, PinIsSetFromTheMenuTypedTwice)
{
    TestOptions test;
    ViewOptions options = test.Make();
    int dialogs = 0;
    QString message;
    options.runPinSet = [&](CPinSetDialog& dialog) {
        ++dialogs;
        dialog.NewPin()->setText(QStringLiteral("987654"));
        dialog.RepeatPin()->setText(QStringLiteral("987653"));
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        message = dialog.Message()->text();
        EXPECT_EQ(dialog.result(), 0);
        dialog.NewPin()->setText(QStringLiteral("987654"));
        dialog.RepeatPin()->setText(QStringLiteral("987654"));
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        return dialog.result() == QDialog::Accepted;
    };
    CTarvoApp station(options);
    ASSERT_TRUE(station.InitInstance());
    QSignalSpy status(station.Frame()->View(), &CTarvoView::statusMessage);
    station.Frame()->PinAction()->trigger();  // no PIN yet: no prompt before the dialog
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(message, QStringLiteral("The two PINs differ."));
    EXPECT_TRUE(station.Frame()->View()->EngineerLock().HasPin());
    EXPECT_TRUE(VerifyPin(QStringLiteral("987654"), profile::ReadString("Station", QStringLiteral("EngineerPin"))));
    ASSERT_FALSE(status.isEmpty());
    EXPECT_TRUE(status.last().at(0).toString().startsWith(QStringLiteral("Engineer PIN set")));
}

}  // namespace
}  // namespace tarvo::test
