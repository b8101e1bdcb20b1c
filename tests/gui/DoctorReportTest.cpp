// The window's preflight report read at a glance: one line per port and one for the station's
// files, problems first and worst first, passed checks folded away until asked for, every fix
// in full in a narrow window, and everything in Korean when the window is. Pictures of it in
// English and Korean go to <build>/screenshots/ (preflight-report-<language>.png).
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QScrollBar>
#include <QTextBrowser>

#include "doctor/Doctor.h"
#include "station/DoctorReport.h"
#include "station/Language.h"
#include "support/Pty.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/OperatorSupport.h"

namespace tarvo::test {
namespace {

class DoctorReportView : public GuiTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.ok());
        const QString home = m_profile.Home().path();
        m_notATty = home + QStringLiteral("/not-a-tty");
        QFile file(m_notATty);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    // COM5 a terminal that passes, COM6 a device that is gone, COM7 a plain file, and the
    // station's files: no monitor files, no image stored.
    std::vector<doctor::Finding> Findings() const
    {
        std::vector<doctor::Finding> all;
        for (auto& f : doctor::CheckPort(5, m_pty.SlavePath()))
            all.push_back(f);
        for (auto& f : doctor::CheckPort(6, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0"))
            all.push_back(f);
        for (auto& f : doctor::CheckPort(7, m_notATty.toStdString()))
            all.push_back(f);
        for (auto& f : doctor::CheckStationFiles(m_profile.Home().path().toStdString(), ""))
            all.push_back(f);
        return all;
    }
    static QStringList Lines(const CDoctorReport& report)
    {
        QStringList lines = report.Report()->toPlainText().split(QLatin1Char('\n'));
        lines.removeAll(QString());
        return lines;
    }
    static int IndexOf(const QStringList& lines, const QString& start)
    {
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].startsWith(start))
                return i;
        return -1;
    }
    static void Save(QWidget& widget, const QString& name)
    {
        QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots"));
        dir.mkpath(QStringLiteral("."));
        const QPixmap shot = widget.grab();
        ASSERT_FALSE(shot.isNull());
        ASSERT_TRUE(shot.save(dir.absoluteFilePath(name))) << name.toStdString();
    }

    Pty m_pty;
    QString m_notATty;
};

TEST_F(DoctorReportView, OneLinePerPortProblemsFirstPassesFoldedAway)
{
    CDoctorReport report([this] { return Findings(); });
    const QStringList lines = Lines(report);
    // The missing device first, then the plain file, then the station's files, then the port
    // that passed, on a single line.
    const int missing = IndexOf(lines, QStringLiteral("COM6 "));
    const int notATty = IndexOf(lines, QStringLiteral("COM7 "));
    const int files = IndexOf(lines, QStringLiteral("Station files"));
    const int passed = IndexOf(lines, QStringLiteral("COM5 "));
    ASSERT_GE(missing, 0) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_LT(missing, notATty);
    EXPECT_LT(notATty, files);
    EXPECT_LT(files, passed);
    EXPECT_EQ(passed, lines.size() - 1) << "the port that passed takes one line";
    EXPECT_TRUE(lines[passed].contains(QStringLiteral("OK: "))) << lines[passed].toStdString();
    // Within a group, the worst problem first: the monitor files before the image.
    const QString text = report.Report()->toPlainText();
    ASSERT_GE(text.indexOf(QStringLiteral("download image:")), 0) << text.toStdString();
    EXPECT_LT(text.indexOf(QStringLiteral("monitor files:")), text.indexOf(QStringLiteral("download image:")));
    EXPECT_FALSE(text.contains(QStringLiteral("is a terminal"))) << "passed checks are folded away";
    EXPECT_TRUE(report.Verdict()->text().startsWith(QStringLiteral("4 problem"))) << report.Verdict()->text().toStdString();

    report.ShowPassed()->setChecked(true);
    const QString all = report.Report()->toPlainText();
    EXPECT_TRUE(all.contains(QString::fromStdString(m_pty.SlavePath()) + QStringLiteral(" is a terminal")))
        << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("no other program holds"))) << all.toStdString();
}

TEST_F(DoctorReportView, EveryFixInFullInANarrowWindow)
{
    CDoctorReport report([this] { return Findings(); });
    report.resize(420, 600);
    report.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&report));
    QCoreApplication::processEvents();
    const QString text = report.Report()->toPlainText();
    for (const doctor::Finding& f : Findings()) {
        if (!f.ok) {
            EXPECT_TRUE(text.contains(QString::fromStdString(f.hint))) << f.hint;
        }
    }
    // Wrapped at the window's edge: nothing to scroll sideways to.
    EXPECT_EQ(report.Report()->horizontalScrollBar()->maximum(), 0);
}

TEST_F(DoctorReportView, KoreanNamesDetailsAndFixesAndPictures)
{
    for (const QString& language : {QStringLiteral("en"), QStringLiteral("ko")}) {
        CLanguages languages;
        ASSERT_TRUE(languages.Apply(language));
        CDoctorReport report([this] { return Findings(); });
        report.ShowPassed()->setChecked(true);
        report.resize(760, 560);
        report.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&report));
        QCoreApplication::processEvents();
        const QString text = report.Report()->toPlainText();
        if (language == QStringLiteral("ko")) {
            for (const char* english : {"does not exist", "plug in", "is not a character device", "Fix:", "monitor files",
                                        "is missing", "device present", "Station files", "may read and write",
                                        "no main software image"})
                EXPECT_FALSE(text.contains(QLatin1String(english))) << english << " in\n" << text.toStdString();
            for (const char* korean : {"장치 존재", "어댑터", "조치:", "스테이션 파일", "통과", "메인 소프트웨어"})
                EXPECT_TRUE(text.contains(QString::fromUtf8(korean))) << korean << " missing in\n" << text.toStdString();
            EXPECT_TRUE(HasHangul(report.ShowPassed()->text()));
            EXPECT_TRUE(HasHangul(report.Verdict()->text()));
        } else {
            EXPECT_TRUE(text.contains(QStringLiteral("Fix: plug in the adapter"))) << text.toStdString();
        }
        report.ShowPassed()->setChecked(false);
        QCoreApplication::processEvents();
        Save(report, QStringLiteral("preflight-report-%1.png").arg(language));
    }
}

}  // namespace
}  // namespace tarvo::test
