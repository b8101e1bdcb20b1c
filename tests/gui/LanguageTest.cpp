// The window's languages: the form's own texts by default, English and Korean translations of
// every menu, prompt, dialog, form and status text, a switch at run time from the menu, and a
// further language dropped in as a file. Engine texts stay as the engine wrote them. The
// translation sources hold an English and a Korean translation of every text the window's code
// marks for translation, as lupdate finds them.
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QStatusBar>
#include <QXmlStreamReader>

#include "app/AboutBox.h"
#include "app/MainFrm.h"
#include "app/TarvoApp.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "controls/RoundButton.h"
#include "resources/Forms.h"
#include "resources/Strings.h"
#include "station/ComPortSet.h"
#include "station/DoctorReport.h"
#include "station/PinDialogs.h"
#include "support/Pty.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/OperatorSupport.h"

namespace tarvo::test {
namespace {

constexpr char kPass[] = "PASS - Checksum: [3F2A,3F2A]";
constexpr char kAborted[] = "Downloading Aborted !!!";

class Languages : public GuiTest {
protected:
    void SetUp() override
    {
        for (int n = 1; n <= 8; ++n)
            profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), 1);
        for (int port = 5; port <= 12; ++port)
            profile::SetDeviceFor(port, m_profile.Home().filePath(QStringLiteral("no-tty")));
        profile::WriteString(profile::kMainSwSection, QStringLiteral("Name"), MakeImage(m_profile.Home().path()));
        ASSERT_TRUE(m_pty.ok());
        profile::SetDeviceFor(5, QString::fromStdString(m_pty.SlavePath()));
    }
    void TearDown() override
    {
        m_station.reset();
        // Later tests start with the form's texts.
        CLanguages::Store(QString());
    }

    void Start(const QString& language)
    {
        CLanguages::Store(language);
        m_options = m_test.Make();
        m_options.translationFolders = m_extraFolders;
        m_station = std::make_unique<CTarvoApp>(m_options);
        ASSERT_TRUE(m_station->InitInstance());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
        QCoreApplication::processEvents();
    }
    CMainFrame* Frame() const { return m_station->Frame(); }
    CTarvoView* View() const { return Frame()->View(); }

    // Rows in every state: 1 READY, 2 open failed, 3 ERASE, 4 DOWNLOAD, 5 COMPLETE, 6 ERROR.
    void ShowEveryRowState()
    {
        CTarvoView& view = *View();
        view.StartPort(1);
        view.StartPort(2);
        const auto status = [&](int row, int code, const char* text) {
            const CWinMonitorCtrl& engine = view.Engine(row);
            ASSERT_TRUE(DeliverFromWorker([&] { view.OnPortStatus(engine, StatusReport{row + 4, code, text}); }));
        };
        const auto progress = [&](int row, int percent) {
            const CWinMonitorCtrl& engine = view.Engine(row);
            ASSERT_TRUE(DeliverFromWorker(
                [&] { view.OnPortProgress(engine, ProgressReport{row + 4, percent, percent * 1000, 100000}); }));
        };
        status(3, status::kReadyForDownload, "Download Reday End !");
        progress(4, 37);
        progress(5, 100);
        status(5, status::kPass, kPass);
        progress(6, 12);
        status(6, status::kDownloadAborted, kAborted);
    }

    // Every text of the frame, the port dialog, the about box and the two PIN dialogs.
    std::vector<ShownText> AllTexts()
    {
        std::vector<ShownText> texts = TextsOf(Frame());
        CComPortSet ports(Frame(), [] { return QList<SerialDeviceChoice>{}; });
        ports.OnInitDialog();
        CAboutBox about(Frame());
        CPinPrompt prompt(View()->EngineerLock(), strings::kGuardPortSetting, Frame());
        CPinSetDialog pinSet(View()->EngineerLock(), Frame());
        CDoctorReport doctor([] { return std::vector<doctor::Finding>{}; }, Frame());
        doctor.Refresh();
        for (QWidget* window : std::initializer_list<QWidget*>{&ports, &about, &prompt, &pinSet, &doctor}) {
            const std::vector<ShownText> more = TextsOf(window);
            texts.insert(texts.end(), more.begin(), more.end());
        }
        return texts;
    }

