// CRecordDialog: the production record view. The latest records of the station's journal,
// newest first, with filters for today, one port and failures only, a refresh and an export
// of the selected records to a CSV file.
//
// Threading: GUI thread.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QTableView;

namespace tarvo {

class CRecordModel;

class CRecordDialog : public QDialog {
    Q_OBJECT
public:
    // `chooseFile` returns the CSV file to write (empty: cancelled); empty function: a save
    // file dialog.
    CRecordDialog(const std::string& databasePath, QWidget* parent = nullptr,
                  std::function<QString(QWidget*)> chooseFile = {});

    CRecordModel* Model() const { return m_model; }
    QTableView* Table() const { return m_table; }
    QCheckBox* TodayFilter() const { return m_today; }
    QComboBox* PortFilter() const { return m_port; }
    QCheckBox* FailuresFilter() const { return m_failures; }
    QLabel* StatusLine() const { return m_status; }

    void Refresh();
    void ExportCsv();

private:
    CRecordModel* m_model = nullptr;
    QTableView* m_table = nullptr;
    QCheckBox* m_today = nullptr;
    QComboBox* m_port = nullptr;
    QCheckBox* m_failures = nullptr;
    QLabel* m_status = nullptr;
    std::function<QString(QWidget*)> m_chooseFile;
};

}  // namespace tarvo
