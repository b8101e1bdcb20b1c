// tarvo-cli images: approves, revokes and lists the images a station that requires approval
// may flash (the line database's table image_approvals, keyed by the image's SHA-256). Who
// approved or revoked is the database role the command connects as, stamped by the server.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "record/Approvals.h"
#include "record/Export.h"
#include "record/LineDatabase.h"
#include "record/Sha256.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Flash.h"
#include "tools/cmdline/CommandLine.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage = "images approve|revoke|list ...";
constexpr const char* kApproveUsage = "images approve FILE [--note TEXT] --db URL";
constexpr const char* kRevokeUsage = "images revoke SHA256|FILE [--note TEXT] --db URL";
constexpr const char* kListUsage = "images list --db URL [--format table|csv|json]";

constexpr int kConnectTimeoutMs = 10000;

bool IsDigest(const std::string& text)
{
    if (text.size() != 64)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c + 32);
    return text;
}

void PrintApproval(const record::ImageApproval& a)
{
    std::printf("%s  %s  %lld bytes\n", a.sha256.c_str(), Printable(a.name).c_str(), static_cast<long long>(a.bytes));
    std::printf("  approved by %s at %s%s%s\n", Printable(a.approvedBy).c_str(), a.approvedAt.c_str(),
                a.note.empty() ? "" : ": ", Printable(a.note).c_str());
    if (a.Revoked())
        std::printf("  revoked by %s at %s%s%s\n", Printable(a.revokedBy).c_str(), a.revokedAt.c_str(),
                    a.revokeNote.empty() ? "" : ": ", Printable(a.revokeNote).c_str());
}

int List(record::LineDatabase& db, const std::string& format)
{
    std::vector<record::ImageApproval> list;
    std::string error;
    if (!db.Approvals(list, error))
        return Failure(error);
    const char* header[] = {"sha256", "name", "bytes", "approved_by", "approved_at", "note", "revoked_by", "revoked_at",
                            "revoke_note"};
    auto values = [](const record::ImageApproval& a) {
        return std::vector<std::string>{a.sha256,     a.name,       std::to_string(a.bytes), a.approvedBy, a.approvedAt,
                                        a.note,       a.revokedBy,  a.revokedAt,             a.revokeNote};
    };
    if (format == "csv") {
        std::string line;
        for (int i = 0; i < 9; ++i)
            line += std::string(i ? "," : "") + header[i];
        std::printf("%s\r\n", line.c_str());
        for (const auto& a : list) {
            const auto v = values(a);
            line.clear();
            for (int i = 0; i < 9; ++i)
                line += (i ? "," : "") + record::CsvField(v[i]);
            std::printf("%s\r\n", line.c_str());
        }
    } else if (format == "json") {
        for (const auto& a : list) {
            const auto v = values(a);
            std::string line = "{";
            for (int i = 0; i < 9; ++i) {
                line += std::string(i ? "," : "") + "\"" + header[i] + "\":";
                if (i == 2)
                    line += v[i];
                else if (i >= 5 && v[i].empty())
                    line += "null";
                else
                    line += record::JsonString(v[i]);
            }
            std::printf("%s}\n", line.c_str());
        }
    } else {
        std::printf("%-14s %-10s %-24s %-24s %s\n", "SHA256", "STATE", "APPROVED", "BY", "NAME");
        for (const auto& a : list)
            std::printf("%-14s %-10s %-24s %-24s %s\n", record::ShortDigest(a.sha256).c_str(),
                        a.Revoked() ? "REVOKED" : "APPROVED", a.approvedAt.c_str(), Printable(a.approvedBy).c_str(),
                        Printable(a.name).c_str());
    }
    return kExitOk;
}

}  // namespace

