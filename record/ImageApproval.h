// An image's approval as the line database keeps it (table image_approvals), keyed by the
// SHA-256 of the download image. Who approved and who revoked are the database's own
// session_user, stamped by the server; times are ISO 8601 UTC text with milliseconds.
//
// Threading: plain values.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo::record {

struct ImageApproval {
    std::string sha256;  // lower-case hex
    std::string name;    // the file's name when it was approved
    int64_t bytes = 0;
    std::string approvedBy, approvedAt, note;
    std::string revokedBy, revokedAt, revokeNote;  // empty while the approval stands

    bool Revoked() const { return !revokedAt.empty(); }
};

}  // namespace tarvo::record
