// Who and when: run identifiers, record times and the station's identity.
//
// Threading: every function may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarvo::record {

// A random (version 4) UUID in its 36-character text form, from getrandom(2).
std::string NewRunId();

// `time` as UTC ISO 8601 with milliseconds: "2026-12-07T10:14:03.512Z".
std::string IsoUtc(std::chrono::system_clock::time_point time);
std::string IsoUtcNow();
// Parses the forms a user types for --since/--until: "2026-12-07", "2026-12-07T10:14",
// "2026-12-07 10:14:03", with an optional ".mmm" and "Z"; local time unless "Z" ends it.
// Returns the UTC ISO text to compare record times with; false when `text` is no such time
// (also a date that does not exist, such as 2026-02-30, or a time such as 24:00 or 10:61).
bool ParseUserTime(const std::string& text, std::string& isoUtc);

// The machine's host name.
std::string HostName();
// The process's user name from the password database (no terminal needed); the numeric uid
// when the database has no entry.
std::string UserName();
// The program version recorded in `tarvo_version`.
const char* TarvoVersion();

// The path behind every link of `path`, or `path` itself when it cannot be resolved.
std::string ResolvedPath(const std::string& path);

// The process identity kept beside a RUNNING record so that a later start can tell a crashed
// writer from one still running: "<pid>:<start time in clock ticks since boot>".
std::string ProcessTag();
// True when the process named by `tag` (from ProcessTag, on this host) still runs.
bool ProcessAlive(const std::string& tag);

}  // namespace tarvo::record
