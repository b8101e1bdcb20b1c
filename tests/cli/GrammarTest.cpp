// The command-line grammar of tarvo-cli and tarvo-target-sim as a user meets it: both spellings
// of an option's value give the same run, every command refuses a wrong option the same way,
// and the help, the man pages and the bash completion name the same options.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/RunProgram.h"
#include "e2e/Harness.h"
#include "tools/sim/TargetSim.h"

using namespace std::chrono_literals;

namespace tarvo {
namespace {

const std::string kCli = TARVO_CLI_PATH;
const std::string kSim = TARVO_TARGET_SIM_PATH;

// The commands of tarvo-cli, each with its own option table.
const std::vector<std::vector<std::string>> kCommands = {
    {"convert"}, {"flash"}, {"demo"}, {"ports"}, {"doctor"},
    {"records"}, {"records", "summary"}, {"records", "push"}, {"records", "migrate"},
    {"images", "approve"}, {"images", "revoke"}, {"images", "list"}, {"line"},
};

std::string Joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& w : words)
        text += (text.empty() ? "" : " ") + w;
    return text;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The long options a text names ("--port"), from troff ("\-\-port") or plain text.
std::set<std::string> OptionNames(std::string text)
{
    text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");  // font changes
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    std::set<std::string> names;
    const std::regex option(R"((^|[^-\w])(--[a-z][a-z-]*[a-z]))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        names.insert((*it)[2]);
    return names;
}

// The options a program's --help lists: the lines that start with an option.
std::set<std::string> HelpOptions(const std::string& program, const std::vector<std::string>& args)
{
    const auto run = test::RunProgram(program, args);
    EXPECT_EQ(run.exitCode, 0) << Joined(args) << run.err;
    std::set<std::string> names;
    const std::regex line(R"(^  (?:-\w, )?(--[a-z][a-z-]*))");
    std::istringstream lines(run.out);
    for (std::string l; std::getline(lines, l);) {
        std::smatch m;
        if (std::regex_search(l, m, line))
            names.insert(m[1]);
    }
    EXPECT_FALSE(names.empty()) << Joined(args) << " --help lists no option:\n" << run.out;
    return names;
}

// The man page's synopsis of each command: from ".B tarvo\-cli COMMAND" to the next ".br".
std::map<std::string, std::set<std::string>> ManSynopses(const std::string& page)
{
    std::map<std::string, std::set<std::string>> synopses;
    const auto start = page.find(".SH SYNOPSIS");
    const auto end = page.find(".SH", start + 1);
    std::istringstream lines(page.substr(start, end - start));
    std::string command;
    const std::regex head(R"(^\.B tarvo\\-cli ([a-z][a-z ]*[a-z])\s*$)");
    for (std::string l; std::getline(lines, l);) {
        std::smatch m;
        if (std::regex_match(l, m, head)) {
            command = m[1];
            synopses[command];
        } else if (l == ".br") {
            command.clear();
        } else if (!command.empty()) {
            for (const std::string& name : OptionNames(l))
                synopses[command].insert(name);
        }
    }
    return synopses;
}

// The completion's option list of each command: the lines [COMMAND]="--a --b" of its table.
std::map<std::string, std::set<std::string>> CompletionLists(const std::string& script)
{
    std::map<std::string, std::set<std::string>> lists;
    const std::regex entry(R"re(^\s*\[([a-z ]+)\]="([^"]*)"\s*$)re");
    std::istringstream lines(script);
    for (std::string l; std::getline(lines, l);) {
        std::smatch m;
        if (std::regex_match(l, m, entry))
            lists[m[1]] = OptionNames(m[2]);
    }
    return lists;
}

std::set<std::string> WithoutHelp(std::set<std::string> names)
{
    names.erase("--help");
    return names;
}

TEST(CliGrammar, ValueAfterEqualsSignGivesTheSameRun)
{
    test::Workspace workspace(8 * 1024, 0);
    ::setenv("XDG_CONFIG_HOME", (workspace.Dir() + "/config").c_str(), 1);
    auto run = [&](bool equals) {
        sim::SimConfig config;
        config.loader = sim::Loader::Flashloader;
        config.version1 = 1;
        config.version2 = 0x25;
        config.eraseTime = 50ms;
        sim::TargetSim handset(config);
        std::string error;
        EXPECT_TRUE(handset.Start(error)) << error;
        const std::string port = "5=" + handset.DevicePath();
        const std::vector<std::string> args =
            equals ? std::vector<std::string>{"flash", "--image=" + workspace.Image(), "--port=" + port, "--wait=20",
                                              "--no-record"}
                   : std::vector<std::string>{"flash", "--image", workspace.Image(), "--port", port, "--wait", "20",
                                              "--no-record"};
        return test::RunProgram(kCli, args, workspace.Dir());
    };
    const auto spaced = run(false);
    const auto joined = run(true);
    EXPECT_EQ(spaced.exitCode, 0) << spaced.err;
    EXPECT_EQ(joined.exitCode, spaced.exitCode) << joined.err;
    EXPECT_NE(spaced.out.find("COM5 [20] PASS"), std::string::npos) << spaced.out;
    EXPECT_EQ(joined.out, spaced.out);
    EXPECT_EQ(joined.err, spaced.err);
}

TEST(CliGrammar, EveryCommandRefusesAWrongOptionTheSameWay)
{
    struct Program {
        std::string path;
        std::vector<std::string> command;
        std::string name;   // what starts the error line
        std::string usage;  // what starts the usage line
    };
    std::vector<Program> programs;
    for (const auto& command : kCommands)
        programs.push_back({kCli, command, "tarvo-cli " + Joined(command), "usage: tarvo-cli " + command.front()});
    programs.push_back({kSim, {}, "tarvo-target-sim", "Usage: tarvo-target-sim"});

    // Each fault, and the option the error line must name.
    const std::vector<std::pair<std::vector<std::string>, std::string>> faults = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--bogus=1"}, "unknown option '--bogus'"},
        {{"--help=yes"}, "option '--help' takes no value"},
        {{"--hel"}, "unknown option '--hel'"},  // names are taken whole, never abbreviated
    };
    for (const Program& program : programs) {
        for (const auto& [fault, message] : faults) {
            std::vector<std::string> args = program.command;
            args.insert(args.end(), fault.begin(), fault.end());
            const auto run = test::RunProgram(program.path, args);
            const std::string what = program.name + " " + Joined(fault);
            EXPECT_EQ(run.exitCode, 2) << what;
            EXPECT_EQ(run.out, "") << what;
            EXPECT_EQ(run.err.rfind(program.name + ": " + message + "\n" + program.usage, 0), 0u)
                << what << ":\n" << run.err;
        }
    }

    // A value an option refuses names the option, on every command that has one to refuse.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"flash", "--image=x", "--port=0"}, {"doctor", "--port=5="},
          {"records", "--limit=-1"}, {"records", "summary", "--by=week"}, {"demo", "--ports=9"}}) {
        const auto run = test::RunProgram(kCli, args);
        EXPECT_EQ(run.exitCode, 2) << Joined(args);
        const std::string option = args.back().substr(0, args.back().find('='));
        const auto firstLine = run.err.substr(0, run.err.find('\n'));
        EXPECT_NE(firstLine.find(option), std::string::npos) << Joined(args) << ":\n" << run.err;
        EXPECT_NE(run.err.find("\nusage: tarvo-cli " + args.front()), std::string::npos) << run.err;
    }
}

TEST(CliGrammar, HelpManPageAndCompletionNameTheSameOptions)
{
    const auto synopses = ManSynopses(ReadText(TARVO_SOURCE_DIR "/resources/man/tarvo-cli.1"));
    const auto completion = CompletionLists(ReadText(TARVO_SOURCE_DIR "/resources/tarvo-cli.bash-completion"));
    for (const auto& command : kCommands) {
        const std::string name = Joined(command);
        std::vector<std::string> args = command;
        args.push_back("--help");
        const std::set<std::string> help = HelpOptions(kCli, args);
        ASSERT_TRUE(synopses.count(name)) << "the man page has no synopsis of " << name;
        EXPECT_EQ(WithoutHelp(synopses.at(name)), WithoutHelp(help)) << "man page against --help of " << name;
        ASSERT_TRUE(completion.count(name)) << "the completion has no option list of " << name;
        EXPECT_EQ(completion.at(name), help) << "completion against --help of " << name;
    }

    // The simulator's man page describes each option in its OPTIONS section.
    const std::string page = ReadText(TARVO_SOURCE_DIR "/resources/man/tarvo-target-sim.1");
    const auto start = page.find(".SH OPTIONS");
    ASSERT_NE(start, std::string::npos);
    std::set<std::string> described;
    std::istringstream lines(page.substr(start, page.find(".SH", start + 1) - start));
    bool term = false;
    for (std::string l; std::getline(lines, l);) {
        if (term)
            for (const std::string& option : OptionNames(l))
                described.insert(option);
        term = l == ".TP";
    }
    EXPECT_EQ(described, HelpOptions(kSim, {"--help"}));
}

}  // namespace
}  // namespace tarvo
