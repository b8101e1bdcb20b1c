#include "record/RunRecord.h"

#include <cstdlib>

namespace tarvo::record {

namespace {

#define TEXT_FIELD(n) Field{#n, FieldKind::Text, &RunRecord::n, nullptr}
#define TIME_FIELD(n) Field{#n, FieldKind::Time, &RunRecord::n, nullptr}
#define NUMBER_FIELD(n) Field{#n, FieldKind::Integer, nullptr, &RunRecord::n}

constexpr Field kFields[kFieldCount] = {
    TEXT_FIELD(run_id),
    TEXT_FIELD(station),
    TEXT_FIELD(host),
    Field{"operator", FieldKind::Text, &RunRecord::operator_, nullptr},
    TEXT_FIELD(tarvo_version),
    NUMBER_FIELD(port),
    TEXT_FIELD(device),
    TEXT_FIELD(device_resolved),
    TIME_FIELD(started_at),
    TIME_FIELD(ended_at),
    TEXT_FIELD(result),
    NUMBER_FIELD(status),
    TEXT_FIELD(text),
    TEXT_FIELD(reason),
    TEXT_FIELD(loader),
    TEXT_FIELD(loader_version),
    TEXT_FIELD(monitor_checksums),
    TEXT_FIELD(checksums),
    TEXT_FIELD(main_software),
    TEXT_FIELD(main_sha256),
    TEXT_FIELD(image),
    TEXT_FIELD(image_sha256),
    NUMBER_FIELD(image_bytes),
    NUMBER_FIELD(bytes_sent),
    NUMBER_FIELD(wait_ms),
    NUMBER_FIELD(monitor_ms),
    NUMBER_FIELD(erase_ms),
    NUMBER_FIELD(download_ms),
    NUMBER_FIELD(verify_ms),
    NUMBER_FIELD(total_ms),
    TEXT_FIELD(unit),
    TEXT_FIELD(location),
    TEXT_FIELD(approval),
};

#undef TEXT_FIELD
#undef TIME_FIELD
#undef NUMBER_FIELD

constexpr std::size_t MemberBytes()
{
    std::size_t bytes = 0;
    for (const Field& field : kFields)
        bytes += field.text ? sizeof(Text) : sizeof(Number);
    return bytes;
}
// A member of RunRecord without its field in the table would be neither stored nor exported.
static_assert(sizeof(RunRecord) == MemberBytes(), "every member of RunRecord has its field in the table");

}  // namespace

const Field* Fields() { return kFields; }

const Field& FieldOf(Text RunRecord::*member)
{
    for (const Field& field : kFields)
        if (field.text == member)
            return field;
    std::abort();  // every member of RunRecord has its field: the table lacks one
}

const Field& FieldOf(Number RunRecord::*member)
{
    for (const Field& field : kFields)
        if (field.number == member)
            return field;
    std::abort();  // every member of RunRecord has its field: the table lacks one
}

const Field* FieldNamed(std::string_view name)
{
    for (const Field& field : kFields)
        if (name == field.name)
            return &field;
    return nullptr;
}

std::string FieldNames()
{
    std::string names;
    for (const Field& field : kFields)
        names += std::string(names.empty() ? "" : ", ") + field.name;
    return names;
}

std::string FieldsFromExcluded()
{
    const Field& key = FieldOf(&RunRecord::run_id);
    std::string set;
    for (const Field& field : kFields)
        if (&field != &key)
            set += std::string(set.empty() ? "" : ", ") + field.name + " = excluded." + field.name;
    return set;
}

namespace {

// Length of the well-formed UTF-8 sequence (not NUL) at `text[i]`, or 0 when none starts
// there; `bad` is then the length of the maximal ill-formed subsequence to replace.
std::size_t WellFormed(std::string_view text, std::size_t i, std::size_t& bad)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    bad = 1;
    if (lead >= 0x01 && lead <= 0x7F)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // overlong
        else if (lead == 0xED)
            high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;  // overlong
        else if (lead == 0xF4)
            high = 0x8F;  // above U+10FFFF
    } else {
        return 0;  // NUL, a continuation byte, C0, C1, F5..FF
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= text.size())
            return 0;
        const unsigned char b = byte(i + k);
        const unsigned char lo = k == 1 ? low : 0x80;
        const unsigned char hi = k == 1 ? high : 0xBF;
        if (b < lo || b > hi)
            return 0;
        bad = k + 1;  // the bytes so far are a prefix of a valid sequence: one replacement
    }
    return length;
}

}  // namespace

bool IsValidText(std::string_view text)
{
    std::size_t bad = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = WellFormed(text, i, bad);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string ValidText(std::string_view text)
{
    if (IsValidText(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t bad = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = WellFormed(text, i, bad);
        if (n > 0) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            out += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
            i += bad;
        }
    }
    return out;
}

void MakeValid(RunRecord& record)
{
    for (int i = 0; i < kFieldCount; ++i) {
        const Field& field = Fields()[i];
        if (field.text) {
            Text& value = record.*field.text;
            if (value && !IsValidText(*value))
                value = ValidText(*value);
        }
    }
}

std::string FieldText(const RunRecord& record, const Field& field)
{
    if (field.text) {
        const Text& value = record.*field.text;
        return value ? *value : std::string();
    }
    const Number& value = record.*field.number;
    return value ? std::to_string(*value) : std::string();
}

}  // namespace tarvo::record
