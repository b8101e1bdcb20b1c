#include "station/RecordDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "station/RecordModel.h"

namespace tarvo {

CRecordDialog::CRecordDialog(const std::string& databasePath, QWidget* parent, std::function<QString(QWidget*)> chooseFile)
    : QDialog(parent), m_chooseFile(std::move(chooseFile))
{
    setWindowTitle(tr("Production record"));
    resize(960, 540);
    m_model = new CRecordModel(databasePath, this);

    m_today = new QCheckBox(tr("Today"), this);
    m_port = new QComboBox(this);
    m_port->addItem(tr("All ports"), 0);
    for (int port = 5; port <= 12; ++port)
        m_port->addItem(tr("COM%1").arg(port), port);
    m_failures = new QCheckBox(tr("Failures only"), this);
    auto* refresh = new QPushButton(tr("Refresh"), this);
    auto* exportButton = new QPushButton(tr("Export CSV..."), this);

    auto* filters = new QHBoxLayout;
    filters->addWidget(m_today);
    filters->addWidget(m_port);
    filters->addWidget(m_failures);
    filters->addStretch(1);
    filters->addWidget(refresh);
    filters->addWidget(exportButton);

    m_table = new QTableView(this);
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);
    layout->addWidget(buttons);

    connect(m_today, &QCheckBox::toggled, this, &CRecordDialog::Refresh);
    connect(m_failures, &QCheckBox::toggled, this, &CRecordDialog::Refresh);
    connect(m_port, &QComboBox::currentIndexChanged, this, &CRecordDialog::Refresh);
    connect(refresh, &QPushButton::clicked, this, &CRecordDialog::Refresh);
    connect(exportButton, &QPushButton::clicked, this, &CRecordDialog::ExportCsv);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    Refresh();
}

void CRecordDialog::Refresh()
{
    m_model->SetTodayOnly(m_today->isChecked());
    m_model->SetPort(m_port->currentData().toInt());
    m_model->SetFailuresOnly(m_failures->isChecked());
    if (m_model->Reload()) {
        m_status->setStyleSheet(QString());
        m_status->setText(tr("%n record(s) shown, newest first.", nullptr, m_model->rowCount()));
        m_table->resizeColumnsToContents();
    } else {
        m_status->setStyleSheet(QStringLiteral("color: red"));
        m_status->setText(m_model->Error());
    }
}

void CRecordDialog::ExportCsv()
{
    const QString path = m_chooseFile ? m_chooseFile(this)
                                      : QFileDialog::getSaveFileName(this, tr("Export the production record"),
                                                                     QStringLiteral("records.csv"), tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    if (m_model->Export(path)) {
        m_status->setStyleSheet(QString());
        m_status->setText(tr("Exported to %1.").arg(path));
    } else {
        m_status->setStyleSheet(QStringLiteral("color: red"));
        m_status->setText(m_model->Error());
    }
}

}  // namespace tarvo
