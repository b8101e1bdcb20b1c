// tarvo-cli records: lists, summarises and forwards the production record.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "record/Export.h"
#include "record/Forwarder.h"
#include "record/Identity.h"
#include "record/LineDatabase.h"
#include "record/RecordStore.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Profile.h"
#include "tools/cli/RecordSetup.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage =
    "records [summary|push] [--since TIME] [--until TIME] [--port N] [--result R] [--station S]\n"
    "        [--format table|csv|json] [--by port|station|image|day] [--record PATH | --db URL]";

// A result word as typed: "no_target", "no target" and "NO TARGET" are the same.
std::string ResultWord(const char* text)
{
    std::string word;
    for (const char* p = text; *p; ++p) {
        char c = *p == '_' || *p == '-' ? ' ' : *p;
        word += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    return word;
}

bool KnownResult(const std::string& word)
{
    for (const char* known : {record::result::kRunning, record::result::kPass, record::result::kFail,
                              record::result::kError, record::result::kNoTarget, record::result::kAborted,
                              record::result::kInterrupted})
        if (word == known)
            return true;
    return false;
}

int Help()
{
    std::printf("usage: tarvo-cli %s\n\n"
                "Lists the production record, oldest first (one line per run).\n"
                "  --since TIME, --until TIME  runs started from / before TIME (2026-12-07, 2026-12-07T10:14,\n"
                "                              local time unless it ends with Z)\n"
                "  --port N, --result R, --station S   select by port, result (PASS, FAIL, ERROR, NO_TARGET,\n"
                "                              ABORTED, INTERRUPTED, RUNNING) or station\n"
                "  --format table|csv|json     table (default), CSV (RFC 4180, header row) or JSON Lines\n"
                "  --record PATH               the local database (default: the profile's, else\n"
                "                              $XDG_DATA_HOME/tarvo/records.sqlite)\n"
                "  --db URL                    read a line's PostgreSQL database instead\n"
                "records summary [--by port|station|image|day]: runs, PASS, FAIL, ERROR, yield\n"
                "                              (PASS / finished runs), median and 95th percentile of total_ms\n"
                "records push [--forward URL] [--wait SECONDS]: forwards the records not yet forwarded\n"
                "                              (default target: the profile's \"Record\"/\"Forward\"); exit 0\n"
                "                              when none is left\n",
                kUsage);
    return kExitOk;
}

}  // namespace

int RunRecords(int argc, char** argv)
{
    enum class Mode { List, Summary, Push } mode = Mode::List;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "summary") == 0) {
        mode = Mode::Summary;
        first = 2;
    } else if (argc > 1 && std::strcmp(argv[1], "push") == 0) {
        mode = Mode::Push;
        first = 2;
    }
    const Profile profile = Profile::LoadUser();
    RecordSettings settings = RecordSettingsFromProfile(profile);
    record::RecordFilter filter;
    std::string format = "table";
    std::string by;
    std::string dbUrl;
    double waitSeconds = 10;
    for (int i = first; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsHelp(arg))
            return Help();
        const int recordOption = ParseRecordOption(argc, argv, i, settings);
        if (recordOption < 0)
            return UsageError(kUsage);
        if (recordOption > 0)
            continue;
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v)
            return UsageError(kUsage);
        ++i;
        if (std::strcmp(arg, "--since") == 0 || std::strcmp(arg, "--until") == 0) {
            std::string iso;
            if (!record::ParseUserTime(v, iso))
                return Failure(std::string("not a time: '") + v + "' (use e.g. 2026-12-07 or 2026-12-07T10:14)");
            (arg[2] == 's' ? filter.since : filter.until) = iso;
        } else if (std::strcmp(arg, "--port") == 0) {
            char* end = nullptr;
            const long port = std::strtol(v, &end, 10);
            if (*end != '\0' || port < 1 || port > 255)
                return UsageError(kUsage);
            filter.port = static_cast<int>(port);
        } else if (std::strcmp(arg, "--result") == 0) {
            filter.result = ResultWord(v);
            if (!KnownResult(filter.result))
                return Failure(std::string("unknown result '") + v + "'");
        } else if (std::strcmp(arg, "--station") == 0) {
            filter.station = v;
        } else if (std::strcmp(arg, "--format") == 0 && mode == Mode::List) {
            format = v;
            if (format != "table" && format != "csv" && format != "json")
                return UsageError(kUsage);
        } else if (std::strcmp(arg, "--by") == 0 && mode == Mode::Summary) {
            by = v;
            if (by != "port" && by != "station" && by != "image" && by != "day")
                return UsageError(kUsage);
        } else if (std::strcmp(arg, "--db") == 0 && mode != Mode::Push) {
            dbUrl = v;
        } else if (std::strcmp(arg, "--wait") == 0 && mode == Mode::Push) {
            char* end = nullptr;
            waitSeconds = std::strtod(v, &end);
            if (*end != '\0' || waitSeconds < 0)
                return UsageError(kUsage);
        } else {
            return UsageError(kUsage);
        }
    }

    if (const std::string locked = LockedRecordOptions(profile, settings); !locked.empty())
        return Failure(locked);
    if (mode == Mode::Push) {
        if (settings.forward.empty())
            return Failure("no line database to forward to: give --forward URL or set \"Record\"/\"Forward\" in " +
                           Profile::UserPath());
        const auto outcome = record::ForwardPending(settings.database, settings.forward,
                                                    std::chrono::milliseconds(static_cast<long long>(waitSeconds * 1000)));
        if (outcome.left == 0) {
            std::printf("%lld record(s) forwarded, none left\n", static_cast<long long>(outcome.sent));
            return kExitOk;
        }
        if (outcome.left < 0)
            return Failure(outcome.error);
        return Failure(std::to_string(outcome.sent) + " record(s) forwarded, " + std::to_string(outcome.left) +
                       " left: " + outcome.error);
    }

    record::RecordStore store;
    record::LineDatabase line;
    std::string error;
    if (dbUrl.empty()) {
        if (!store.Open(settings.database, error, true))
            return Failure(error);
    } else if (!line.Connect(dbUrl, 10000, error)) {
        return Failure(error);
    }

    if (mode == Mode::Summary) {
        record::Summary summary;
        auto add = [&](const record::SummaryRow& row) { summary.Add(row.key, row.result, row.totalMs); };
        const bool ok = dbUrl.empty() ? store.ForSummary(filter, by, add, error) : line.ForSummary(filter, by, add, error);
        if (!ok)
            return Failure(error);
        std::fputs(record::Summary::Format(summary.Groups(), by).c_str(), stdout);
        return kExitOk;
    }

    std::string out;
    if (format == "csv")
        out = record::CsvHeader();
    else if (format == "table")
        out = record::TableHeader();
    auto print = [&](const record::RunRecord& r) {
        out += format == "csv" ? record::CsvRow(r) : format == "json" ? record::JsonLine(r) : record::TableRow(r);
        if (out.size() > 64 * 1024) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    };
    const bool ok = dbUrl.empty() ? store.Query(filter, print, error) : line.Query(filter, print, error);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    if (!ok)
        return Failure(error);
    return kExitOk;
}

}  // namespace tarvo::cli