int RunImages(int argc, char** argv)
{
    const std::string verb = argc >= 2 ? argv[1] : "";
    if (verb != "approve" && verb != "revoke" && verb != "list") {
        cmdline::OptionTable table("tarvo-cli images", kUsage, "usage: tarvo-cli ");
        table.Description("The images a station set to require approval (\"Record\"/\"RequireApproved\"=1 or\n"
                          "--require-approved) may flash, kept in the line database by their SHA-256.\n"
                          "  approve FILE        approves the image FILE (again, after a revocation)\n"
                          "  revoke SHA256|FILE  revokes an approval; stations refuse the image within 60 s\n"
                          "  list                every approval, revoked ones included\n"
                          "See tarvo-cli images approve|revoke|list --help.\n");
        if (const int status = table.ParseOrExit(argc, argv); status >= 0)
            return status;
        return table.UsageError(verb.empty() ? "give approve, revoke or list" : "unknown action '" + verb + "'");
    }
    std::string target, note, dbUrl, format = "table";
    const char* usage = verb == "approve"  ? kApproveUsage
                        : verb == "revoke" ? kRevokeUsage
                                           : kListUsage;
    cmdline::OptionTable table("tarvo-cli images " + verb, usage, "usage: tarvo-cli ");
    if (verb != "list")
        table.Value("note", "TEXT", "a note kept with the " + std::string(verb == "approve" ? "approval" : "revocation"),
                    [&](const std::string& v) {
                        note = v;
                        return std::string();
                    });
    table.Value("db", "URL",
                "the line database (PostgreSQL connection URI); who approves is\n"
                "the database role the command connects as",
                [&](const std::string& v) {
                    dbUrl = v;
                    return v.empty() ? std::string("--db needs a URL") : std::string();
                });
    if (verb == "list")
        table.Value("format", "table|csv|json", "the list's form (default table)", [&](const std::string& v) {
            format = v;
            return v == "table" || v == "csv" || v == "json" ? std::string()
                                                              : "--format takes table, csv or json, not '" + v + "'";
        });
    std::vector<std::string> operands;
    if (const int status = table.ParseOrExit(argc - 1, argv + 1, &operands); status >= 0)
        return status;
    if (verb == "list" ? !operands.empty() : operands.size() != 1)
        return table.UsageError(verb == "list" ? "list takes no file" : verb + " takes one " + (verb == "approve" ? "FILE" : "SHA256 or FILE"));
    if (!operands.empty())
        target = operands.front();
    if (dbUrl.empty())
        return table.UsageError(verb + " needs --db URL");

    std::string sha256;
    int64_t bytes = 0;
    if (verb == "approve" || (verb == "revoke" && !IsDigest(Lower(target)))) {
        std::string error;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(target, ec))
            return Failure(target + ": " + (std::filesystem::exists(target, ec) ? "not a regular file" : "no such file") +
                           (verb == "revoke" ? " (nor a SHA-256 of 64 hex digits)" : ""));
        if (!record::Sha256File(target, sha256, error))
            return Failure(error);
        bytes = static_cast<int64_t>(std::filesystem::file_size(target, ec));
    } else if (verb == "revoke") {
        sha256 = Lower(target);
    }

    record::LineDatabase db;
    std::string error;
    if (!db.Connect(dbUrl, kConnectTimeoutMs, error))
        return Failure(error);
    if (verb == "list")
        return List(db, format);
    record::ImageApproval approval;
    if (verb == "approve") {
        const std::string name = std::filesystem::path(target).filename().string();
        if (!db.Approve(sha256, name, bytes, note, approval, error))
            return Failure(error);
        std::printf("approved ");
        PrintApproval(approval);
        return kExitOk;
    }
    bool found = false;
    if (!db.Revoke(sha256, note, approval, found, error))
        return Failure(error);
    if (!found)
        return Failure(target + ": no approval of sha256 " + record::ShortDigest(sha256) + " to revoke");
    std::printf("revoked ");
    PrintApproval(approval);
    return kExitOk;
}

}  // namespace tarvo::cli