    // Texts that are data, not the window's words: row numbers, the clock, the path line,
    // engine texts and the reason a device did not open.
    bool IsData(const ShownText& shown) const
    {
        if (shown.where.endsWith(QLatin1String(" 1028")) || shown.text.startsWith(m_profile.Home().path()))
            return true;
        static const QStringList data{QStringLiteral("/srv/sw/phone.cp64"), QString::fromLatin1(kPass),
                                      QString::fromLatin1(kAborted), QStringLiteral("CAP"), QStringLiteral("NUM"),
                                      QStringLiteral("SCRL")};
        bool number = false;
        shown.text.toInt(&number);
        return number || data.contains(shown.text);
    }

    void ExpectEnglish()
    {
        int checked = 0;
        for (const ShownText& shown : AllTexts()) {
            EXPECT_FALSE(HasHangul(shown.text)) << shown.where.toStdString() << ": " << shown.text.toStdString();
            ++checked;
        }
        EXPECT_GT(checked, 60);
        EXPECT_EQ(Frame()->windowTitle(), QStringLiteral("Orvane Program Ver 1.3"));
        EXPECT_EQ(Frame()->AboutAction()->text(), QStringLiteral("&About Tarvo..."));
        EXPECT_EQ(View()->StateField(5)->Text(), QStringLiteral("COMPLETE"));
        EXPECT_EQ(View()->MessageField(4)->Text(), QStringLiteral("Downloading : 37 %"));
    }

    void ExpectKorean()
    {
        int checked = 0;
        for (const ShownText& shown : AllTexts()) {
            if (IsData(shown))
                continue;
            EXPECT_TRUE(HasHangul(shown.text)) << shown.where.toStdString() << ": " << shown.text.toStdString();
            ++checked;
        }
        EXPECT_GT(checked, 60);
        EXPECT_EQ(Frame()->OpenAction()->text(), QStringLiteral("메인 S/W 열기(&O)...\tCtrl+O"));
        const QString states[] = {QStringLiteral("준비"),   QStringLiteral("오류"), QStringLiteral("지우기"),
                                  QStringLiteral("다운로드"), QStringLiteral("완료"), QStringLiteral("오류")};
        for (int row = 1; row <= 6; ++row)
            EXPECT_EQ(View()->StateField(row)->Text(), states[row - 1]) << "row " << row;
        EXPECT_EQ(View()->MessageField(1)->Text(), QStringLiteral("단말기를 연결하세요"));
        EXPECT_EQ(View()->MessageField(3)->Text(), QStringLiteral("지우는 중..."));
        EXPECT_EQ(View()->MessageField(4)->Text(), QStringLiteral("다운로드 중 : 37 %"));
    }

    void ExpectEngineTextsUnchanged()
    {
        EXPECT_EQ(View()->MessageField(5)->Text(), QString::fromLatin1(kPass));
        EXPECT_EQ(View()->MessageField(6)->Text(), QString::fromLatin1(kAborted));
    }

    TestOptions m_test;
    ViewOptions m_options;
    QStringList m_extraFolders;
    Pty m_pty;
    std::unique_ptr<CTarvoApp> m_station;
};

TEST_F(Languages, NoLanguageChosenKeepsTheFormsOwnTexts)
{
    Start(QString());
    ShowEveryRowState();
    EXPECT_EQ(Frame()->Languages().Current(), QString());
    EXPECT_EQ(Frame()->OpenAction()->text(), QStringLiteral("Main S/W Open(&O)...\tCtrl+O"));
    EXPECT_EQ(Frame()->AboutAction()->statusTip(), QStringLiteral("프로그램 정보, 버전 및 저작권을 표시합니다."));
    CAboutBox about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Tarvo 정보"));
    EXPECT_EQ(View()->Button(forms::kIdComPortSetting)->text(), QStringLiteral("COMPORT SETTING"));
    EXPECT_EQ(View()->StateField(5)->Text(), QStringLiteral("COMPLETE"));
    EXPECT_EQ(View()->MessageField(1)->Text(), QStringLiteral("INSERT TARGET"));
    EXPECT_EQ(View()->MessageField(2)->Text(), QStringLiteral("Serial Port Open Failed..."));
    ExpectEngineTextsUnchanged();
}

