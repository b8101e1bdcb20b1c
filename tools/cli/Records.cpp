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
#include "tools/cmdline/CommandLine.h"

namespace tarvo::cli {
namespace {

// The usage of each mode, in the order of Mode.
constexpr const char* kUsages[] = {
    "records [--since TIME] [--until TIME] [--port N] [--result R] [--station S]\n"
    "        [--format table|csv|json] [--limit N] [--oldest-first] [--record PATH | --db URL]",
    "records summary [--by port|station|image|day|location] [--since TIME] [--until TIME] [--port N]\n"
    "        [--result R] [--station S] [--record PATH | --db URL]",
    "records push [--record PATH] [--forward URL] [--wait SECONDS] [--retry-set-aside]",
    "records migrate --db URL",
};

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
    static constexpr const char* kModes[] = {"", " summary", " push", " migrate"};
    cmdline::OptionTable table(std::string("tarvo-cli records") + kModes[static_cast<int>(mode)],
                               kUsages[static_cast<int>(mode)], "usage: tarvo-cli ");
    auto text = [](std::string& target) {
        return [&target](const std::string& v) {
            target = v;
            return std::string();
        };
    };
    // The filters of the list and the summary.
    // A time or result that means nothing is a failed query (exit 1), as a query of the
    // database that finds nothing to match would be; the parse goes on and it is told after.
    std::string badFilter;
    auto addFilters = [&] {
        auto time = [&](std::string& target) {
            return [&target, &badFilter](const std::string& v) {
                std::string iso;
                if (!record::ParseUserTime(v, iso) && badFilter.empty())
                    badFilter = "not a time: '" + v + "' (use e.g. 2026-12-07 or 2026-12-07T10:14)";
                target = iso;
                return std::string();
            };
        };
        table
            .Value("since", "TIME",
                   "runs started from TIME (2026-12-07, 2026-12-07T10:14,\nlocal time unless it ends with Z)",
                   time(filter.since))
            .Value("until", "TIME", "runs started before TIME", time(filter.until))
            .Value("port", "N", "runs on COM port N", [&](const std::string& v) {
                char* end = nullptr;
                const long port = std::strtol(v.c_str(), &end, 10);
                if (v.empty() || *end != '\0' || port < 1 || port > 255)
                    return "--port takes a number from 1 to 255, not '" + v + "'";
                filter.port = static_cast<int>(port);
                return std::string();
            })
            .Value("result", "R",
                   "runs with this result (PASS, FAIL, ERROR, NO_TARGET,\nABORTED, INTERRUPTED, RUNNING)",
                   [&](const std::string& v) {
                       filter.result = ResultWord(v.c_str());
                       if (!KnownResult(filter.result) && badFilter.empty())
                           badFilter = "unknown result '" + v + "'";
                       return std::string();
                   })
            .Value("station", "S", "runs of station S", text(filter.station));
    };
    auto addDatabases = [&] {
        table
            .Value("record", "PATH",
                   "the local database (default: the profile's, else\n$XDG_DATA_HOME/tarvo/records.sqlite)",
                   [&](const std::string& v) {
                       settings.database = v;
                       return v.empty() ? std::string("--record needs a path") : std::string();
                   })
            .Value("db", "URL", "read a line's PostgreSQL database instead", text(dbUrl));
    };
    switch (mode) {
    case Mode::List:
        table.Description("Lists the production record, newest first (one line per run).\n");
        addFilters();
        table
            .Value("format", "table|csv|json", "table (default), CSV (RFC 4180, header row) or JSON Lines",
                   [&](const std::string& v) {
                       format = v;
                       return format == "table" || format == "csv" || format == "json"
                                  ? std::string()
                                  : "--format takes table, csv or json, not '" + v + "'";
                   })
            .Value("limit", "N",
                   "at most N records (default: 50 in the table, all in CSV\nand JSON; 0: all)",
                   [&](const std::string& v) {
                       char* end = nullptr;
                       const long n = std::strtol(v.c_str(), &end, 10);
                       if (*end != '\0' || v.empty() || n < 0 || n > 1000000000)
                           return "--limit takes a number from 0 to 1000000000, not '" + v + "'";
                       limit = static_cast<int>(n);
                       return std::string();
                   })
            .Flag("oldest-first", "oldest first instead of newest first", [&] { oldestFirst = true; });
        addDatabases();
        table.Epilogue("See also: tarvo-cli records summary --help, records push --help, records migrate --help.\n");
        break;
    case Mode::Summary:
        table.Description("Runs, PASS, FAIL, ERROR, yield (PASS / finished runs), median and 95th percentile\n"
                          "of total_ms, per group.\n");
        addFilters();
        table.Value("by", "port|station|image|day|location", "one line per port, station, image, day or USB location",
                    [&](const std::string& v) {
                        by = v;
                        return by == "port" || by == "station" || by == "image" || by == "day" || by == "location"
                                   ? std::string()
                                   : "--by takes port, station, image, day or location, not '" + v + "'";
                    });
        addDatabases();
        break;
    case Mode::Push:
        table
            .Description("Forwards the records not yet forwarded; exit 0 when none is left. A record the\n"
                         "line database refuses for its data is set aside with the server's reason (exit 1,\n"
                         "the reason named) and the others go on.\n")
            .Value("record", "PATH", "the local database (default: the profile's)",
                   [&](const std::string& v) {
                       settings.database = v;
                       return v.empty() ? std::string("--record needs a path") : std::string();
                   })
            .Value("forward", "URL", "the line database (default: the profile's \"Record\"/\"Forward\")",
                   [&](const std::string& v) {
                       settings.forward = v;
                       return v.empty() ? std::string("--forward needs a URL") : std::string();
                   })
            .Value("wait", "SECONDS", "wait at most SECONDS (default 10)",
                   [&](const std::string& v) {
                       char* end = nullptr;
                       waitSeconds = std::strtod(v.c_str(), &end);
                       return v.empty() || *end != '\0' || waitSeconds < 0
                                  ? "--wait takes a number of seconds, not '" + v + "'"
                                  : std::string();
                   })
            .Flag("retry-set-aside", "send the set-aside records again", [&] { retrySetAside = true; });
        break;
    case Mode::Migrate:
        table.Description("Creates or migrates the line database's schema and prints its version (needs a\n"
                          "role that may create tables).\n")
            .Value("db", "URL", "the line database", text(dbUrl));
        break;
    }
    if (const int status = table.ParseOrExit(argc - (first - 1), argv + (first - 1)); status >= 0)
        return status;
    if (!badFilter.empty())
        return Failure(badFilter);

    if (mode == Mode::Migrate) {
        if (dbUrl.empty())
            return table.UsageError("migrate needs --db URL");
        record::LineDatabase line;
        std::string error;
        if (!line.Connect(dbUrl, 10000, error))
            return Failure(error);
        std::printf("line database %s: schema version %d\n", record::RedactedUrl(dbUrl).c_str(), line.SchemaVersion());
        return kExitOk;
    }

    if (const std::string locked = LockedRecordOptions(profile, settings); !locked.empty())
        return Failure(locked);
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
