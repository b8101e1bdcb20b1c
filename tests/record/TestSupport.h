// Helpers of the record tests: temporary folders, records with awkward text, readers of the
// CSV and JSON Lines exports written independently of the code under test.
#pragma once

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "record/RunRecord.h"

namespace tarvo::test {

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/tarvo-record-XXXXXX";
        if (!::mkdtemp(pattern))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A finished record with text in every awkward form a CSV or JSON writer can get wrong.
inline record::RunRecord AwkwardRecord(int n)
{
    record::RunRecord r;
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
    r.run_id = id;
    r.station = "Line \"B\", bay 2";
    r.host = "host";
    r.operator_ = "Jürgen Ω";
    r.tarvo_version = "1.3";
    r.port = 5 + n % 8;
    r.device = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0";
    r.device_resolved = "/dev/ttyUSB0";
    char started[40];
    std::snprintf(started, sizeof started, "2026-12-0%dT10:14:%02d.512Z", 1 + n % 7, n % 60);
    r.started_at = started;
    r.ended_at = started;
    r.result = n % 3 == 0 ? "FAIL" : "PASS";
    r.status = n % 3 == 0 ? 21 : 20;
    r.text = "\rError while writing,\n \"flash\"\t\x01 done";
    r.loader = "bootloader";
    r.loader_version = "3.12";
    r.checksums = "1A2B,1A2C";
    r.main_software = "/home/op/images/v1,2 \"final\"\n/ünïcode 한국.m0";
    r.image = "C:\\odd\\path.cp64";
    r.image_bytes = 123456789012LL;
    r.bytes_sent = 0;
    r.total_ms = 1000 + n;
    r.unit = n % 2 ? std::optional<std::string>("SN \"7\",\r\nline2 ✓") : std::nullopt;
    return r;
}

// RFC 4180 reader: rows of fields.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, fieldStarted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && !fieldStarted) {
            quoted = fieldStarted = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
            fieldStarted = false;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            fieldStarted = false;
            ++i;
        } else {
            if (c == '"' || c == '\n' || c == '\r')
                throw std::runtime_error("bare quote or line break outside quotes");
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted || !row.empty() || !field.empty())
        throw std::runtime_error("CSV does not end with a complete row");
    return rows;
}

// JSON value of a flat object: null, a number's text or a string.
struct JsonValue {
    bool null = false;
    bool isString = false;
    std::string text;
};

inline void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Parses one line holding one flat JSON object.
inline std::map<std::string, JsonValue> ParseJsonObject(const std::string& line)
{
    std::size_t i = 0;
    auto fail = [&](const char* what) { throw std::runtime_error(std::string(what) + " at " + std::to_string(i)); };
    auto skip = [&] {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
    };
    auto string = [&]() {
        if (line[i] != '"')
            fail("expected a string");
        ++i;
        std::string out;
        while (i < line.size() && line[i] != '"') {
            const auto u = static_cast<unsigned char>(line[i]);
            if (u < 0x20)
                fail("raw control character in a string");
            if (line[i] == '\\') {
                const char e = line[++i];
                switch (e) {
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case '/': out += '/'; break;
                case '\\': out += '\\'; break;
                case '"': out += '"'; break;
                case 'u': AppendUtf8(out, static_cast<unsigned>(std::stoul(line.substr(i + 1, 4), nullptr, 16))); i += 4; break;
                default: fail("bad escape");
                }
                ++i;
            } else {
                out += line[i++];
            }
        }
        if (i >= line.size())
            fail("unterminated string");
        ++i;
        return out;
    };
    std::map<std::string, JsonValue> out;
    skip();
    if (line[i++] != '{')
        fail("expected {");
    for (;;) {
        skip();
        std::string key = string();
        skip();
        if (line[i++] != ':')
            fail("expected :");
        skip();
        JsonValue value;
        if (line.compare(i, 4, "null") == 0) {
            value.null = true;
            i += 4;
        } else if (line[i] == '"') {
            value.isString = true;
            value.text = string();
        } else {
            const std::size_t start = i;
            while (i < line.size() && (std::isdigit(static_cast<unsigned char>(line[i])) || line[i] == '-'))
                ++i;
            if (i == start)
                fail("expected a value");
            value.text = line.substr(start, i - start);
        }
        if (!out.emplace(key, value).second)
            fail("key twice");
        skip();
        if (line[i] == '}')
            break;
        if (line[i++] != ',')
            fail("expected , or }");
    }
    return out;
}

}  // namespace tarvo::test