TEST_F(Languages, EnglishFromTheProfileAppliesToEveryText)
{
    Start(QStringLiteral("en"));
    ShowEveryRowState();
    EXPECT_EQ(Frame()->Languages().Current(), QStringLiteral("en"));
    ExpectEnglish();
    ExpectEngineTextsUnchanged();
}

TEST_F(Languages, KoreanFromTheProfileAppliesToEveryText)
{
    Start(QStringLiteral("ko"));
    ShowEveryRowState();
    ExpectKorean();
    ExpectEngineTextsUnchanged();
    // The status bar's first pane is as wide as its Korean text, and the marquee scrolls it
    // whole characters at a time.
    Frame()->OnMarqueeTimer();
    EXPECT_TRUE(HasHangul(Frame()->MessagePane()->text()));
    EXPECT_FALSE(Frame()->MessagePane()->text().contains(QChar::ReplacementCharacter));

    // Qt's own file dialog speaks Korean too.
    QFileDialog files(Frame());
    files.setOption(QFileDialog::DontUseNativeDialog);
    QStringList buttons;
    for (QAbstractButton* button : files.findChildren<QDialogButtonBox*>().value(0)->buttons())
        buttons << button->text();
    ASSERT_FALSE(buttons.isEmpty());
    for (const QString& text : buttons)
        EXPECT_TRUE(HasHangul(text)) << text.toStdString();
}

TEST_F(Languages, SwitchAtRunTimeFromTheMenuRetranslatesWhatIsShownAndIsKept)
{
    Start(QStringLiteral("ko"));
    ShowEveryRowState();
    ExpectKorean();

    auto* english = Frame()->LanguageMenu()->findChild<QAction*>(QStringLiteral("language:en"));
    ASSERT_NE(english, nullptr);
    english->trigger();
    QCoreApplication::processEvents();
    ExpectEnglish();
    ExpectEngineTextsUnchanged();
    EXPECT_EQ(CLanguages::Stored(), QStringLiteral("en"));
    EXPECT_TRUE(english->isChecked());

    // Back to the form's own texts.
    auto* form = Frame()->LanguageMenu()->findChild<QAction*>(QStringLiteral("language:"));
    ASSERT_NE(form, nullptr);
    form->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(Frame()->OpenAction()->text(), QStringLiteral("Main S/W Open(&O)...\tCtrl+O"));
    EXPECT_EQ(View()->StateField(1)->Text(), QStringLiteral("READY"));
    EXPECT_EQ(CLanguages::Stored(), QString());

    // A download still running shows its next progress in the language now in force.
    Frame()->ChooseLanguage(QStringLiteral("ko"));
    QCoreApplication::processEvents();
    const CWinMonitorCtrl& engine = View()->Engine(4);
    ASSERT_TRUE(DeliverFromWorker([&] { View()->OnPortProgress(engine, ProgressReport{8, 61, 61000, 100000}); }));
    EXPECT_EQ(View()->MessageField(4)->Text(), QStringLiteral("다운로드 중 : 61 %"));
}

