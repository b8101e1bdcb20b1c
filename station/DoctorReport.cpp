#include "station/DoctorReport.h"

#include <QBrush>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
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
    return findings;
}

QString DeviceProblem(int port, const std::string& device)
{
    return QString::fromStdString(doctor::FirstProblem(doctor::CheckPort(port, device)));
}

CDoctorReport::CDoctorReport(Checks checks, QWidget* parent) : QDialog(parent), m_checks(std::move(checks))
{
    setWindowTitle(tr("Preflight check"));
    setObjectName(QStringLiteral("doctorReport"));
    auto* layout = new QVBoxLayout(this);
    m_verdict = new QLabel(this);
    m_verdict->setObjectName(QStringLiteral("verdict"));
    layout->addWidget(m_verdict);
    m_table = new QTreeWidget(this);
    m_table->setObjectName(QStringLiteral("findings"));
    m_table->setRootIsDecorated(false);
    m_table->setHeaderLabels({tr("Port"), tr("Device"), tr("Check"), tr("Result"), tr("Detail"), tr("Fix")});
    m_table->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* again = buttons->addButton(tr("Check again"), QDialogButtonBox::ActionRole);
    again->setObjectName(QStringLiteral("checkAgain"));
    connect(again, &QPushButton::clicked, this, &CDoctorReport::Refresh, Qt::DirectConnection);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject, Qt::DirectConnection);
    layout->addWidget(buttons);
    resize(900, 420);
    Refresh();
}

void CDoctorReport::Refresh()
{
    m_table->clear();
    int failed = 0;
    for (const doctor::Finding& f : m_checks ? m_checks() : std::vector<doctor::Finding>{}) {
        auto* item = new QTreeWidgetItem(m_table);
        item->setText(0, f.port > 0 ? QStringLiteral("COM%1").arg(f.port) : tr("Station"));
        item->setText(1, QString::fromStdString(f.device));
        item->setText(2, QString::fromStdString(f.check));
        item->setText(3, f.ok ? tr("OK") : tr("FAIL"));
        item->setText(4, QString::fromStdString(f.detail));
        item->setText(5, QString::fromStdString(f.hint));
        item->setToolTip(4, item->text(4));
        item->setToolTip(5, item->text(5));
        if (!f.ok) {
            ++failed;
            for (int column = 0; column < 6; ++column)
                item->setForeground(column, QBrush(Qt::red));
        }
    }
    m_verdict->setText(failed == 0 ? tr("Nothing wrong found.")
                                   : tr("%n problem(s) found: see the lines in red and their fixes.", nullptr, failed));
}

}  // namespace tarvo
