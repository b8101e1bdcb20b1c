// tarvo-cli line: the whole line at a glance, from the line database. Serves, read-only:
//   GET /api/line  every station's status as JSON (views tarvo_line_status and
//                  tarvo_failure_reasons, computed by PostgreSQL)
//   GET /metrics   the same as Prometheus series tarvo_line_* (prometheus-cpp's exposition)
//   GET /          a page that shows /api/line, its script and style served beside it
// The server answers from one connection to the line database, its waits bounded: with the
// server away a request gets 503 and the server's error within a few seconds, never a hang.

#include <httplib.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "record/Export.h"
#include "record/Identity.h"
#include "record/LineDatabase.h"
#include "tools/cli/Commands.h"
#include "tools/cli/SignalWatch.h"
#include "tools/cmdline/CommandLine.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage = "line --db URL [--listen [ADDR:]PORT]";
constexpr int kDefaultPort = 9782;
constexpr int kConnectTimeoutMs = 3000;
constexpr int kQueryTimeoutMs = 5000;
constexpr int kTopReasons = 5;
// Answers younger than this are shared by requests (a dashboard and a scraper at once).
constexpr auto kFreshFor = std::chrono::seconds(1);

constexpr const char* kPolicy = "default-src 'self'";

constexpr const char* kPage = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Tarvo line</title><link rel="stylesheet" href="/line.css"></head>
<body><header><h1>Tarvo line</h1><span id="state">loading…</span></header>
<table><thead><tr><th>Station</th><th>Last record</th><th>Hour runs</th><th>PASS</th><th>FAIL</th><th>ERROR</th>
<th>Yield</th><th>Today runs</th><th>PASS</th><th>FAIL</th><th>ERROR</th><th>Yield</th><th>Units/h</th>
<th>Top failure reasons (today)</th></tr></thead><tbody id="rows"></tbody></table>
<script src="/line.js"></script></body></html>
)";

constexpr const char* kStyle = R"(body{font-family:sans-serif;margin:1em;background:#f4f4f4}
header{display:flex;gap:1em;align-items:baseline}h1{font-size:1.4em;margin:0 0 .5em}
table{border-collapse:collapse;width:100%;background:#fff}th,td{border:1px solid #ccc;padding:.3em .5em;text-align:right}
td:first-child,td:last-child,th:first-child,th:last-child{text-align:left}
tr.silent td{background:#fdd}#state.error{color:#b00;font-weight:bold}
@media (max-width:700px){table{font-size:.8em}}
)";

// Everything from the server is put in as text (textContent), never as markup.
constexpr const char* kScript = R"('use strict';
function cell(row, text) { const td = document.createElement('td'); td.textContent = text; row.appendChild(td); }
function pct(y) { return y === null ? '' : (y * 100).toFixed(1) + ' %'; }
async function refresh() {
  const state = document.getElementById('state');
  try {
    const res = await fetch('/api/line', {cache: 'no-store'});
    const body = await res.json();
    if (!res.ok) throw new Error(body.error || res.statusText);
    const rows = document.getElementById('rows');
    rows.replaceChildren();
    for (const s of body.stations) {
      const tr = document.createElement('tr');
      if (s.silent) tr.className = 'silent';
      cell(tr, s.station + (s.silent ? ' (silent)' : ''));
      cell(tr, s.last_record_at || '');
      for (const w of [s.hour, s.today]) { cell(tr, w.runs); cell(tr, w.pass); cell(tr, w.fail); cell(tr, w.error); cell(tr, pct(w.yield)); }
      cell(tr, s.units_per_hour);
      cell(tr, s.top_reasons.map(r => r.reason + ' (' + r.count + ')').join('; '));
      rows.appendChild(tr);
    }
    state.className = '';
    state.textContent = 'updated ' + new Date().toLocaleTimeString();
  } catch (e) {
    state.className = 'error';
    state.textContent = 'line database: ' + e.message;
  }
}
refresh();
setInterval(refresh, 10000);
)";

// One connection to the line database, shared by the server's threads.
class LineSource {
public:
    explicit LineSource(std::string url) : m_url(std::move(url)) {}

