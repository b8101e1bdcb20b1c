// End-to-end harness: a real port engine against a simulated handset on a pseudo-terminal,
// with the test's thread in the receiver's place (it starts the download on status 0, as the
// station view does). Long protocol limits run through a scaled clock shared by both sides.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/ReportQueue.h"
#include "engine/WinMonitorCtrl.h"
#include "tools/sim/TargetSim.h"

namespace tarvo::test {

// A folder with the sample monitor, a main software file and its download image.
class Workspace {
public:
    explicit Workspace(uint64_t dataBytes = 40 * 1024, uint64_t gapEvery = 16 * 1024);
    ~Workspace();
    const std::string& Dir() const { return m_dir; }
    const std::string& Image() const { return m_image; }
    std::vector<std::string> ImageLines() const;
    uint16_t ImageDataSum() const;  // 16-bit sum of every data byte of the image blocks

private:
    std::string m_dir;
    std::string m_image;
};

struct Record {
    QueuedReport report;
    std::chrono::steady_clock::time_point time;
    std::size_t linesAtReport = 0;  // raw lines the handset had received when the report came
};

struct PortRun {
    std::unique_ptr<sim::TargetSim> sim;
    std::unique_ptr<CWinMonitorCtrl> engine;
    std::vector<Record> records;
    bool ended = false;
    bool startDownloadFailed = false;

    std::vector<Record> Statuses() const;
    std::vector<Record> Progress() const;
    std::vector<std::string> StatusTexts() const;
    std::vector<int> StatusCodes() const;
};

class Station {
public:
    // `scale`: protocol time runs this many times faster (1 = real time).
    explicit Station(const Workspace& workspace, double scale);
    // Adds a port with its own simulated handset; the engine opens the handset's device.
    PortRun& AddPort(int portNumber, sim::SimConfig config);
    // Starts every port and handles reports until every run ended or `limit` (real) passed.
    bool Run(std::chrono::milliseconds limit);
    PortRun& Port(int portNumber);
    IClock& Clock() { return *m_clock; }
    ReportQueue& Queue() { return m_queue; }
    std::string monitorDir;  // defaults to the workspace

private:
    const Workspace& m_workspace;
    double m_scale;
    std::unique_ptr<IClock> m_clock;
    ReportQueue m_queue;
    std::vector<std::pair<int, std::unique_ptr<PortRun>>> m_ports;
};

}  // namespace tarvo::test
