// How tarvo-cli records its runs: the record's settings from the station's profile (section
// "Record": "Enabled", "Database", "Forward"; section "Station": "Name") and the command line
// (--record PATH, --no-record, --forward URL), and the record's objects for one flash job.
//
// Threading: RecordSession lives on the job's thread; its writer and recorder have their own
// rules (record/RecordWriter.h, record/RunRecorder.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "record/RunRecorder.h"

namespace tarvo::cmdline {
class OptionTable;
}

namespace tarvo::record {
class Forwarder;
struct ForwardStatus;
class RecordWriter;
}

namespace tarvo::cli {

class Profile;

struct RecordSettings {
    bool enabled = true;
    std::string database;  // local SQLite file
    std::string forward;   // PostgreSQL URI; empty: no forwarding
    std::string station;   // station name; empty: the host name
    std::string unit;      // --unit on a one-port flash
    // "Record"/"RequireApproved", --require-approved: only an approved image is flashed
    // (tools/cli/Approval.h).
    bool requireApproved = false;
};

// The profile's settings, defaults filled in.
RecordSettings RecordSettingsFromProfile(const Profile& profile);

// Declares the record options (--record PATH, --no-record, --forward URL) into a command's
// table; they write into `settings`, which must outlive the parse.
void AddRecordOptions(cmdline::OptionTable& table, RecordSettings& settings);

// The record of one flash job: the writer thread and the recorder in front of `receiver`, and
// with a forward target the forwarder thread, which sends each record to the line database as
// soon as it is written (and what an earlier outage left in the journal) while the job runs.
class RecordSession {
public:
    // `changed` (optional) is called on the writer's thread after each write and whenever the
    // record's problem changes; it must not block (a report queue's Wake()).
    RecordSession(const RecordSettings& settings, IReportSink& receiver, std::function<void()> changed = {});
    ~RecordSession();
    // Empty when runs may start; else why not (the database cannot be written).
    std::string Problem() const;
    // Records not yet durable (0 with recording off).
    std::size_t Pending() const;
    record::RunRecorder& Recorder() { return *m_recorder; }
    // Writes what is pending (bounded) and stops the writer. Returns the problem, if any.
    std::string Close();
    // Stops the forwarder thread, then forwards what is still pending when a forward target is
    // set, waiting at most 10 s. Prints a note on stderr when records stay in the journal.
    void ForwardBeforeExit();
    // Empty while forwarding works (or is off); else why records wait in the journal.
    std::string ForwardProblem() const;
    // Hears the forwarder's state after each of its passes (on its thread); nothing without a
    // forward target.
    void SetForwardListener(std::function<void(const record::ForwardStatus&)> listener);
    const RecordSettings& Settings() const { return m_settings; }

private:
    RecordSettings m_settings;
    std::unique_ptr<record::RecordWriter> m_writer;
    std::unique_ptr<record::Forwarder> m_forwarder;
    std::unique_ptr<record::RunRecorder> m_recorder;
};

}  // namespace tarvo::cli
