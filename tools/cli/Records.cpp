// tarvo-cli records: lists, summarises and forwards the production record.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

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
    "records [summary|push|migrate] [--since TIME] [--until TIME] [--port N] [--result R] [--station S]\n"
    "        [--format table|csv|json] [--limit N] [--oldest-first] [--by port|station|image|day|location]\n"
    "        [--record PATH | --db URL] [--forward URL] [--wait SECONDS] [--retry-set-aside]";

// Rows the table shows unless --limit says otherwise; CSV and JSON give every row.
constexpr int kTableLimit = 50;

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
                "Lists the production record, newest first (one line per run).\n"
                "  --since TIME, --until TIME  runs started from / before TIME (2026-12-07, 2026-12-07T10:14,\n"
                "                              local time unless it ends with Z)\n"
                "  --port N, --result R, --station S   select by port, result (PASS, FAIL, ERROR, NO_TARGET,\n"
                "                              ABORTED, INTERRUPTED, RUNNING) or station\n"
                "  --format table|csv|json     table (default), CSV (RFC 4180, header row) or JSON Lines\n"
                "  --limit N                   at most N records (default: 50 in the table, all in CSV\n"
                "                              and JSON; 0: all)\n"
                "  --oldest-first              oldest first instead of newest first\n"
                "  --record PATH               the local database (default: the profile's, else\n"
                "                              $XDG_DATA_HOME/tarvo/records.sqlite)\n"
                "  --db URL                    read a line's PostgreSQL database instead\n"
                "records summary [--by port|station|image|day|location]: runs, PASS, FAIL, ERROR, yield\n"
                "                              (PASS / finished runs), median and 95th percentile of total_ms\n"
                "records push [--forward URL] [--wait SECONDS] [--retry-set-aside]: forwards the records\n"
                "                              not yet forwarded (default target: the profile's\n"
                "                              \"Record\"/\"Forward\"); exit 0 when none is left; waits at most\n"
                "                              SECONDS (default 10). A record the line database refuses for\n"
                "                              its data is set aside with the server's reason (exit 1, the\n"
                "                              reason named) and the others go on; --retry-set-aside sends\n"
                "                              the set-aside records again\n"
                "records migrate --db URL: creates or migrates the line database's schema and prints its\n"
                "                              version (needs a role that may create tables)\n",
                kUsage);
    return kExitOk;
}

// Tells how many records the line database refused and why (the set-aside records of the
// journal); empty when none is.
std::string SetAsideReport(const std::string& database)
{
    record::RecordStore store;
    std::string error;
    std::vector<record::SetAsideRecord> records;
    if (!store.Open(database, error, true) || !store.ListSetAside(0, records, error))
        return {};
    if (records.empty())
        return {};
    // Reasons in the order they first occurred, with their count and the first run's id.
    std::vector<std::string> order;
    std::map<std::string, std::pair<std::size_t, std::string>> byReason;
    for (const record::SetAsideRecord& r : records) {
        auto [it, added] = byReason.try_emplace(r.reason, 0, r.runId);
        if (added)
            order.push_back(r.reason);
        ++it->second.first;
    }
    std::string text = std::to_string(records.size()) + " record(s) set aside, refused by the line database: ";
    for (std::size_t i = 0; i < order.size() && i < 5; ++i) {
        const auto& [count, firstRun] = byReason[order[i]];
        text += (i ? "; " : "") + order[i] + " (" + std::to_string(count) + " record(s), run " + firstRun +
                (count > 1 ? " and others" : "") + ")";
    }
    if (order.size() > 5)
        text += "; and " + std::to_string(order.size() - 5) + " other reason(s)";
    return text + "; mend the cause, then run tarvo-cli records push --retry-set-aside";
}

}  // namespace

