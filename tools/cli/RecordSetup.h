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

namespace tarvo::record {
class Forwarder;
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
};

// The profile's settings, defaults filled in.
RecordSettings RecordSettingsFromProfile(const Profile& profile);

// Parses a record option of the command line at argv[i] (advancing i past its value). Returns
// 1 when it was one, 0 when it is no record option, -1 when its value is missing.
int ParseRecordOption(int argc, char** argv, int& i, RecordSettings& settings);

// Help lines of the record options.
extern const char* const kRecordOptionsHelp;

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
    const RecordSettings& Settings() const { return m_settings; }

private:
    RecordSettings m_settings;
    std::unique_ptr<record::RecordWriter> m_writer;
    std::unique_ptr<record::Forwarder> m_forwarder;
    std::unique_ptr<record::RunRecorder> m_recorder;
};

}  // namespace tarvo::cli
