#include "tools/cli/RecordSetup.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "record/Forwarder.h"
#include "record/LineDatabase.h"
#include "record/RecordStore.h"
#include "record/RecordWriter.h"
#include "tools/cli/Profile.h"
#include "tools/cmdline/CommandLine.h"

namespace tarvo::cli {

RecordSettings RecordSettingsFromProfile(const Profile& profile)
{
    RecordSettings s;
    s.enabled = profile.GetInt("Record", "Enabled", 1) != 0;
    s.database = profile.Get("Record", "Database");
    if (s.database.empty())
        s.database = record::DefaultDatabasePath();
    s.forward = profile.Get("Record", "Forward");
    s.station = profile.Get("Station", "Name");
    s.requireApproved = profile.GetInt("Record", "RequireApproved", 0) != 0;
    return s;
}

void AddRecordOptions(cmdline::OptionTable& table, RecordSettings& settings)
{
    table
        .Value("record", "PATH",
               "the record database (default: the profile's \"Record\"/\"Database\",\n"
               "else $XDG_DATA_HOME/tarvo/records.sqlite)",
               [&settings](const std::string& v) {
                   settings.database = v;
                   return v.empty() ? "--record needs a path" : "";
               })
        .Flag("no-record", "run without recording", [&settings] { settings.enabled = false; })
        .Value("forward", "URL", "also send the records to this PostgreSQL database",
               [&settings](const std::string& v) {
                   settings.forward = v;
                   return v.empty() ? "--forward needs a URL" : "";
               })
        .Flag("require-approved", "flash only an image approved in that database (tarvo-cli images)",
              [&settings] { settings.requireApproved = true; });
}

RecordSession::RecordSession(const RecordSettings& settings, IReportSink& receiver, std::function<void()> changed)
    : m_settings(settings)
{
    const auto station = record::StationInfo::ForThisProcess(settings.station);
    if (settings.enabled) {
        m_writer = std::make_unique<record::RecordWriter>(settings.database, station.station, station.host);
        m_writer->WaitStarted();
        if (!settings.forward.empty())
            m_forwarder = std::make_unique<record::Forwarder>(settings.database, settings.forward);
        if (m_forwarder || changed) {
            m_writer->SetListener([forwarder = m_forwarder.get(), changed = std::move(changed)] {
                if (forwarder)
                    forwarder->Notify();
                if (changed)
                    changed();
            });
        }
    }
    m_recorder = std::make_unique<record::RunRecorder>(receiver, m_writer.get(), station);
}

RecordSession::~RecordSession()
{
    Close();
    m_forwarder.reset();
}

std::string RecordSession::ForwardProblem() const { return m_forwarder ? m_forwarder->Problem() : std::string(); }

void RecordSession::SetForwardListener(std::function<void(const record::ForwardStatus&)> listener)
{
    if (m_forwarder)
        m_forwarder->SetStatusListener(std::move(listener));
}

std::string RecordSession::Problem() const { return m_writer ? m_writer->Problem() : std::string(); }

std::size_t RecordSession::Pending() const { return m_writer ? m_writer->Pending() : 0; }

std::string RecordSession::Close()
{
    if (!m_writer)
        return {};
    m_writer->Flush(std::chrono::seconds(7));
    std::string problem = m_writer->Problem();
    const std::size_t lost = m_writer->Pending();
    m_writer->SetListener(nullptr);  // the forwarder may go before the writer
    m_writer.reset();
    if (lost > 0 && problem.empty())
        problem = m_settings.database + ": records could not be written in time";
    return lost > 0 ? problem : std::string();
}

void RecordSession::ForwardBeforeExit()
{
    if (!m_settings.enabled || m_settings.forward.empty())
        return;
    // One connection at a time: the thread's round ends (bounded) before the last one starts.
    m_forwarder.reset();
    const auto outcome = record::ForwardPending(m_settings.database, m_settings.forward, std::chrono::seconds(10));
    if (outcome.left != 0)
        std::fprintf(stderr, "note: %lld record(s) not forwarded yet (%s); they stay in %s for the next forward\n",
                     static_cast<long long>(outcome.left), outcome.error.c_str(), m_settings.database.c_str());
}

}  // namespace tarvo::cli
