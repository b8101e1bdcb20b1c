// Text forms of records: CSV (RFC 4180), JSON Lines, a table for people, and the summary.
//
// CSV: a header row of the field names, then one row per record; every field that holds a
// comma, a double quote, CR or LF is quoted with its quotes doubled; lines end with CRLF; null
// is an empty field. A text field that begins with '=', '+', '-', '@', a tab or a carriage
// return gets a leading apostrophe, so that a spreadsheet shows it as text instead of running
// it as a formula (OWASP's rule against CSV injection); numbers are written as they are.
// JSON Lines: one object per record with every field name as key, null for null, numbers as
// numbers, strings as UTF-8 with control characters escaped.
//
// Every text form is valid UTF-8: bytes that are not (a journal written before the record
// kept its text valid) become U+FFFD.
//
// Threading: plain functions.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "record/RunRecord.h"

namespace tarvo::record {

std::string CsvHeader();
std::string CsvRow(const RunRecord& record);
// One CSV text field: made valid UTF-8, neutralised when a spreadsheet would take it as a
// formula, quoted when it needs to be.
std::string CsvField(const std::string& value);

std::string JsonLine(const RunRecord& record);
std::string JsonString(const std::string& value);

// The table's header and one row: start time, port, result, status, unit, text, reason.
// Control characters (C0, DEL, C1), the bidirectional embeddings, overrides and isolates
// (U+202A..U+202E, U+2066..U+2069, and the marks U+200E, U+200F, U+061C) and bytes that are
// no UTF-8 are shown as '?', so a label cannot move the terminal's cursor or reorder what
// follows it on the line.
std::string TableHeader();
std::string TableRow(const RunRecord& record);

// Accumulates the summary of many records per group.
class Summary {
public:
    void Add(const std::string& key, const std::string& result, std::optional<int64_t> totalMs);

    struct Group {
        std::string key;
        int64_t runs = 0, pass = 0, fail = 0, error = 0;
        double yield = 0;                 // PASS / (PASS + FAIL + ERROR); 0 when none finished
        std::optional<int64_t> median, p95;  // of total_ms over the group's finished runs
    };
    // The groups in key order (numeric keys by value).
    std::vector<Group> Groups();
    // Printed as a table with a header; `by` names the key column.
    static std::string Format(const std::vector<Group>& groups, const std::string& by);

private:
    struct Acc {
        int64_t runs = 0, pass = 0, fail = 0, error = 0;
        std::vector<int64_t> totals;
    };
    std::map<std::string, Acc> m_groups;
};

}  // namespace tarvo::record