    // The stations, or false with the server's error.
    bool Read(std::vector<record::LineStation>& stations, std::string& error)
    {
        std::lock_guard lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        if (m_ok && now - m_readAt < kFreshFor) {
            stations = m_stations;
            return true;
        }
        m_db.SetDeadline(now + std::chrono::milliseconds(kConnectTimeoutMs + kQueryTimeoutMs));
        m_ok = (m_db.IsOpen() || m_db.Connect(m_url, kConnectTimeoutMs, error)) &&
               m_db.LineStatus(m_stations, kTopReasons, error);
        if (!m_ok) {
            m_db.Close();  // the next request connects again
            return false;
        }
        m_readAt = now;
        stations = m_stations;
        return true;
    }

private:
    std::string m_url;
    std::mutex m_mutex;
    record::LineDatabase m_db;
    bool m_ok = false;
    std::chrono::steady_clock::time_point m_readAt;
    std::vector<record::LineStation> m_stations;
};

std::string Ratio(const std::optional<double>& value)
{
    if (!value)
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", *value);
    return text;
}

std::string WindowJson(const record::LineStation::Window& w)
{
    return "{\"runs\":" + std::to_string(w.runs) + ",\"pass\":" + std::to_string(w.pass) + ",\"fail\":" +
           std::to_string(w.fail) + ",\"error\":" + std::to_string(w.error) + ",\"yield\":" + Ratio(w.yield) + "}";
}

std::string LineJson(const std::vector<record::LineStation>& stations)
{
    std::string out = "{\"stations\":[";
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const auto& s = stations[i];
        out += std::string(i ? "," : "") + "{\"station\":" + record::JsonString(s.station) +
               ",\"last_record_at\":" + (s.lastRecordAt ? record::JsonString(*s.lastRecordAt) : "null") +
               ",\"silent\":" + (s.silent ? "true" : "false") + ",\"hour\":" + WindowJson(s.hour) +
               ",\"today\":" + WindowJson(s.today) + ",\"units_per_hour\":" + std::to_string(s.unitsPerHour) +
               ",\"top_reasons\":[";
        for (std::size_t k = 0; k < s.topReasons.size(); ++k)
            out += std::string(k ? "," : "") + "{\"reason\":" + record::JsonString(s.topReasons[k].first) +
                   ",\"count\":" + std::to_string(s.topReasons[k].second) + "}";
        out += "]}";
    }
    return out + "]}\n";
}

long long EpochSeconds(const std::string& iso)
{
    std::tm tm{};
    if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) != 6)
        return 0;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<long long>(::timegm(&tm));
}

std::string LineMetrics(const std::vector<record::LineStation>& stations)
{
    prometheus::Registry registry;
    auto& last = prometheus::BuildGauge()
                     .Name("tarvo_line_last_record_timestamp_seconds")
                     .Help("Time of the station's last record")
                     .Register(registry);
    auto& silent = prometheus::BuildGauge()
                       .Name("tarvo_line_silent")
                       .Help("1 when the station has been silent for 10 minutes although it had runs in the last hour")
                       .Register(registry);
    auto& runs = prometheus::BuildGauge()
                     .Name("tarvo_line_runs")
                     .Help("Runs of the station in the window (hour: the last 60 minutes; today: the UTC day)")
                     .Register(registry);
    auto& results = prometheus::BuildGauge()
                        .Name("tarvo_line_results")
                        .Help("Runs of the station in the window that ended with the result")
                        .Register(registry);
    auto& yield = prometheus::BuildGauge()
                      .Name("tarvo_line_yield_ratio")
                      .Help("PASS / (PASS + FAIL + ERROR) in the window")
                      .Register(registry);
    auto& units = prometheus::BuildGauge()
                      .Name("tarvo_line_units_per_hour")
                      .Help("Runs that ended PASS, FAIL or ERROR in the last 60 minutes")
                      .Register(registry);
    auto& reasons = prometheus::BuildGauge()
                        .Name("tarvo_line_failure_reasons")
                        .Help("Today's most frequent failure reasons of the station")
                        .Register(registry);
    for (const auto& s : stations) {
        if (s.lastRecordAt)
            last.Add({{"station", s.station}}).Set(static_cast<double>(EpochSeconds(*s.lastRecordAt)));
        silent.Add({{"station", s.station}}).Set(s.silent ? 1 : 0);
        units.Add({{"station", s.station}}).Set(static_cast<double>(s.unitsPerHour));
        for (const auto& [name, w] : {std::pair{"hour", s.hour}, std::pair{"today", s.today}}) {
            runs.Add({{"station", s.station}, {"window", name}}).Set(static_cast<double>(w.runs));
            results.Add({{"station", s.station}, {"window", name}, {"result", "PASS"}}).Set(static_cast<double>(w.pass));
            results.Add({{"station", s.station}, {"window", name}, {"result", "FAIL"}}).Set(static_cast<double>(w.fail));
            results.Add({{"station", s.station}, {"window", name}, {"result", "ERROR"}}).Set(static_cast<double>(w.error));
            if (w.yield)
                yield.Add({{"station", s.station}, {"window", name}}).Set(*w.yield);
        }
        for (const auto& [reason, count] : s.topReasons)
            reasons.Add({{"station", s.station}, {"reason", reason}}).Set(static_cast<double>(count));
    }
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, registry.Collect());
    return out.str();
}