TEST_F(Languages, AFurtherLanguageIsAddedByDroppingItsFileIntoAFolder)
{
    QTemporaryDir drop;
    m_extraFolders << drop.path();
    Start(QString());
    auto languageCodes = [&] {
        QStringList codes;
        for (const LanguageChoice& choice : Frame()->Languages().Available())
            codes << choice.code;
        return codes;
    };
    EXPECT_EQ(languageCodes(), (QStringList{QStringLiteral("en"), QStringLiteral("ko")}));
    // A German file (the English one stands in for it) appears without a restart.
    ASSERT_TRUE(QFile::copy(QStringLiteral(":/translations/tarvo_en.qm"), drop.filePath(QStringLiteral("tarvo_de.qm"))));
    EXPECT_EQ(languageCodes(), (QStringList{QStringLiteral("de"), QStringLiteral("en"), QStringLiteral("ko")}));
    Frame()->FillLanguageMenu();
    auto* german = Frame()->LanguageMenu()->findChild<QAction*>(QStringLiteral("language:de"));
    ASSERT_NE(german, nullptr);
    EXPECT_EQ(german->text(), QStringLiteral("Deutsch"));
    german->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(Frame()->Languages().Current(), QStringLiteral("de"));
    EXPECT_EQ(Frame()->AboutAction()->text(), QStringLiteral("&About Tarvo..."));

    // A broken file and an unknown code leave the form's texts in force.
    QFile broken(drop.filePath(QStringLiteral("tarvo_fr.qm")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a translation");
    broken.close();
    EXPECT_FALSE(Frame()->ChooseLanguage(QStringLiteral("fr")));
    EXPECT_FALSE(Frame()->ChooseLanguage(QStringLiteral("xx")));
    QCoreApplication::processEvents();
    EXPECT_EQ(Frame()->Languages().Current(), QString());
    EXPECT_EQ(Frame()->AboutAction()->text(), QStringLiteral("Tarvo Infomation(&A)..."));
}

#if defined(TARVO_SOURCE_DIR) && defined(TARVO_LUPDATE_PATH)

// One message of a translation source.
struct TsMessage {
    QString context, source, translation;
    bool unfinished = false;  // lupdate's mark: new, or never translated
};

// The messages of the .ts file `path`; false with `error` when it cannot be read.
bool ReadTs(const QString& path, std::vector<TsMessage>& out, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage message;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            message = TsMessage{context, {}, {}, false};
        } else if (xml.name() == QLatin1String("source")) {
            message.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            message.unfinished = xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
            message.translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            out.push_back(message);
        }
    }
    if (xml.hasError()) {
        error = path + QStringLiteral(": ") + xml.errorString();
        return false;
    }
    return true;
}

TEST(LanguageFiles, EveryWindowTextHasAnEnglishAndAKoreanTranslation)
{
    // tools/update-translations.sh on copies of the sources: what it adds is unfinished.
    QTemporaryDir folder;
    const QString sources = QStringLiteral(TARVO_SOURCE_DIR "/resources/translations/");
    for (const char* name : {"tarvo_en.ts", "tarvo_ko.ts"})
        ASSERT_TRUE(QFile::copy(sources + QLatin1String(name), folder.filePath(QLatin1String(name)))) << name;
    QProcess update;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LUPDATE"), QStringLiteral(TARVO_LUPDATE_PATH));
    update.setProcessEnvironment(environment);
    update.start(QStringLiteral("sh"), {QStringLiteral(TARVO_SOURCE_DIR "/tools/update-translations.sh"), folder.path()});
    ASSERT_TRUE(update.waitForFinished(60000));
    ASSERT_EQ(update.exitCode(), 0) << update.readAllStandardError().toStdString();

    // English words in the source (not a lone name such as a program's): the Korean
    // translation says them in Korean.
    static const QRegularExpression englishWords(QStringLiteral("\\b[a-z]{3,}\\b.*\\s|\\s.*\\b[a-z]{3,}\\b"));
    for (const char* name : {"tarvo_en.ts", "tarvo_ko.ts"}) {
        const bool korean = QLatin1String(name) == QLatin1String("tarvo_ko.ts");
        std::vector<TsMessage> messages;
        QString error;
        ASSERT_TRUE(ReadTs(folder.filePath(QLatin1String(name)), messages, error)) << error.toStdString();
        EXPECT_GT(messages.size(), 200u) << name;
        for (const TsMessage& m : messages) {
            const std::string where = std::string(name) + ", " + m.context.toStdString() + ": \"" +
                                      m.source.toStdString() + "\"";
            if (m.unfinished || m.translation.isEmpty()) {
                ADD_FAILURE() << where << " has no translation";
                continue;
            }
            if (korean && englishWords.match(m.source).hasMatch()) {
                EXPECT_TRUE(HasHangul(m.translation)) << where << " is not in Korean: " << m.translation.toStdString();
            } else if (!korean) {
                EXPECT_FALSE(HasHangul(m.translation)) << where << " is not in English: " << m.translation.toStdString();
            }
        }
    }
}

#endif

}  // namespace
}  // namespace tarvo::test
