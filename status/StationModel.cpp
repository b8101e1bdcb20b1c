#include "status/StationModel.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>
#include <variant>

#include "record/Export.h"
#include "record/RunRecord.h"
#include "station/RowLogic.h"

namespace tarvo::status {
namespace {

constexpr std::size_t kRecentRecords = 20;
// The row whose steps stand for every port: the row logic's steps do not depend on the row
// beyond its number, so any port's appearance is that of row 1 applied to the port.
constexpr int kProxyRow = 1;
constexpr int kProxyPort = station::PortForRow(kProxyRow);

void Apply(PortState& port, const station::Steps& steps)
{
    for (const station::Step& step : steps) {
        std::visit(
            [&port](const auto& s) {
                using S = std::decay_t<decltype(s)>;
                if constexpr (std::is_same_v<S, station::SetText>) {
                    if (s.field == station::Field::State)
                        port.state = s.text;
                    else if (s.field == station::Field::Message)
                        port.text = s.text;
                } else if constexpr (std::is_same_v<S, station::SetTextColor>) {
                    if (s.field == station::Field::State)
                        port.stateFg = s.color;
                    else if (s.field == station::Field::Message)
                        port.textFg = s.color;
                } else if constexpr (std::is_same_v<S, station::SetBkColor>) {
                    if (s.field == station::Field::State)
                        port.stateBg = s.color;
                    else if (s.field == station::Field::Message)
                        port.textBg = s.color;
                }
            },
            step);
    }
}

std::string Quoted(const std::string& text) { return record::JsonString(text); }

std::string OptionalText(const std::optional<std::string>& text) { return text ? Quoted(*text) : "null"; }

// The port as /api/status lists it.
std::string PortJson(const PortState& p)
{
    return "{\"port\":" + std::to_string(p.port) + ",\"device\":" + Quoted(p.device) +
           ",\"location\":" + OptionalText(p.location) + ",\"state\":" + Quoted(p.state) +
           ",\"text\":" + Quoted(p.text) + ",\"reason\":" + Quoted(p.reason) +
           ",\"progress\":" + std::to_string(p.progress) + ",\"unit\":" + OptionalText(p.unit) +
           ",\"run_id\":" + OptionalText(p.runId) + ",\"pass\":" + std::to_string(p.pass) +
           ",\"fail\":" + std::to_string(p.fail) + ",\"error\":" + std::to_string(p.error) +
           ",\"colors\":{\"state\":[" + Quoted(CssColour(p.stateFg)) + "," + Quoted(CssColour(p.stateBg)) +
           "],\"text\":[" + Quoted(CssColour(p.textFg)) + "," + Quoted(CssColour(p.textBg)) + "]}}";
}

// The record's and the forwarder's state: "record":{...},"forward":{...}
std::string RecordAndForwardJson(const StationSnapshot& s)
{
    std::string out = "\"record\":{\"enabled\":" + std::string(s.recordEnabled ? "true" : "false") +
                      ",\"ok\":" + (s.recordProblem.empty() ? "true" : "false") + ",\"problem\":" +
                      (s.recordProblem.empty() ? std::string("null") : Quoted(s.recordProblem)) + "}";
    out += ",\"forward\":{\"enabled\":" + std::string(s.forward.enabled ? "true" : "false") +
           ",\"pending\":" + std::to_string(s.forward.pending) + ",\"set_aside\":" +
           std::to_string(s.forward.setAside) + ",\"problem\":" +
           (s.forward.problem.empty() ? std::string("null") : Quoted(s.forward.problem)) + ",\"last_success\":";
    if (s.forward.lastSuccess) {
        char when[32];
        std::snprintf(when, sizeof when, "%.3f", *s.forward.lastSuccess);
        out += when;
    } else {
        out += "null";
    }
    return out + "}";
}

}  // namespace

const std::vector<double>& DurationBuckets()
{
    static const std::vector<double> buckets{5, 10, 15, 20, 30, 45, 60, 90, 120, 180, 300, 600};
    return buckets;
}

StationModel::StationModel() : m_now([] { return SystemClock::now(); }) {}

int StationModel::Subscribe(Observer observer)
{
    std::lock_guard lock(m_mutex);
    const int id = m_nextObserver++;
    m_observers.emplace(id, std::move(observer));
    return id;
}

void StationModel::Unsubscribe(int id)
{
    std::lock_guard lock(m_mutex);
    m_observers.erase(id);
}

void StationModel::Read(const SnapshotReader& reader) const
{
    std::lock_guard lock(m_mutex);
    PruneHourLocked(m_now());
    reader(m_state);
}

StationSnapshot StationModel::Snapshot() const
{
    StationSnapshot copy;
    Read([&copy](const StationSnapshot& state) { copy = state; });
    return copy;
}

void StationModel::SetClock(std::function<SystemClock::time_point()> now)
{
    std::lock_guard lock(m_mutex);
    m_now = std::move(now);
}

void StationModel::SetStation(std::string name, std::string version, std::string language)
{
    std::lock_guard lock(m_mutex);
    m_state.station = std::move(name);
    m_state.version = std::move(version);
    m_state.language = std::move(language);
}

void StationModel::SetImage(ImageState image)
{
    std::lock_guard lock(m_mutex);
    m_state.image = std::move(image);
}

void StationModel::AddPort(int port, std::string device, std::optional<std::string> location)
{
    std::lock_guard lock(m_mutex);
    PortState& p = PortLocked(port);
    p.device = std::move(device);
    p.location = std::move(location);
}

void StationModel::SetRecord(bool enabled, std::string problem)
{
    std::lock_guard lock(m_mutex);
    if (m_state.recordEnabled == enabled && m_state.recordProblem == problem)
        return;
    m_state.recordEnabled = enabled;
    m_state.recordProblem = std::move(problem);
    Emit("station", "{" + RecordAndForwardJson(m_state) + "}");
}

void StationModel::SetForward(ForwardState forward)
{
    std::lock_guard lock(m_mutex);
    m_state.forward = std::move(forward);
    Emit("station", "{" + RecordAndForwardJson(m_state) + "}");
}

PortState& StationModel::PortLocked(int port)
{
    auto it = std::lower_bound(m_state.ports.begin(), m_state.ports.end(), port,
                               [](const PortState& p, int n) { return p.port < n; });
    if (it != m_state.ports.end() && it->port == port)
        return *it;
    PortState fresh;
    fresh.port = port;
    fresh.durationBuckets.assign(DurationBuckets().size() + 1, 0);
    // The window's start-up appearance of a row: CLOSE, message field empty.
    for (const station::Step& step : station::InitialAppearance()) {
        const bool ours = std::visit(
            [](const auto& s) {
                if constexpr (requires { s.field; s.row; })
                    return s.row == kProxyRow;
                else
                    return false;
            },
            step);
        if (ours)
            Apply(fresh, {step});
    }
    return *m_state.ports.insert(it, std::move(fresh));
}

void StationModel::Emit(const char* name, std::string data)
{
    const StationEvent event{name, std::move(data)};
    for (auto& [id, observer] : m_observers)
        observer(event);
}

void StationModel::RunBegun(int port, std::optional<std::string> runId, std::optional<std::string> unit)
{
    std::lock_guard lock(m_mutex);
    PortState& p = PortLocked(port);
    Apply(p, station::PortStarting(kProxyRow));
    Apply(p, station::PortOpened(kProxyRow));
    p.progress = 0;
    p.reason.clear();
    p.runId = std::move(runId);
    p.unit = std::move(unit);
    Emit("port", PortJson(p));
}

void StationModel::OpenFailed(int port, const std::string& reason)
{
    std::lock_guard lock(m_mutex);
    PortState& p = PortLocked(port);
    Apply(p, station::PortOpenFailed(kProxyRow));
    p.reason = reason;
    Emit("port", PortJson(p));
}

void StationModel::Waiting(int port, bool deviceAbsent)
{
    std::lock_guard lock(m_mutex);
    PortState& p = PortLocked(port);
    if (deviceAbsent) {
        Apply(p, station::DeviceAbsent(kProxyRow));
        // The window keeps the last result in the state field; a page also says why nothing runs.
        p.state = kNoDevice;
        p.stateFg = station::colour::kYellow;
        p.stateBg = station::colour::kNearBlack;
    } else {
        Apply(p, station::DeviceStayed(kProxyRow));
    }
    Emit("port", PortJson(p));
}

void StationModel::OnStatus(int port, int code, const std::string& text, const std::string& reason)
{
    std::lock_guard lock(m_mutex);
    PortState& p = PortLocked(port);
    Apply(p, station::OnStatus(kProxyPort, code, text));
    if (!reason.empty())
        p.reason = reason;
    std::string line = "{\"port\":" + std::to_string(port) + ",\"status\":" + std::to_string(code) +
                       ",\"text\":" + Quoted(text);
    if (!reason.empty())
        line += ",\"reason\":" + Quoted(reason);
    Emit("report", line + "}");
}

void StationModel::OnProgress(int port, int percent, int position, int size)
{
    std::lock_guard lock(m_mutex);
    PortState& p = PortLocked(port);
    Apply(p, station::OnProgress(kProxyPort, percent, position, size));
    p.progress = std::clamp(percent, 0, 100);
    char line[128];
    std::snprintf(line, sizeof line, "{\"port\":%d,\"progress\":%d,\"position\":%d,\"size\":%d}", port, percent,
                  position, size);
    Emit("report", line);
}

void StationModel::OnEnd(int port, const std::string& word)
{
    std::lock_guard lock(m_mutex);
    PortState& p = PortLocked(port);
    if (word == "ABORTED") {
        // The port is closed: the window's CLOSE look (red on light grey, as at start-up), the
        // word as the message.
        p.state = station::text::kClose;
        p.stateFg = station::colour::kRed;
        p.stateBg = station::colour::kLightGrey;
        p.text = word;
    } else if (word != "COMPLETE" && p.state != station::text::kError) {
        // A run that ended without an error status of its own (no target answered, the device
        // could not be opened) ends as every failed run does.
        const std::string message = word == "NO TARGET" ? "no target answered" : p.text;
        Apply(p, station::OnStatus(kProxyPort, -1, message));
    }
    Emit("report", "{\"port\":" + std::to_string(port) + ",\"end\":" + Quoted(word) + "}");
}

void StationModel::PruneHourLocked(SystemClock::time_point now) const
{
    while (!m_passTimes.empty() && now - m_passTimes.front() > std::chrono::hours(1))
        m_passTimes.pop_front();
    m_state.unitsPerHour = static_cast<int64_t>(m_passTimes.size());
}

void StationModel::OnRecord(const record::RunRecord& record, bool written)
{
    std::lock_guard lock(m_mutex);
    const std::string result = record.result.value_or("");
    if (record.port) {
        PortState& p = PortLocked(static_cast<int>(*record.port));
        ++p.results[result];
        if (result == record::result::kPass)
            ++p.pass;
        else if (result == record::result::kFail)
            ++p.fail;
        else if (result == record::result::kError || result == record::result::kNoTarget)
            ++p.error;
        if (record.bytes_sent)
            p.bytesSent += *record.bytes_sent;
        if (record.total_ms) {
            const double seconds = static_cast<double>(*record.total_ms) / 1000.0;
            const auto& bounds = DurationBuckets();
            const auto bucket = std::lower_bound(bounds.begin(), bounds.end(), seconds) - bounds.begin();
            ++p.durationBuckets[static_cast<std::size_t>(bucket)];
            p.durationSum += seconds;
        }
        if (record.unit)
            p.unit = record.unit;
        if (record.run_id)
            p.runId = record.run_id;
    }
    ++m_state.runs;
    if (result == record::result::kPass) {
        ++m_state.pass;
        m_passTimes.push_back(m_now());
    } else if (result == record::result::kFail) {
        ++m_state.fail;
    } else if (result == record::result::kError || result == record::result::kNoTarget) {
        ++m_state.error;
    }
    PruneHourLocked(m_now());
    if (m_state.recordEnabled && !written && m_state.recordProblem.empty())
        m_state.recordProblem = "a record could not be written";
    if (m_state.forward.enabled && written)
        ++m_state.forward.pending;
    std::string line = record::JsonLine(record);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    m_state.recentRecords.push_back(line);
    if (m_state.recentRecords.size() > kRecentRecords)
        m_state.recentRecords.erase(m_state.recentRecords.begin());
    Emit("record", std::move(line));
}

std::string CssColour(uint32_t c)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    return text;
}

