// Text forms of records: CSV (RFC 4180), JSON Lines, a table for people, and the summary.
//
// CSV: a header row of the field names, then one row per record; every field that holds a
// comma, a double quote, CR or LF is quoted with its quotes doubled; lines end with CRLF; null
// is an empty field. JSON Lines: one object per record with every field name as key, null for
// null, numbers as numbers, strings as UTF-8 with control characters escaped.
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
// One CSV field, quoted when it needs to be.
std::string CsvField(const std::string& value);

std::string JsonLine(const RunRecord& record);
std::string JsonString(const std::string& value);

// The table's header and one row: start time, port, result, status, unit, text (control
// characters shown as '?').
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
