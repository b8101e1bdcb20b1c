// CStationStatus: the window's status server ("Status"/"Listen" in the profile, lockable in the
// administrator's file; off when empty). It serves the same endpoints as tarvo-cli --listen
// (status/StatusServer.h: /, /api/status, /events, /metrics) over one status::StationModel that
// the view feeds with what its rows show: the engines' reports as the rows get them, the start
// and end of each run, a device that cannot be opened or that continuous mode waits for
// (NO DEVICE), the records the recorder completes, the record's and the forwarder's state, and
// the image with its SHA-256 and approval.
//
// Every call does nothing while no server runs. Updates only take the model's mutex and copy a
// few strings; the server answers on threads of its own, so the GUI thread never waits for a
// client. The image's digest is computed on a thread of its own.
//
// Threading: construct, Start, the setters and destroy on the GUI thread; Model() may be handed
// to the recorder's completion listener, which updates it from the thread that completes a
// record.
#pragma once

#include <QDateTime>

#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace tarvo::status {
class StationModel;
class StatusServer;
}  // namespace tarvo::status

namespace tarvo {

class CStationStatus {
public:
    CStationStatus();
    ~CStationStatus();
    CStationStatus(const CStationStatus&) = delete;
    CStationStatus& operator=(const CStationStatus&) = delete;

    // Serves on `listen` ("[ADDR:]PORT"; empty: no server). False with a message naming the
    // address and the reason when it is not an address or cannot be bound.
    bool Start(const std::string& listen, const std::string& station, const std::string& language,
               std::string& error);
    bool Serving() const { return m_server != nullptr; }
    // The bound port (0 while not serving).
    int Port() const;
    // The model (null while not serving).
    status::StationModel* Model() const { return m_server ? m_model.get() : nullptr; }

    // The image in force; its digest follows from a thread of its own.
    void SetImage(const std::string& path);
    // Its approval: none when not required.
    void SetApproved(std::optional<bool> approved);
    // A row that takes part, with its device.
    void AddPort(int port, const std::string& device);

    void RunBegun(int port, std::optional<std::string> runId, std::optional<std::string> unit);
    void OpenFailed(int port, const std::string& reason);
    void Waiting(int port, bool deviceAbsent);
    void OnStatus(int port, int code, const std::string& text, const std::string& reason);
    void OnProgress(int port, int percent, int position, int size);
    // The run ended with the engine's last status `code` (20: a pass, COMPLETE; else ERROR).
    void OnEnd(int port, int code);
    void SetRecord(bool enabled, const std::string& problem);
    // The forwarder's state; `lastSuccess`: when its last pass succeeded (invalid: not yet).
    void SetForward(bool enabled, long long waiting, long long setAside, const std::string& problem,
                    const QDateTime& lastSuccess = {});

private:
    void JoinDigest();

    std::unique_ptr<status::StationModel> m_model;
    std::unique_ptr<status::StatusServer> m_server;
    std::string m_imagePath;
    std::optional<bool> m_approved;
    std::thread m_digest;
};

}  // namespace tarvo
