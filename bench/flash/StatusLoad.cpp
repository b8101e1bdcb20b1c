#include "bench/flash/StatusLoad.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "record/Identity.h"
#include "record/RunRecord.h"
#include "record/Sha256.h"
#include "serial/DeviceInfo.h"

extern char** environ;

namespace tarvo::bench {
namespace {

using namespace std::chrono_literals;

constexpr char kPrometheus[] = "/usr/bin/prometheus";
constexpr char kCurl[] = "/usr/bin/curl";

double ThreadCpu()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::set<pid_t> Tasks()
{
    std::set<pid_t> tasks;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        tasks.insert(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    return tasks;
}

// Time the thread has run, from the scheduler's statistics (nanoseconds, user and kernel).
double TaskCpu(pid_t tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    unsigned long long ns = 0;
    in >> ns;
    return static_cast<double>(ns) / 1e9;
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

// Starts `argv` with its output in `out` (stdout and stderr); -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& args, const std::string& out)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits up to `limit` for `pid` to end; kills it after that.
void Reap(pid_t pid, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
}

// The value of the first sample of an instant query's answer; NaN when there is none.
double QueryValue(int port, const std::string& query)
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2);
    client.set_read_timeout(5);
    const auto res = client.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
    if (!res || res->status != 200)
        return std::nan("");
    // ..."value":[1765000000.123,"42"]...
    const auto at = res->body.find("\"value\":[");
    if (at == std::string::npos)
        return std::nan("");
    const auto open = res->body.find('"', res->body.find(',', at));
    const auto close = res->body.find('"', open + 1);
    if (open == std::string::npos || close == std::string::npos)
        return std::nan("");
    return std::atof(res->body.substr(open + 1, close - open - 1).c_str());
}

long Count(const std::string& text, const std::string& what)
{
    long n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

}  // namespace

StatusLoad::StatusLoad(std::string dir, int clients) : m_dir(std::move(dir)), m_clientCount(clients) {}

StatusLoad::~StatusLoad()
{
    for (pid_t pid : m_clients) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    if (m_prometheus > 0) {
        ::kill(m_prometheus, SIGKILL);
        ::waitpid(m_prometheus, nullptr, 0);
    }
}

bool StatusLoad::Start(const std::string& image, const std::vector<std::pair<int, std::string>>& ports,
                       std::string& error)
{
    if (::access(kPrometheus, X_OK) != 0 || ::access(kCurl, X_OK) != 0) {
        error = std::string("--status needs ") + kPrometheus + " and " + kCurl + " (Debian packages prometheus, curl)";
        return false;
    }
    const std::set<pid_t> before = Tasks();

    // The station's setup, as tarvo-cli flash --listen makes it.
    m_model.SetStation("bench", record::TarvoVersion(), "");
    status::ImageState state;
    state.path = image;
    m_imagePath = image;
    if (record::FileDigests digests; !digests.Get(image, state.sha256, state.bytes)) {
        state.sha256.clear();
        state.bytes = 0;
    }
    m_model.SetImage(state);
    m_portCount = ports.size();
    for (const auto& [port, device] : ports) {
        const SerialDeviceInfo info = DescribeSerialDevice(device);
        m_model.AddPort(port, device, info.IsUsb() ? std::optional<std::string>(info.usbLocation) : std::nullopt);
    }
    m_model.SetRecord(true, {});
    m_model.SetForward(status::ForwardState{});
    m_server = std::make_unique<status::StatusServer>(m_model);
    if (!m_server->Start(status::ListenAddress{"127.0.0.1", 0}, error))
        return false;
    const std::string station = "127.0.0.1:" + std::to_string(m_server->Port());

    m_prometheusPort = FreePort();
    std::ofstream(m_dir + "/prometheus.yml")
        << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
        << "scrape_configs:\n  - job_name: tarvo\n    static_configs:\n      - targets: ['" << station << "']\n";
    m_prometheus = Spawn({kPrometheus, "--config.file=" + m_dir + "/prometheus.yml",
                          "--storage.tsdb.path=" + m_dir + "/prometheus-data",
                          "--web.listen-address=127.0.0.1:" + std::to_string(m_prometheusPort), "--log.level=warn"},
                         m_dir + "/prometheus.log");
    for (int i = 0; i < m_clientCount; ++i)
        m_clients.push_back(Spawn({kCurl, "-sSN", "-o", m_dir + "/events-" + std::to_string(i) + ".txt",
                                   "http://" + station + "/events"},
                                  m_dir + "/curl-" + std::to_string(i) + ".log"));
    if (m_prometheus < 0) {
        error = std::string("cannot start ") + kPrometheus;
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (m_server->EventClients() < static_cast<std::size_t>(m_clientCount)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "only " + std::to_string(m_server->EventClients()) + " of " + std::to_string(m_clientCount) +
                    " event clients connected";
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    while (!(QueryValue(m_prometheusPort, "up{job=\"tarvo\"}") == 1)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "Prometheus did not scrape the station (see " + m_dir + "/prometheus.log)";
            return false;
        }
        std::this_thread::sleep_for(200ms);
    }
    // The threads started since: the HTTP library's listener and its pool.
    for (pid_t tid : Tasks())
        if (!before.count(tid))
            m_serverThreads.insert(tid);
    return true;
}

void StatusLoad::BeginMeasure()
{
    m_serverCpu0 = ServerThreadsCpu();
}

double StatusLoad::ServerThreadsCpu() const
{
    double sum = 0;
    for (pid_t tid : m_serverThreads)
        sum += TaskCpu(tid);
    return sum;
}

template <class Call>
void StatusLoad::Feed(Call call)
{
    const double before = ThreadCpu();
    call();
    m_feedCpu += ThreadCpu() - before;
    ++m_feedCalls;
}

void StatusLoad::Begun(int port)
{
    const std::string runId = record::NewRunId();
    Feed([&] { m_model.RunBegun(port, runId, std::nullopt); });
}

void StatusLoad::Report(const QueuedReport& report)
{
    if (report.kind == QueuedReport::Kind::Status)
        Feed([&] { m_model.OnStatus(report.port, report.code, report.text, report.reason); });
    else if (report.kind == QueuedReport::Kind::Progress)
        Feed([&] { m_model.OnProgress(report.port, report.percent, report.position, report.size); });
    else
        return;
    ++m_reports;
}

void StatusLoad::Ended(int port, bool pass, int code, int64_t totalMs, int64_t bytes)
{
    Feed([&] { m_model.OnEnd(port, pass ? "COMPLETE" : "ERROR"); });
    ++m_reports;
    // The record the run's recorder would complete: what the record event and the metrics'
    // counts and durations are made of.
    record::RunRecord done;
    done.run_id = record::NewRunId();
    done.station = "bench";
    done.tarvo_version = record::TarvoVersion();
    done.port = port;
    done.device = "COM" + std::to_string(port);
    done.started_at = record::IsoUtc(std::chrono::system_clock::now() - std::chrono::milliseconds(totalMs));
    done.ended_at = record::IsoUtcNow();
    done.result = pass ? "PASS" : "FAIL";
    done.status = code;
    done.image = m_imagePath;
    done.bytes_sent = bytes;
    done.total_ms = totalMs;
    Feed([&] { m_model.OnRecord(done, true); });
    ++m_records;
}

bool StatusLoad::Stop(std::chrono::duration<double> span, std::string& summary)
{
    const double serverCpu = ServerThreadsCpu() - m_serverCpu0;
    const double seconds = span.count();
    const int window = static_cast<int>(std::ceil(seconds));
    bool ok = true;

    // What Prometheus took from the station while the ports ran: scrapes, and samples.
    const std::string range = "[" + std::to_string(window) + "s]";
    const double scrapes = QueryValue(m_prometheusPort, "count_over_time(up{job=\"tarvo\"}" + range + ")");
    const double good = QueryValue(m_prometheusPort, "sum_over_time(up{job=\"tarvo\"}" + range + ")");
    const double samples =
        QueryValue(m_prometheusPort, "sum_over_time(scrape_samples_scraped{job=\"tarvo\"}" + range + ")");
    // The finished runs reach Prometheus with its next scrape.
    double passes = std::nan("");
    for (int i = 0; i < 30 && !(passes == static_cast<double>(m_records)); ++i) {
        std::this_thread::sleep_for(200ms);
        passes = QueryValue(m_prometheusPort, "sum(tarvo_runs_total{job=\"tarvo\",result=\"PASS\"})");
    }
    if (!(scrapes >= 0.8 * seconds) || !(good == scrapes))
        ok = false;
    if (!(passes == static_cast<double>(m_records)))
        ok = false;

    // The model holds the served ports only, each with its one PASS.
    const status::StationSnapshot snapshot = m_model.Snapshot();
    long passed = 0;
    for (const status::PortState& port : snapshot.ports)
        passed += port.pass;
    if (snapshot.ports.size() != m_portCount || passed != m_records)
        ok = false;

    // The streams end once every buffered event is written; each client then has them all.
    m_server->Finish(std::chrono::seconds(5));
    long fewest = m_clients.empty() ? m_reports + m_records : -1;
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
        Reap(m_clients[i], 5s);
        std::ifstream in(m_dir + "/events-" + std::to_string(i) + ".txt");
        std::stringstream text;
        text << in.rdbuf();
        const long events = Count(text.str(), "event: report\n") + Count(text.str(), "event: record\n");
        fewest = fewest < 0 ? events : std::min(fewest, events);
    }
    m_clients.clear();
    if (fewest != m_reports + m_records)
        ok = false;
    ::kill(m_prometheus, SIGTERM);
    Reap(m_prometheus, 15s);
    m_prometheus = -1;

    char line[512];
    std::snprintf(line, sizeof line,
                  "status server: %zu threads; Prometheus: %.0f scrapes in %.1f s (%.0f up), %.0f samples, "
                  "PASS runs seen %.0f of %ld; model: %zu ports, %ld PASS\n",
                  m_serverThreads.size(), scrapes, seconds, good, samples, passes, m_records,
                  snapshot.ports.size(), passed);
    summary = line;
    std::snprintf(line, sizeof line,
                  "event clients: %d, fewest events received %ld of %ld (%ld reports, %ld records)\n",
                  m_clientCount, fewest, m_reports + m_records, m_reports, m_records);
    summary += line;
    std::snprintf(line, sizeof line,
                  "status CPU: server threads %.3f s, feeding the model %.3f s (%ld calls), total %.3f s over "
                  "%.1f s: %.3f %% of one core\n",
                  serverCpu, m_feedCpu, m_feedCalls, serverCpu + m_feedCpu, seconds,
                  (serverCpu + m_feedCpu) / seconds * 100);
    summary += line;
    if (!ok)
        summary += "status check FAILED (Prometheus's log and the clients' output are in " + m_dir + ")\n";
    return ok;
}

}  // namespace tarvo::bench
