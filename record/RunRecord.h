// One run of one port as the production record keeps it, and the table of its fields.
//
// The table (Fields(), in RunRecord.cpp) is the one description of the record: each field's
// name (the column of both databases, the key of the JSON export, the header of the CSV
// export), its kind (the column type each database gives it) and its member in RunRecord. The
// statements of both databases, their filters and the exports are written from it, and a test
// compares the columns of a freshly migrated journal and line database, and the field list of
// the README's record section, with it. The names and their order are fixed (stored
// databases and exported files rely on them); a new field is added at the end, with a
// migration of each database.
// `location` is the device's USB bus-port path ("1-1.4.2", the physical socket), null for a
// device not on USB; `approval` is "approved by NAME at TIME" when the station required an
// approved image, null when it did not.
// The member for "operator" is `operator_` (the word is reserved in C++).
//
// Every field may be null (unknown or not applicable): an empty optional. Times are UTC,
// ISO 8601 with milliseconds ("2026-12-07T10:14:03.512Z").
//
// Threading: plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::record {

// The words of the `result` field.
namespace result {
inline constexpr const char* kRunning = "RUNNING";
inline constexpr const char* kPass = "PASS";
inline constexpr const char* kFail = "FAIL";
inline constexpr const char* kError = "ERROR";
inline constexpr const char* kNoTarget = "NO TARGET";
inline constexpr const char* kAborted = "ABORTED";
inline constexpr const char* kInterrupted = "INTERRUPTED";
}  // namespace result

using Text = std::optional<std::string>;
using Number = std::optional<int64_t>;

struct RunRecord {
    Text run_id, station, host, operator_, tarvo_version;
    Number port;
    Text device, device_resolved;
    Text started_at, ended_at;
    Text result;
    Number status;
    Text text, reason;
    Text loader, loader_version;
    Text monitor_checksums, checksums;
    Text main_software, main_sha256, image, image_sha256;
    Number image_bytes, bytes_sent;
    Number wait_ms, monitor_ms, erase_ms, download_ms, verify_ms, total_ms;
    Text unit;
    Text location, approval;
};

// What a field holds, and so the type of its column.
enum class FieldKind {
    Text,     // UTF-8 text: TEXT in the journal and in the line database
    Time,     // a UTC time as ISO text: TEXT in the journal, timestamptz in the line database
    Integer,  // a whole number: INTEGER in the journal, integer or bigint in the line database
};

// One field of the record: its name, its kind and where it lives in RunRecord (exactly one of
// the two member pointers is set: `text` for Text and Time, `number` for Integer).
struct Field {
    const char* name;
    FieldKind kind;
    Text RunRecord::*text;
    Number RunRecord::*number;
};

// The fields in their fixed order.
inline constexpr int kFieldCount = 33;
const Field* Fields();

// The field of a member (statements name their columns through these, so that a renamed
// member or field cannot leave a statement behind).
const Field& FieldOf(Text RunRecord::*member);
const Field& FieldOf(Number RunRecord::*member);
// The field called `name`, or nullptr.
const Field* FieldNamed(std::string_view name);

// The field names in order, separated by ", ": the column list of the databases' statements.
std::string FieldNames();
// "name = excluded.name" for every field but run_id (the key), separated by ", ": what an
// upsert keyed by run_id sets.
std::string FieldsFromExcluded();

// The text of a field's value as the exports write it ("" for null).
std::string FieldText(const RunRecord& record, const Field& field);

// `text` as valid UTF-8 without NUL: every byte sequence that is not UTF-8 (a stray byte, a
// truncated or overlong sequence, a surrogate, a code point above U+10FFFF) and every NUL
// becomes U+FFFD, one per maximal ill-formed subsequence as Unicode recommends. The record's
// text fields are stored in this form, so that the line database (which refuses invalid UTF-8
// and cannot hold NUL) and every export take each record as it is.
std::string ValidText(std::string_view text);
// True when ValidText(text) would return `text` unchanged.
bool IsValidText(std::string_view text);
// Applies ValidText to every text field of `record`.
void MakeValid(RunRecord& record);

}  // namespace tarvo::record
