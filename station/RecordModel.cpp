#include "station/RecordModel.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include "record/Export.h"

namespace tarvo {

CRecordModel::CRecordModel(std::string databasePath, QObject* parent)
    : QAbstractTableModel(parent), m_path(std::move(databasePath))
{
}

record::RecordFilter CRecordModel::Filter() const
{
    record::RecordFilter filter;
    filter.newestFirst = true;
    if (m_today) {
        const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
        filter.since = midnight.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toStdString();
    }
    if (m_port > 0)
        filter.port = m_port;
    filter.failuresOnly = m_failures;
    return filter;
}

bool CRecordModel::Reload()
{
    beginResetModel();
    m_records.clear();
    m_error.clear();
    record::RecordStore store;
    std::string error;
    bool ok = store.Open(m_path, error, true);
    if (ok) {
        record::RecordFilter filter = Filter();
        filter.limit = m_limit;
        m_states.clear();
        ok = store.QueryStates(filter, [&](const record::RunRecord& r, const record::ForwardState& state) {
            m_records.push_back(r);
            m_states.push_back(state);
        }, error);
    }
    if (!ok)
        m_error = QString::fromStdString(error);
    endResetModel();
    return ok;
}

bool CRecordModel::Export(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    record::RecordStore store;
    std::string error;
    if (!store.Open(m_path, error, true)) {
        m_error = QString::fromStdString(error);
        return false;
    }
    std::string out = record::CsvHeader();
    bool written = true;
    const bool ok = store.Query(Filter(), [&](const record::RunRecord& r) {
        out += record::CsvRow(r);
        if (out.size() > 256 * 1024) {
            written &= file.write(out.data(), static_cast<qint64>(out.size())) == static_cast<qint64>(out.size());
            out.clear();
        }
    }, error);
    written &= file.write(out.data(), static_cast<qint64>(out.size())) == static_cast<qint64>(out.size());
    written &= file.flush();
    if (!ok) {
        m_error = QString::fromStdString(error);
        return false;
    }
    if (!written) {
        m_error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

int CRecordModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_records.size());
}

int CRecordModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

namespace {

QString Str(const record::Text& value) { return value ? QString::fromStdString(*value) : QString(); }
QVariant Number(const record::Number& value) { return value ? QVariant(static_cast<qlonglong>(*value)) : QVariant(); }

// A record's UTC time shown in the station's local time.
QString LocalTime(const record::Text& iso)
{
    if (!iso)
        return {};
    QDateTime time = QDateTime::fromString(QString::fromStdString(*iso), Qt::ISODateWithMs);
    if (!time.isValid())
        return QString::fromStdString(*iso);
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace


QVariant CRecordModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const record::RunRecord& r = m_records[static_cast<std::size_t>(index.row())];
    const std::string result = r.result.value_or("");
    if (role == Qt::BackgroundRole) {
        if (result == record::result::kPass)
            return QBrush(QColor(0xC8, 0xF0, 0xC8));
        if (result == record::result::kFail || result == record::result::kError)
            return QBrush(QColor(0xF8, 0xC0, 0xC0));
        return {};
    }
    if (role == Qt::ToolTipRole && index.column() == Text)
        return r.reason ? Str(r.text) + QStringLiteral("\n") + QString::fromStdString(*r.reason) : Str(r.text);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Started: return LocalTime(r.started_at);
    case Port: return Number(r.port);
    case Result: return QString::fromStdString(result);
    case Status: return Number(r.status);
    case Unit: return Str(r.unit);
    case Text: return Str(r.text).replace(QLatin1Char('\r'), QString());
    case Reason: return Str(r.reason).replace(QLatin1Char('\r'), QString());
    case Forwarded:
        if (result == record::result::kRunning)
            return QString();
        if (static_cast<std::size_t>(index.row()) >= m_states.size())
            return QString();
        if (const record::ForwardState& state = m_states[static_cast<std::size_t>(index.row())]; state.forwarded)
            return tr("yes");
        else if (state.setAside)
            return tr("set aside: %1").arg(QString::fromStdString(*state.setAside));
        return tr("waiting");
    case TotalMs: return Number(r.total_ms);
    case Image: return Str(r.image);
    case Station: return Str(r.station);
    case RunId: return Str(r.run_id);
    default: return {};
    }
}

QVariant CRecordModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Started: return tr("Started");
    case Port: return tr("Port");
    case Result: return tr("Result");
    case Status: return tr("Status");
    case Unit: return tr("Unit");
    case Text: return tr("Message");
    case Reason: return tr("Reason");
    case Forwarded: return tr("Line DB");
    case TotalMs: return tr("Total (ms)");
    case Image: return tr("Image");
    case Station: return tr("Station");
    case RunId: return tr("Run");
    default: return {};
    }
}

}  // namespace tarvo
