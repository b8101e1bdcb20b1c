#include "record/RunRecord.h"

namespace tarvo::record {

namespace {

#define TEXT_FIELD(n) Field{#n, &RunRecord::n, nullptr}
#define NUMBER_FIELD(n) Field{#n, nullptr, &RunRecord::n}

const Field kFields[kFieldCount] = {
    TEXT_FIELD(run_id),
    TEXT_FIELD(station),
    TEXT_FIELD(host),
    Field{"operator", &RunRecord::operator_, nullptr},
    TEXT_FIELD(tarvo_version),
    NUMBER_FIELD(port),
    TEXT_FIELD(device),
    TEXT_FIELD(device_resolved),
    TEXT_FIELD(started_at),
    TEXT_FIELD(ended_at),
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
};

#undef TEXT_FIELD
#undef NUMBER_FIELD

}  // namespace

const Field* Fields() { return kFields; }

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
