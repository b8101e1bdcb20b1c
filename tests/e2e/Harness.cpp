#include "e2e/Harness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "engine/ImageConverter.h"
#include "engine/StatusCodes.h"
#include "tools/samples/Samples.h"

namespace tarvo::test {

Workspace::Workspace(uint64_t dataBytes, uint64_t gapEvery)
{
    char pattern[] = "/tmp/tarvo-e2e-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    m_dir = pattern;
    std::string error;
    if (!samples::WriteMonitor(m_dir, error))
        throw std::runtime_error(error);
    samples::MainSoftwareShape shape;
    shape.dataBytes = dataBytes;
    shape.gapEvery = gapEvery;
    if (!samples::WriteMainSoftware(m_dir + "/main.m0", shape, error))
        throw std::runtime_error(error);
    ConvertError convertError;
    if (!ConvertImageFile(m_dir + "/main.m0", m_image, convertError))
        throw std::runtime_error(convertError.ToString());
}

Workspace::~Workspace()
{
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::vector<std::string> Workspace::ImageLines() const
{
    std::ifstream in(m_image);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

uint16_t Workspace::ImageDataSum() const
{
    uint16_t sum = 0;
    for (const std::string& line : ImageLines()) {
        if (line.rfind("S3", 0) != 0)
            continue;
        std::vector<uint8_t> bytes(line.size() / 2 + 2);
        uint16_t count = 0;
        ConvertLine((line + "\n").c_str(), bytes.data(), count);
        // 'S', '3', length (2), address (4), data..., checksum
        for (int i = 8; i < count - 1; ++i)
            sum = static_cast<uint16_t>(sum + bytes[i]);
    }
    return sum;
}

std::vector<Record> PortRun::Statuses() const
{
    std::vector<Record> out;
    for (const Record& r : records)
        if (r.report.kind == QueuedReport::Kind::Status)
            out.push_back(r);
    return out;
}

std::vector<Record> PortRun::Progress() const
{
    std::vector<Record> out;
    for (const Record& r : records)
        if (r.report.kind == QueuedReport::Kind::Progress)
            out.push_back(r);
    return out;
}

std::vector<std::string> PortRun::StatusTexts() const
{
    std::vector<std::string> out;
    for (const Record& r : Statuses())
        out.push_back(r.report.text);
    return out;
}

std::vector<int> PortRun::StatusCodes() const
{
    std::vector<int> out;
    for (const Record& r : Statuses())
        out.push_back(r.report.code);
    return out;
}

Station::Station(const Workspace& workspace, double scale)
    : monitorDir(workspace.Dir()), m_workspace(workspace), m_scale(scale)
{
    if (scale == 1.0)
        m_clock = std::make_unique<SteadyClock>();
    else
        m_clock = std::make_unique<ScaledClock>(scale);
}

PortRun& Station::AddPort(int portNumber, sim::SimConfig config)
{
    auto run = std::make_unique<PortRun>();
    config.timeScale = m_scale;
    run->sim = std::make_unique<sim::TargetSim>(std::move(config));
    std::string error;
    if (!run->sim->Start(error))
        throw std::runtime_error("simulator: " + error);
    m_ports.emplace_back(portNumber, std::move(run));
    return *m_ports.back().second;
}

PortRun& Station::Port(int portNumber)
{
    for (auto& [number, run] : m_ports)
        if (number == portNumber)
            return *run;
    throw std::runtime_error("no such port");
}

bool Station::Run(std::chrono::milliseconds limit)
{
    for (auto& [number, run] : m_ports) {
        EngineEnvironment env;
        env.clock = m_clock.get();
        env.monitorDir = monitorDir;
        run->engine = std::make_unique<CWinMonitorCtrl>(env);
        run->engine->SetPortNumber(number);
        if (!run->engine->OpenDevice(run->sim->DevicePath(), CWinMonitorCtrl::kBaudRate))
            throw std::runtime_error(run->engine->OpenError());
        run->engine->Start(&m_queue);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto allEnded = [&] {
        for (auto& port : m_ports)
            if (!port.second->ended)
                return false;
        return true;
    };
    QueuedReport report;
    while (!allEnded()) {
        auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero())
            return false;
        if (!m_queue.Pop(report, left))
            return false;
        PortRun* run = nullptr;
        for (auto& port : m_ports)
            if (port.second->engine.get() == report.engine)
                run = port.second.get();
        if (!run)
            continue;
        Record record;
        record.report = report;
        record.time = std::chrono::steady_clock::now();
        record.linesAtReport = run->sim->LinesReceived().size();
        run->records.push_back(record);
        if (report.kind == QueuedReport::Kind::RunEnded) {
            run->ended = true;
        } else if (report.kind == QueuedReport::Kind::Status && report.code == status::kReadyForDownload) {
            if (!run->engine->StartDownload(&m_queue, m_workspace.Image())) {
                run->startDownloadFailed = true;
                run->ended = true;
            }
        }
        m_queue.Done();
    }
    return true;
}

}  // namespace tarvo::test