int RunRecords(int argc, char** argv)
{
    enum class Mode { List, Summary, Push, Migrate } mode = Mode::List;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "summary") == 0) {
        mode = Mode::Summary;
        first = 2;
    } else if (argc > 1 && std::strcmp(argv[1], "push") == 0) {
        mode = Mode::Push;
        first = 2;
    } else if (argc > 1 && std::strcmp(argv[1], "migrate") == 0) {
        mode = Mode::Migrate;
        first = 2;
    }
    const Profile profile = Profile::LoadUser();
    RecordSettings settings = RecordSettingsFromProfile(profile);
    record::RecordFilter filter;
    std::string format = "table";
    std::string by;
    std::string dbUrl;
    double waitSeconds = 10;
    int limit = -1;  // -1: the format's default
    bool oldestFirst = false;
    bool retrySetAside = false;
    for (int i = first; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsHelp(arg))
            return Help();
        if (std::strcmp(arg, "--oldest-first") == 0 && mode == Mode::List) {
            oldestFirst = true;
            continue;
        }
        if (std::strcmp(arg, "--retry-set-aside") == 0 && mode == Mode::Push) {
            retrySetAside = true;
            continue;
        }
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
        } else if (std::strcmp(arg, "--limit") == 0 && mode == Mode::List) {
            char* end = nullptr;
            const long n = std::strtol(v, &end, 10);
            if (*end != '\0' || end == v || n < 0 || n > 1000000000)
                return UsageError(kUsage);
            limit = static_cast<int>(n);
        } else if (std::strcmp(arg, "--by") == 0 && mode == Mode::Summary) {
            by = v;
            if (by != "port" && by != "station" && by != "image" && by != "day" && by != "location")
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

    if (mode == Mode::Migrate) {
        if (dbUrl.empty())
            return UsageError(kUsage);
        record::LineDatabase line;
        std::string error;
        if (!line.Connect(dbUrl, 10000, error))
            return Failure(error);
        std::printf("line database %s: schema version %d\n", record::RedactedUrl(dbUrl).c_str(), line.SchemaVersion());
        return kExitOk;
    }

    if (mode == Mode::Push) {
        if (settings.forward.empty())
            return Failure("no line database to forward to: give --forward URL or set \"Record\"/\"Forward\" in " +
                           Profile::UserPath());
        if (retrySetAside) {
            record::RecordStore store;
            std::string error;
            if (!store.Open(settings.database, error))
                return Failure(error);
            const int64_t cleared = store.ClearSetAside(error);
            if (cleared < 0)
                return Failure(error);
            std::printf("%lld set-aside record(s) to send again\n", static_cast<long long>(cleared));
        }
        const auto outcome = record::ForwardPending(settings.database, settings.forward,
                                                    std::chrono::milliseconds(static_cast<long long>(waitSeconds * 1000)));
        if (outcome.left < 0)
            return Failure(outcome.error);
        const std::string setAside = SetAsideReport(settings.database);
        if (outcome.left == 0) {
            std::printf("%lld record(s) forwarded, none left\n", static_cast<long long>(outcome.sent));
            std::fflush(stdout);
            return setAside.empty() ? kExitOk : Failure(setAside);
        }
        std::fflush(stdout);
        return Failure(std::to_string(outcome.sent) + " record(s) forwarded, " + std::to_string(outcome.left) +
                       " left: " + outcome.error + (setAside.empty() ? std::string() : "; " + setAside));
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
        std::vector<record::Summary::Group> groups;
        if (dbUrl.empty()) {
            record::Summary summary;
            auto add = [&](const record::SummaryRow& row) { summary.Add(row.key, row.result, row.totalMs); };
            if (!store.ForSummary(filter, by, add, error))
                return Failure(error);
            groups = summary.Groups();
        } else if (!line.Summarise(filter, by, groups, error)) {
            return Failure(error);
        }
        std::fputs(record::Summary::Format(groups, by).c_str(), stdout);
        return kExitOk;
    }

    if (limit < 0)
        limit = format == "table" ? kTableLimit : 0;
    filter.newestFirst = !oldestFirst;
    // One row more than shown tells the table that there are more.
    filter.limit = limit > 0 && format == "table" ? limit + 1 : limit;
    int shown = 0;
    bool more = false;
    std::string out;
    if (format == "csv")
        out = record::CsvHeader();
    else if (format == "table")
        out = record::TableHeader();
    auto print = [&](const record::RunRecord& r) {
        if (limit > 0 && shown >= limit) {
            more = true;
            return;
        }
        ++shown;
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
    if (more)
        std::fprintf(stderr, "(the %s %d records; --limit N shows more, --limit 0 all)\n",
                     oldestFirst ? "oldest" : "newest", limit);
    return kExitOk;
}

}  // namespace tarvo::cli
