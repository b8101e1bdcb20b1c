// The station model: the state of one station as the status server (and every other observer)
// sees it. Each port's device, USB location, state word, message, progress, unit label, current
// run and counts; the station's totals, units per hour, the image in force, and the state of
// the record and of the forwarder.
//
// The state words and colours are the window's: they come from the row logic
// (station/RowLogic.h), so a port looks on a status page as its row looks in the window.
// Besides the window's words, a port of a continuous station whose device is absent shows
// "NO DEVICE".
//
// Events: every change becomes one StationEvent that observers receive, its data one line of
// JSON:
//   "report"   a change the front end reports as a line of its own (a status, a progress, the
//              end of a port's run): the object tarvo-cli --json prints for it
//   "record"   a finished record, in the JSON export's form (record/Export.h JsonLine)
//   "port"     a port's other changes (a run begins, its device could not be opened, it waits
//              for a device): the port's object as StatusJson lists it
//   "station"  the record's or the forwarder's state changed: {"record":{...},"forward":{...}}
//
// Threading: every member may be called from any thread. Updates take one mutex, copy a few
// strings and call the observers; they do no I/O and never wait for anything else, so an
// engine's worker or the thread that handles its reports can call them. Observers are called
// under the model's mutex, in the order of the changes; they must be quick and must not call
// back into the model (the status server only appends to its clients' buffers).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::record {
struct RunRecord;
}

namespace tarvo::status {

// The station's state words beyond the window's own.
inline constexpr char kNoDevice[] = "NO DEVICE";

// Upper bounds (seconds) of the run duration histogram's buckets.
const std::vector<double>& DurationBuckets();

struct PortState {
    int port = 0;
    std::string device;
    std::optional<std::string> location;  // USB bus-port path ("1-1.4.2"); none off USB
    std::string state;                    // the window's state word
    std::string text;                     // the message field
    std::string reason;                   // the known cause of the last failure, if any
    // The window's colours of the state and message fields, 0x00BBGGRR.
    uint32_t stateFg = 0, stateBg = 0, textFg = 0, textBg = 0;
    int progress = 0;  // percent of the current download
    std::optional<std::string> unit;
    std::optional<std::string> runId;
    int64_t pass = 0, fail = 0, error = 0;  // ERROR counts NO TARGET too
    int64_t bytesSent = 0;                  // over finished runs
    std::map<std::string, int64_t> results; // finished runs by the record's result word
    std::vector<uint64_t> durationBuckets;  // finished runs per DurationBuckets() bucket (+Inf last)
    double durationSum = 0;                 // seconds
};

struct ImageState {
    std::string path;
    std::string sha256;  // empty when it could not be read
    int64_t bytes = 0;
    std::optional<bool> approved;  // none: approval is not checked by this station
};

struct ForwardState {
    bool enabled = false;   // a line database is configured
    int64_t pending = 0;    // finished records waiting to be forwarded
    int64_t setAside = 0;   // records the server refused, kept aside
    std::string problem;    // empty while forwarding works
    std::optional<double> lastSuccess;  // Unix time of the last successful forward
};

struct StationSnapshot {
    std::string station, version, language;
    ImageState image;
    std::vector<PortState> ports;  // in port order
    int64_t runs = 0, pass = 0, fail = 0, error = 0;
    int64_t unitsPerHour = 0;  // PASS records of the last hour
    bool recordEnabled = true;
    std::string recordProblem;  // empty while the record can be written
    ForwardState forward;
    std::vector<std::string> recentRecords;  // JSON lines of the last 20 records, oldest first
};

struct StationEvent {
    std::string name;  // "report", "record", "port" or "station"
    std::string data;  // one line of JSON
};

class StationModel {
public:
    using Observer = std::function<void(const StationEvent&)>;
    using SnapshotReader = std::function<void(const StationSnapshot&)>;
    using SystemClock = std::chrono::system_clock;

    StationModel();
    StationModel(const StationModel&) = delete;
    StationModel& operator=(const StationModel&) = delete;

    // Adds an observer; returns its id for Unsubscribe.
    int Subscribe(Observer observer);
    void Unsubscribe(int id);
    // Calls `reader` with the current state under the model's mutex: no event can come between
    // what it sees and the events observers receive after it (a new client's first event).
    void Read(const SnapshotReader& reader) const;
    StationSnapshot Snapshot() const;

    // --- the station's setup
    void SetStation(std::string name, std::string version, std::string language);
    void SetImage(ImageState image);
    // A port the station serves, shown CLOSE until its first run.
    void AddPort(int port, std::string device, std::optional<std::string> location);
    void SetRecord(bool enabled, std::string problem);
    void SetForward(ForwardState forward);

    // --- a port's runs, as the front end reports them
    // A run begins: the port is open and waits for its target (READY / INSERT TARGET).
    void RunBegun(int port, std::optional<std::string> runId, std::optional<std::string> unit);
    // The port's device could not be opened.
    void OpenFailed(int port, const std::string& reason);
    // Continuous mode: the port waits for its device (absent) or for the handset to be unplugged.
    void Waiting(int port, bool deviceAbsent);
    void OnStatus(int port, int code, const std::string& text, const std::string& reason);
    void OnProgress(int port, int percent, int position, int size);
    // The port's run ended with the front end's word: COMPLETE, ERROR, NO TARGET, ABORTED.
    void OnEnd(int port, const std::string& word);
    // A finished record (from the run recorder's completion listener); `written`: durable.
    void OnRecord(const record::RunRecord& record, bool written);

    // The time source of units per hour and the last success (tests).
    void SetClock(std::function<SystemClock::time_point()> now);

private:
    PortState& PortLocked(int port);
    void Emit(const char* name, std::string data);
    // Drops PASS times older than an hour and sets units per hour; reading moves the hour on.
    void PruneHourLocked(SystemClock::time_point now) const;

    mutable std::mutex m_mutex;
    mutable StationSnapshot m_state;
    std::map<int, Observer> m_observers;
    int m_nextObserver = 1;
    mutable std::deque<SystemClock::time_point> m_passTimes;  // PASS records of the last hour
    std::function<SystemClock::time_point()> m_now;
};

// The model as one JSON object (GET /api/status, the "status" event).
std::string StatusJson(const StationSnapshot& snapshot);
// "#RRGGBB" of a window colour (0x00BBGGRR).
std::string CssColour(uint32_t colorRef);

}  // namespace tarvo::status
