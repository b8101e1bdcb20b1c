// CRecordModel: the latest records of the local journal as a table for the production record
// view, newest first, with PASS rows green and FAIL and ERROR rows red. Beside the message the
// table shows the failure's reason and whether the record has reached the line database.
//
// Reload() reads the journal (a read-only connection; the journal's writers are never held up:
// it is in WAL mode) with the filter in force: today only, one port, failures only. The table
// holds at most `limit` records; Export writes every record the filter selects as CSV.
//
// Threading: GUI thread.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <string>
#include <vector>

#include "record/RecordStore.h"
#include "record/RunRecord.h"

namespace tarvo {

class CRecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Started, Port, Result, Status, Unit, Text, Reason, Forwarded, TotalMs, Image, Station, RunId, ColumnCount };

    explicit CRecordModel(std::string databasePath, QObject* parent = nullptr);

    void SetTodayOnly(bool on) { m_today = on; }
    void SetPort(int port) { m_port = port; }  // 0: every port
    void SetFailuresOnly(bool on) { m_failures = on; }
    void SetLimit(int limit) { m_limit = limit; }
    // Reads the records again; false (and Error() set) when the journal cannot be read.
    bool Reload();
    // Writes every selected record to `path` as CSV; false with Error() set on failure.
    bool Export(const QString& path);
    const QString& Error() const { return m_error; }
    const record::RunRecord& RecordAt(int row) const { return m_records[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    record::RecordFilter Filter() const;

    std::string m_path;
    bool m_today = false;
    int m_port = 0;
    bool m_failures = false;
    int m_limit = 1000;
    QString m_error;
    std::vector<record::RunRecord> m_records;
    // Whether each record of m_records is in the line database, or was refused by it.
    std::vector<record::ForwardState> m_states;
};

}  // namespace tarvo
