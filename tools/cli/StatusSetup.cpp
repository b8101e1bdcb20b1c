#include "tools/cli/StatusSetup.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "engine/ReportQueue.h"
#include "record/Forwarder.h"
#include "record/Identity.h"
#include "record/RunRecorder.h"
#include "record/Sha256.h"
#include "serial/DeviceInfo.h"
#include "serial/PortDirectory.h"
#include "status/StationModel.h"
#include "status/StatusServer.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Continuous.h"
#include "tools/cli/Profile.h"
#include "tools/cmdline/CommandLine.h"

namespace tarvo::cli {

void AddListenOption(cmdline::OptionTable& table, std::string& listen)
{
    table.Value("listen", "[ADDR:]PORT",
                "serve the station's status while it runs: a live page at /, /api/status,\n"
                "/events and Prometheus metrics at /metrics (read-only; ADDR default\n"
                "127.0.0.1)",
                [&listen](const std::string& value) {
                    status::ListenAddress address;
                    std::string error;
                    if (!status::ParseListen(value, address, error))
                        return "--listen: " + error;
                    listen = value;
                    return std::string();
                });
}

int RunJob(FlashJob job)
{
    auto run = [](const FlashJob& j) { return j.continuous ? RunContinuousJob(j) : RunFlashJob(j); };
    if (job.listen.empty())
        return run(job);

    status::ListenAddress address;
    std::string error;
    if (!status::ParseListen(job.listen, address, error))
        return Failure(error);
    status::StationModel model;
    const Profile profile = Profile::LoadUser();
    model.SetStation(record::StationInfo::ForThisProcess(job.record.station).station, record::TarvoVersion(),
                     profile.Get("Station", "Language"));
    status::ImageState image;
    image.path = job.image;
    if (record::FileDigests digests; !digests.Get(job.image, image.sha256, image.bytes)) {
        image.sha256.clear();
        image.bytes = 0;
    }
    model.SetImage(image);
    for (const PortTarget& target : job.ports) {
        const std::string device = target.device.empty() ? DefaultDevicePath(target.port) : target.device;
        const SerialDeviceInfo info = DescribeSerialDevice(device);
        model.AddPort(target.port, device,
                      info.IsUsb() ? std::optional<std::string>(info.usbLocation) : std::nullopt);
    }
    model.SetRecord(job.record.enabled, {});
    status::ForwardState forward;
    forward.enabled = job.record.enabled && !job.record.forward.empty();
    model.SetForward(forward);

    status::StatusServer server(model);
    if (!server.Start(address, error))
        return Failure(error);
    std::fprintf(stderr, "status: http://%s%s%s:%d/\n", address.host.find(':') != std::string::npos ? "[" : "",
                 address.host.c_str(), address.host.find(':') != std::string::npos ? "]" : "", server.Port());
    std::fflush(stderr);
    job.model = &model;
    const int status = run(job);
    // The clients get the end lines and records of the last runs before the program ends.
    server.Finish(std::chrono::seconds(1));
    return status;
}

StatusTee::StatusTee(status::StationModel* model, record::RunRecorder& recorder, const RecordSettings& record)
    : m_model(model), m_recorder(recorder)
{
    if (!m_model)
        return;
    m_model->SetRecord(record.enabled, {});
    m_recorder.SetCompletedListener(
        [model](const record::RunRecord& completed, bool written) { model->OnRecord(completed, written); });
}

void StatusTee::Begun(int port, const CWinMonitorCtrl& engine) const
{
    if (!m_model)
        return;
    const auto current = m_recorder.Current(engine);
    m_model->RunBegun(port, current ? current->run_id : std::nullopt, current ? current->unit : std::nullopt);
}

void StatusTee::OpenFailed(int port, const std::string& reason) const
{
    if (m_model)
        m_model->OpenFailed(port, reason);
}

void StatusTee::Waiting(int port, bool deviceAbsent) const
{
    if (m_model)
        m_model->Waiting(port, deviceAbsent);
}

void StatusTee::Report(const QueuedReport& report) const
{
    if (!m_model)
        return;
    if (report.kind == QueuedReport::Kind::Status)
        m_model->OnStatus(report.port, report.code, report.text, report.reason);
    else if (report.kind == QueuedReport::Kind::Progress)
        m_model->OnProgress(report.port, report.percent, report.position, report.size);
}

void StatusTee::RecordProblem(const std::string& problem) const
{
    if (m_model)
        m_model->SetRecord(true, problem);
}

void StatusTee::FollowForwarding(RecordSession& session) const
{
    if (!m_model)
        return;
    session.SetForwardListener([model = m_model](const record::ForwardStatus& found) {
        status::ForwardState state;
        state.enabled = true;
        state.pending = std::max<int64_t>(found.pending, 0);
        state.setAside = found.setAside;
        state.problem = found.problem;
        if (found.lastSuccess)
            state.lastSuccess = std::chrono::duration<double>(found.lastSuccess->time_since_epoch()).count();
        model->SetForward(std::move(state));
    });
}

void StatusTee::Ended(int port, const char* word) const
{
    if (m_model)
        m_model->OnEnd(port, word);
}

}  // namespace tarvo::cli
