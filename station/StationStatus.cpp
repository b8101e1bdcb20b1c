#include "station/StationStatus.h"

#include "engine/StatusCodes.h"
#include "record/Identity.h"
#include "record/RunRecorder.h"
#include "record/Sha256.h"
#include "serial/DeviceInfo.h"
#include "status/StationModel.h"
#include "status/StatusServer.h"

namespace tarvo {

CStationStatus::CStationStatus() : m_model(std::make_unique<status::StationModel>()) {}

CStationStatus::~CStationStatus()
{
    JoinDigest();
    // The server goes first: it observes the model.
    m_server.reset();
}

void CStationStatus::JoinDigest()
{
    if (m_digest.joinable())
        m_digest.join();
}

bool CStationStatus::Start(const std::string& listen, const std::string& station, const std::string& language,
                           std::string& error)
{
    if (listen.empty())
        return true;
    status::ListenAddress address;
    if (!status::ParseListen(listen, address, error)) {
        error = "Status/Listen: " + error;
        return false;
    }
    m_model->SetStation(record::StationInfo::ForThisProcess(station).station, record::TarvoVersion(), language);
    auto server = std::make_unique<status::StatusServer>(*m_model);
    if (!server->Start(address, error))
        return false;
    m_server = std::move(server);
    return true;
}

int CStationStatus::Port() const
{
    return m_server ? m_server->Port() : 0;
}

void CStationStatus::SetImage(const std::string& path)
{
    if (!m_server)
        return;
    m_imagePath = path;
    JoinDigest();
    status::StationModel* model = m_model.get();
    const std::optional<bool> approved = m_approved;
    // Hashing reads the whole image: not on the GUI thread.
    m_digest = std::thread([model, path, approved] {
        status::ImageState image;
        image.path = path;
        image.approved = approved;
        if (record::FileDigests digests; !digests.Get(path, image.sha256, image.bytes)) {
            image.sha256.clear();
            image.bytes = 0;
        }
        model->SetImage(image);
    });
}

void CStationStatus::SetApproved(std::optional<bool> approved)
{
    if (!m_server || approved == m_approved)
        return;
    m_approved = approved;
    SetImage(m_imagePath);
}

void CStationStatus::AddPort(int port, const std::string& device)
{
    if (!m_server)
        return;
    const SerialDeviceInfo info = DescribeSerialDevice(device);
    m_model->AddPort(port, device, info.IsUsb() ? std::optional<std::string>(info.usbLocation) : std::nullopt);
}

void CStationStatus::RunBegun(int port, std::optional<std::string> runId, std::optional<std::string> unit)
{
    if (m_server)
        m_model->RunBegun(port, std::move(runId), std::move(unit));
}

void CStationStatus::OpenFailed(int port, const std::string& reason)
{
    if (m_server)
        m_model->OpenFailed(port, reason);
}

void CStationStatus::Waiting(int port, bool deviceAbsent)
{
    if (m_server)
        m_model->Waiting(port, deviceAbsent);
}

void CStationStatus::OnStatus(int port, int code, const std::string& text, const std::string& reason)
{
    if (m_server)
        m_model->OnStatus(port, code, text, reason);
}

void CStationStatus::OnProgress(int port, int percent, int position, int size)
{
    if (m_server)
        m_model->OnProgress(port, percent, position, size);
}

void CStationStatus::OnEnd(int port, int code)
{
    if (m_server)
        m_model->OnEnd(port, code == status::kPass ? "COMPLETE" : "ERROR");
}

void CStationStatus::SetRecord(bool enabled, const std::string& problem)
{
    if (m_server)
        m_model->SetRecord(enabled, problem);
}

void CStationStatus::SetForward(bool enabled, long long waiting, long long setAside, const std::string& problem,
                                const QDateTime& lastSuccess)
{
    if (!m_server)
        return;
    status::ForwardState forward;
    forward.enabled = enabled;
    forward.pending = waiting < 0 ? 0 : waiting;
    forward.setAside = setAside;
    forward.problem = problem;
    if (lastSuccess.isValid())
        forward.lastSuccess = static_cast<double>(lastSuccess.toMSecsSinceEpoch()) / 1000.0;
    m_model->SetForward(forward);
}

}  // namespace tarvo
