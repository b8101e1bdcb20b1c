// The status load of the flash benchmark (--status N): a real station model and status server
// on a free loopback port, fed with the runs' reports the way tarvo-cli flash feeds them, a
// real Prometheus server (Debian's prometheus, in a temporary folder on loopback) scraping
// /metrics every second, and N curl processes reading /events for the whole run.
//
// Prometheus and the curl clients are other processes, so their CPU time stays out of the
// station's. What the status server costs the station is measured two ways here: the CPU time
// of the server's own threads (the HTTP library's listener and pool: every request, every
// /metrics exposition, every event written to a stream), read from each thread's scheduler
// statistics, and the CPU time the report loop spends feeding the model (the model's update,
// its JSON line and the hand-over to every client's buffer), read from that thread's CPU clock
// around each call.
//
// Threading: one owner thread (the benchmark's report loop) calls everything; the server's
// threads are its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/ReportQueue.h"
#include "status/StationModel.h"
#include "status/StatusServer.h"

namespace tarvo::bench {

class StatusLoad {
public:
    // `dir`: a folder for Prometheus's files and the clients' output (the caller removes it).
    StatusLoad(std::string dir, int clients);
    ~StatusLoad();
    StatusLoad(const StatusLoad&) = delete;
    StatusLoad& operator=(const StatusLoad&) = delete;

    // Sets the station up (image, ports), starts the server, Prometheus and the clients, and
    // waits until every client holds its stream and Prometheus has scraped the station.
    bool Start(const std::string& image, const std::vector<std::pair<int, std::string>>& ports, std::string& error);
    // From here to Stop the server's CPU time is counted.
    void BeginMeasure();

    // The report loop's calls, as tarvo-cli flash's tee makes them.
    void Begun(int port);
    void Report(const QueuedReport& report);
    // The run on `port` ended (PASS or not), `totalMs` long, having sent `bytes`.
    void Ended(int port, bool pass, int code, int64_t totalMs, int64_t bytes);

    // Ends the measure, checks what Prometheus scraped over the last `span`, ends the streams
    // (the clients get every buffered event) and stops Prometheus and the clients. Prints the
    // figures into `summary`; false when a check failed (a client lost events, Prometheus did
    // not scrape every second or did not see every run).
    bool Stop(std::chrono::duration<double> span, std::string& summary);

private:
    template <class Call>
    void Feed(Call call);
    double ServerThreadsCpu() const;

    std::string m_dir;
    int m_clientCount;
    std::string m_imagePath;
    std::size_t m_portCount = 0;
    status::StationModel m_model;
    std::unique_ptr<status::StatusServer> m_server;
    pid_t m_prometheus = -1;
    int m_prometheusPort = 0;
    std::vector<pid_t> m_clients;
    std::set<pid_t> m_serverThreads;
    double m_serverCpu0 = 0;
    double m_feedCpu = 0;  // seconds
    long m_feedCalls = 0;
    long m_reports = 0, m_records = 0;
};

}  // namespace tarvo::bench