// "[ADDR:]PORT": an IPv6 address in brackets ("[::1]:9782"); no address: 127.0.0.1.
bool ParseListen(const std::string& text, std::string& address, int& port)
{
    address = "127.0.0.1";
    std::string portText = text;
    if (!text.empty() && text[0] == '[') {
        const auto close = text.find("]:");
        if (close == std::string::npos)
            return false;
        address = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        address = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    char* end = nullptr;
    const long n = std::strtol(portText.c_str(), &end, 10);
    if (portText.empty() || *end != '\0' || n < 0 || n > 65535 || address.empty())
        return false;
    port = static_cast<int>(n);
    return true;
}

}  // namespace

int RunLine(int argc, char** argv)
{
    std::string dbUrl;
    std::string address = "127.0.0.1";
    int port = kDefaultPort;
    char listenHelp[128];
    std::snprintf(listenHelp, sizeof listenHelp, "where to listen (default 127.0.0.1:%d; port 0: any free one)", kDefaultPort);
    cmdline::OptionTable table("tarvo-cli line", kUsage, "usage: tarvo-cli ");
    table
        .Description("Serves the whole line's status from the line database, read-only:\n"
                     "  /           a page for a supervisor's screen\n"
                     "  /api/line   every station's last record, runs, PASS, FAIL, ERROR and yield of the\n"
                     "              last hour and of today (UTC), units per hour, top failure reasons (JSON)\n"
                     "  /metrics    the same as Prometheus series tarvo_line_*\n")
        .Value("db", "URL", "the line database (PostgreSQL connection URI)",
               [&](const std::string& v) {
                   dbUrl = v;
                   return v.empty() ? std::string("--db needs a URL") : std::string();
               })
        .Value("listen", "[ADDR:]PORT", listenHelp, [&](const std::string& v) {
            return ParseListen(v.c_str(), address, port) ? std::string()
                                                         : "--listen takes [ADDR:]PORT, not '" + v + "'";
        });
    if (const int status = table.ParseOrExit(argc, argv); status >= 0)
        return status;
    if (dbUrl.empty())
        return table.UsageError("line needs --db URL");

    LineSource source(dbUrl);
    httplib::Server server;
    server.set_payload_max_length(64 * 1024);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_keep_alive_max_count(100);
    server.set_default_headers({{"Content-Security-Policy", kPolicy}, {"X-Content-Type-Options", "nosniff"}});
    auto serveStations = [&](httplib::Response& res, auto&& render, const char* type) {
        std::vector<record::LineStation> stations;
        std::string error;
        if (!source.Read(stations, error)) {
            res.status = 503;
            res.set_content("{\"error\":" + record::JsonString(error) + "}\n", "application/json");
            return;
        }
        res.set_content(render(stations), type);
    };
    server.Get("/api/line", [&](const httplib::Request&, httplib::Response& res) {
        serveStations(res, LineJson, "application/json");
    });
    server.Get("/metrics", [&](const httplib::Request&, httplib::Response& res) {
        serveStations(res, LineMetrics, "text/plain; version=0.0.4; charset=utf-8");
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content(kPage, "text/html; charset=utf-8"); });
    server.Get("/line.js", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kScript, "text/javascript; charset=utf-8");
    });
    server.Get("/line.css", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kStyle, "text/css; charset=utf-8");
    });

    const int bound = port == 0 ? server.bind_to_any_port(address) : (server.bind_to_port(address, port) ? port : -1);
    if (bound <= 0)
        return Failure("cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno));
    const std::string shown = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    std::printf("line page: http://%s:%d/ (line database %s)\n", shown.c_str(), bound, record::RedactedUrl(dbUrl).c_str());
    std::fflush(stdout);

    SignalWatch signals;
    signals.OnSignal([&server](int) { server.stop(); });
    server.listen_after_bind();
    signals.OnSignal(nullptr);
    return signals.Caught() != 0 ? kExitOk : kExitFailure;
}

}  // namespace tarvo::cli