std::string StatusJson(const StationSnapshot& s)
{
    std::string out = "{\"station\":" + Quoted(s.station) + ",\"version\":" + Quoted(s.version) +
                      ",\"language\":" + Quoted(s.language);
    out += ",\"image\":{\"path\":" + Quoted(s.image.path) + ",\"sha256\":" +
           (s.image.sha256.empty() ? std::string("null") : Quoted(s.image.sha256)) +
           ",\"bytes\":" + std::to_string(s.image.bytes) + ",\"approved\":" +
           (s.image.approved ? (*s.image.approved ? "true" : "false") : "null") + "}";
    out += ",\"ports\":[";
    for (std::size_t i = 0; i < s.ports.size(); ++i)
        out += (i ? "," : "") + PortJson(s.ports[i]);
    out += "],\"totals\":{\"runs\":" + std::to_string(s.runs) + ",\"pass\":" + std::to_string(s.pass) +
           ",\"fail\":" + std::to_string(s.fail) + ",\"error\":" + std::to_string(s.error) + "}";
    out += ",\"units_per_hour\":" + std::to_string(s.unitsPerHour);
    out += "," + RecordAndForwardJson(s);
    out += ",\"records\":[";
    for (std::size_t i = 0; i < s.recentRecords.size(); ++i) {
        if (i)
            out += ',';
        out += s.recentRecords[i];
    }
    return out + "]}";
}

}  // namespace tarvo::status
