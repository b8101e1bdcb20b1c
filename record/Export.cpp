#include "record/Export.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tarvo::record {

namespace {

// Quotes a CSV field when it holds a comma, a quote or a line break.
std::string Quoted(const std::string& value)
{
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string out = "\"";
    for (char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace

std::string CsvField(const std::string& value)
{
    std::string text = ValidText(value);
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        text.insert(text.begin(), '\'');
    return Quoted(text);
}

std::string CsvHeader()
{
    std::string line;
    for (int i = 0; i < kFieldCount; ++i) {
        if (i)
            line += ',';
        line += Fields()[i].name;
    }
    return line + "\r\n";
}

std::string CsvRow(const RunRecord& record)
{
    std::string line;
    for (int i = 0; i < kFieldCount; ++i) {
        if (i)
            line += ',';
        const Field& field = Fields()[i];
        line += field.text ? CsvField(FieldText(record, field)) : FieldText(record, field);
    }
    return line + "\r\n";
}

std::string JsonString(const std::string& value)
{
    std::string out = "\"";
    for (char c : ValidText(value)) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string JsonLine(const RunRecord& record)
{
    std::string line = "{";
    for (int i = 0; i < kFieldCount; ++i) {
        const Field& field = Fields()[i];
        if (i)
            line += ',';
        line += '"';
        line += field.name;
        line += "\":";
        if (field.text) {
            const Text& value = record.*field.text;
            line += value ? JsonString(*value) : "null";
        } else {
            const Number& value = record.*field.number;
            line += value ? std::to_string(*value) : "null";
        }
    }
    return line + "}\n";
}

namespace {

// Decodes the code point of the valid UTF-8 sequence at text[i] and advances i past it.
char32_t Next(const std::string& text, std::size_t& i)
{
    const auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(text[k])); };
    const char32_t lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t code = lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k)
        code = (code << 6) | (byte(i + k) & 0x3F);
    i += length;
    return code;
}

bool Neutralised(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x200E || c == 0x200F || c == 0x061C || c == 0xFFFD;
}

// The text as the table shows it, and its width in characters.
std::string Visible(const std::string& raw, std::size_t* width = nullptr)
{
    const std::string text = ValidText(raw);
    std::string out;
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t from = i;
        const char32_t c = Next(text, i);
        if (Neutralised(c))
            out += '?';
        else
            out.append(text, from, i - from);
        ++count;
    }
    if (width)
        *width = count;
    return out;
}

// The text shown and padded with spaces to `columns` characters.
std::string Padded(const std::string& raw, std::size_t columns)
{
    std::size_t width = 0;
    std::string out = Visible(raw, &width);
    if (width < columns)
        out.append(columns - width, ' ');
    return out;
}

}  // namespace

std::string TableHeader()
{
    char line[160];
    std::snprintf(line, sizeof line, "%-24s %-5s %-11s %-6s %-16s %-32s %s\n", "STARTED (UTC)", "PORT", "RESULT",
                  "STATUS", "UNIT", "TEXT", "REASON");
    return line;
}

std::string TableRow(const RunRecord& record)
{
    const std::string started = record.started_at.value_or("");
    const std::string port = record.port ? std::to_string(*record.port) : "";
    const std::string status = record.status ? std::to_string(*record.status) : "";
    std::string row = Padded(started, 24) + " " + Padded(port, 5) + " " + Padded(record.result.value_or(""), 11) + " " +
                      Padded(status, 6) + " " + Padded(record.unit.value_or("-"), 16) + " ";
    const std::string reason = record.reason.value_or("");
    if (reason.empty()) {
        row += Visible(record.text.value_or(""));
    } else {
        row += Padded(record.text.value_or(""), 32) + " " + Visible(reason);
    }
    while (!row.empty() && row.back() == ' ')
        row.pop_back();
    return row + "\n";
}

void Summary::Add(const std::string& key, const std::string& result, std::optional<int64_t> totalMs)
{
    Acc& acc = m_groups[key];
    ++acc.runs;
    bool finished = true;
    if (result == "PASS")
        ++acc.pass;
    else if (result == "FAIL")
        ++acc.fail;
    else if (result == "ERROR")
        ++acc.error;
    else
        finished = false;
    if (finished && totalMs)
        acc.totals.push_back(*totalMs);
}

namespace {

// The value at rank ceil(q * n) of the sorted values (nearest-rank percentile).
int64_t Percentile(std::vector<int64_t>& values, double q)
{
    std::size_t rank = static_cast<std::size_t>(q * static_cast<double>(values.size()) + 0.999999);
    if (rank < 1)
        rank = 1;
    if (rank > values.size())
        rank = values.size();
    std::nth_element(values.begin(), values.begin() + static_cast<long>(rank - 1), values.end());
    return values[rank - 1];
}

bool Numeric(const std::string& s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos && s.size() < 18;
}

}  // namespace

std::vector<Summary::Group> Summary::Groups()
{
    std::vector<Group> out;
    for (auto& [key, acc] : m_groups) {
        Group g;
        g.key = key;
        g.runs = acc.runs;
        g.pass = acc.pass;
        g.fail = acc.fail;
        g.error = acc.error;
        const int64_t finished = acc.pass + acc.fail + acc.error;
        g.yield = finished ? static_cast<double>(acc.pass) / static_cast<double>(finished) : 0.0;
        if (!acc.totals.empty()) {
            g.median = Percentile(acc.totals, 0.5);
            g.p95 = Percentile(acc.totals, 0.95);
        }
        out.push_back(std::move(g));
    }
    std::stable_sort(out.begin(), out.end(), [](const Group& a, const Group& b) {
        if (Numeric(a.key) && Numeric(b.key))
            return std::atoll(a.key.c_str()) < std::atoll(b.key.c_str());
        return a.key < b.key;
    });
    return out;
}

std::string Summary::Format(const std::vector<Group>& groups, const std::string& by)
{
    std::string out;
    char line[512];
    const std::string column = by.empty() ? std::string("ALL") : [&] {
        std::string upper;
        for (char c : by)
            upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        return upper;
    }();
    std::snprintf(line, sizeof line, "%-24s %8s %8s %8s %8s %7s %10s %10s\n", column.c_str(), "RUNS", "PASS", "FAIL",
                  "ERROR", "YIELD", "MEDIAN_MS", "P95_MS");
    out += line;
    for (const Group& g : groups) {
        const std::string key = Padded(by.empty() ? std::string("all") : g.key.empty() ? std::string("-") : g.key, 24);
        const std::string median = g.median ? std::to_string(*g.median) : "-";
        const std::string p95 = g.p95 ? std::to_string(*g.p95) : "-";
        char yield[16];
        if (g.pass + g.fail + g.error > 0)
            std::snprintf(yield, sizeof yield, "%.1f%%", g.yield * 100.0);
        else
            std::snprintf(yield, sizeof yield, "-");
        // The key (an image path may be long) is padded apart: a fixed buffer could cut a character.
        std::snprintf(line, sizeof line, " %8lld %8lld %8lld %8lld %7s %10s %10s\n", static_cast<long long>(g.runs),
                      static_cast<long long>(g.pass), static_cast<long long>(g.fail), static_cast<long long>(g.error),
                      yield, median.c_str(), p95.c_str());
        out += key + line;
    }
    return out;
}

}  // namespace tarvo::record
