#include "station/DoctorReport.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "serial/PortDirectory.h"
#include "station/Profile.h"
#include "station/RowLogic.h"

namespace tarvo {

std::vector<doctor::Finding> RunStationChecks(const std::string& monitorDir, const std::string& imagePath)
{
    std::vector<doctor::Finding> findings;
    for (int row = 1; row <= station::kRows; ++row) {
        if (profile::ReadInt(profile::kPortSection, profile::PortFlagKey(row), 0) != 1)
            continue;
        const int port = station::PortForRow(row);
        const QString stored = profile::DeviceFor(port);
        const std::string device = stored.isEmpty() ? DefaultDevicePath(port) : QFile::encodeName(stored).toStdString();
        for (doctor::Finding& f : doctor::CheckPort(port, device))
            findings.push_back(std::move(f));
    }
    for (doctor::Finding& f : doctor::CheckStationFiles(monitorDir, imagePath))
        findings.push_back(std::move(f));
    // The administrator's settings and the operator's profile: who may change or read them.
    for (doctor::Finding& f : doctor::CheckSettingsFiles(QFile::encodeName(profile::SystemFilePath()).toStdString(),
                                                        QFile::encodeName(profile::FilePath()).toStdString()))
        findings.push_back(std::move(f));
    return findings;
}

QString TranslatedText(const doctor::Text& text)
{
    if (!text.form || !*text.form)
        return {};
    const QString form = QCoreApplication::translate("Doctor", text.form);
    return QString::fromStdString(doctor::Fill(form.toStdString(), text.args));
}

QString DeviceProblem(int port, const std::string& device)
{
    for (const doctor::Finding& f : doctor::CheckPort(port, device))
        if (!f.ok)
            return TranslatedText(f.detailText) + QStringLiteral(": ") + TranslatedText(f.hintText);
    return {};
}

CDoctorReport::CDoctorReport(Checks checks, QWidget* parent) : QDialog(parent), m_checks(std::move(checks))
{
    setObjectName(QStringLiteral("doctorReport"));
    auto* layout = new QVBoxLayout(this);
    m_verdict = new QLabel(this);
    m_verdict->setObjectName(QStringLiteral("verdict"));
    m_verdict->setWordWrap(true);
    layout->addWidget(m_verdict);
    m_report = new QTextBrowser(this);
    m_report->setObjectName(QStringLiteral("findings"));
    m_report->setOpenLinks(false);
    m_report->setLineWrapMode(QTextEdit::WidgetWidth);
    layout->addWidget(m_report);
    m_showPassed = new QCheckBox(this);
    m_showPassed->setObjectName(QStringLiteral("showPassed"));
    connect(m_showPassed, &QCheckBox::toggled, this, &CDoctorReport::Show, Qt::DirectConnection);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_again = buttons->addButton(QString(), QDialogButtonBox::ActionRole);
    m_again->setObjectName(QStringLiteral("checkAgain"));
    connect(m_again, &QPushButton::clicked, this, &CDoctorReport::Refresh, Qt::DirectConnection);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject, Qt::DirectConnection);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_showPassed);
    bottom->addStretch(1);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);
    resize(760, 480);
    SetTexts();
    Refresh();
}

void CDoctorReport::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        SetTexts();
        Show();
    }
    QDialog::changeEvent(event);
}

void CDoctorReport::SetTexts()
{
    setWindowTitle(tr("Preflight check"));
    m_showPassed->setText(tr("Show passed checks"));
    m_again->setText(tr("Check again"));
}

void CDoctorReport::Refresh()
{
    m_findings = m_checks ? m_checks() : std::vector<doctor::Finding>{};
    Show();
}

void CDoctorReport::Show()
{
    const bool showPassed = m_showPassed->isChecked();
    const QString red = QStringLiteral("#c00000");
    const QString green = QStringLiteral("#207020");
    auto name = [](const doctor::Finding& f) {
        return QCoreApplication::translate("Doctor", doctor::CheckName(f.check)).toHtmlEscaped();
    };
    QString html = QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"3\">");
    int failed = 0;
    for (const doctor::FindingGroup& group : doctor::GroupFindings(m_findings)) {
        failed += static_cast<int>(group.problems.size());
        const QString where = group.port > 0
                                  ? QStringLiteral("<b>COM%1</b> %2").arg(group.port).arg(
                                        QString::fromStdString(group.device).toHtmlEscaped())
                                  : QStringLiteral("<b>%1</b>").arg(tr("Station files").toHtmlEscaped());
        const int checks = static_cast<int>(group.problems.size() + group.passed.size());
        const QString summary =
            group.problems.empty()
                ? QStringLiteral("<span style=\"color:%1\">%2</span>")
                      .arg(green, tr("OK: %n check(s) passed", nullptr, checks).toHtmlEscaped())
                : QStringLiteral("<span style=\"color:%1\">%2</span>")
                      .arg(red, tr("%n problem(s)", nullptr, static_cast<int>(group.problems.size())).toHtmlEscaped());
        html += QStringLiteral("<tr><td colspan=\"2\" style=\"border-top:1px solid #b0b0b0\">%1 &nbsp; %2</td></tr>")
                    .arg(where, summary);
        for (const doctor::Finding& f : group.problems) {
            html += QStringLiteral("<tr><td width=\"56\" style=\"color:%1\" nowrap>&nbsp;&nbsp;<b>%2</b></td>"
                                   "<td><b>%3</b>: %4<br/>%5 %6</td></tr>")
                        .arg(red, tr("FAIL").toHtmlEscaped(), name(f), TranslatedText(f.detailText).toHtmlEscaped(),
                             tr("Fix:").toHtmlEscaped(), TranslatedText(f.hintText).toHtmlEscaped());
        }
        if (showPassed) {
            for (const doctor::Finding& f : group.passed)
                html += QStringLiteral("<tr><td style=\"color:%1\" nowrap>&nbsp;&nbsp;%2</td><td><b>%3</b>: %4</td></tr>")
                            .arg(green, tr("OK").toHtmlEscaped(), name(f), TranslatedText(f.detailText).toHtmlEscaped());
        } else if (!group.problems.empty() && !group.passed.empty()) {
            QStringList names;
            for (const doctor::Finding& f : group.passed)
                names << name(f);
            html += QStringLiteral("<tr><td style=\"color:%1\" nowrap>&nbsp;&nbsp;%2</td><td>%3</td></tr>")
                        .arg(green, tr("OK").toHtmlEscaped(), names.join(QStringLiteral(", ")));
        }
    }
    html += QStringLiteral("</table>");
    m_report->setHtml(html);
    m_verdict->setText(failed == 0 ? tr("Nothing wrong found.")
                                   : tr("%n problem(s) found: see the lines in red and their fixes.", nullptr, failed));
}

}  // namespace tarvo
