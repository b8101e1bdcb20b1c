// Result sounds: one sound per finished run, PASS and FAIL/ERROR apart, only when switched on;
// and the built-in player stays silent without a sound device.
#include <QElapsedTimer>

#include "app/MainFrm.h"
#include "app/TarvoApp.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "support/Pty.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/OperatorSupport.h"

namespace tarvo::test {
namespace {

class ResultSounds : public GuiTest {
protected:
    void SetUp() override
    {
        for (int n = 1; n <= 8; ++n)
            profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), 1);
        profile::WriteString(profile::kMainSwSection, QStringLiteral("Name"), MakeImage(m_profile.Home().path()));
        ASSERT_TRUE(m_pty1.ok() && m_pty2.ok());
        profile::SetDeviceFor(5, QString::fromStdString(m_pty1.SlavePath()));
        profile::SetDeviceFor(6, QString::fromStdString(m_pty2.SlavePath()));
        ViewOptions options = m_test.Make();
        options.sound = &m_sound;
        m_view = std::make_unique<CTarvoView>(nullptr, options);
        m_view->OnInitialUpdate();
    }
    void TearDown() override { m_view.reset(); }

    void Status(int row, int code, const char* text)
    {
        const CWinMonitorCtrl& engine = m_view->Engine(row);
        ASSERT_TRUE(DeliverFromWorker([&] { m_view->OnPortStatus(engine, StatusReport{row + 4, code, text}); }));
    }

    Pty m_pty1;
    Pty m_pty2;
    CountingSound m_sound;
    TestOptions m_test;
    std::unique_ptr<CTarvoView> m_view;
};

TEST_F(ResultSounds, OneSoundPerFinishedRunWhenSwitchedOn)
{
    m_view->SetSoundOn(true);
    m_view->StartPort(1);
    m_view->StartPort(2);
    // Information and the start of the download are no end.
    Status(1, status::kInformation, "The flashloader is running.");
    Status(1, status::kReadyForDownload, "Download Reday End !");
    EXPECT_TRUE(m_sound.played.empty());

    Status(1, status::kPass, "PASS - Checksum: [3F2A,3F2A]");
    Status(2, status::kFail, "FAIL - Checksum: [3F2A,3F2B]");
    ASSERT_EQ(m_sound.played.size(), 2u);
    EXPECT_EQ(m_sound.played[0], ResultSound::Pass);
    EXPECT_EQ(m_sound.played[1], ResultSound::Fail);
    // A further error report of a run that has ended makes no second sound.
    Status(2, status::kDownloadAborted, "Downloading Aborted !!!");
    EXPECT_EQ(m_sound.played.size(), 2u);

    // The next run of the row sounds again; an ERROR sounds like a FAIL.
    m_view->StartPort(1);
    Status(1, status::kPortLost, "Serial Port Lost...");
    EXPECT_EQ(m_sound.Count(ResultSound::Pass), 1);
    EXPECT_EQ(m_sound.Count(ResultSound::Fail), 2);

    // Switched off (and kept so in the profile): silent.
    m_view->SetSoundOn(false);
    EXPECT_EQ(profile::ReadInt("Station", QStringLiteral("Sound"), -1), 0);
    m_view->StartPort(1);
    Status(1, status::kPass, "PASS - Checksum: [3F2A,3F2A]");
    EXPECT_EQ(m_sound.played.size(), 3u);
}

TEST_F(ResultSounds, TheChoiceIsKeptForTheNextStart)
{
    m_view->SetSoundOn(true);
    m_view.reset();
    ViewOptions options = m_test.Make();
    options.sound = &m_sound;
    CTarvoView again(nullptr, options);
    EXPECT_TRUE(again.SoundOn());
}

TEST(ResultSoundPlayer, WithoutASoundDeviceStaysSilentAndReturnsAtOnce)
{
    CResultSounds sounds;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 5; ++i) {
        sounds.Play(ResultSound::Pass);
        sounds.Play(ResultSound::Fail);
    }
    QCoreApplication::processEvents();
    EXPECT_LT(timer.elapsed(), 2000);
}

}  // namespace
}  // namespace tarvo::test
