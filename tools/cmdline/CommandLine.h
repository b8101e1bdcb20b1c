// One command's options, declared once in a table that both parses the command line and
// writes the help text, so the two cannot disagree.
//
// Grammar (getopt_long's): "--name VALUE" and "--name=VALUE" for an option with a value, "--name"
// for a flag, options and operands in any order, "--" ends the options; words that are no
// option are the command's operands. Names are taken whole (getopt_long's abbreviations are
// refused as unknown options). "--help" (and "-h") is in every table.
//
// Errors all read the same: one line "<program>: <what is wrong>" (an unknown option, a missing
// value, a value given to a flag, or what an option's handler says of its value), then the
// usage line(s); the exit status is 2.
//
// Threading: a table and its parse run on one thread at a time; Parse uses getopt_long's
// process-wide state, so two tables must not parse at the same time.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarvo::cmdline {

inline constexpr int kExitUsage = 2;

class OptionTable {
public:
    // Applies an option's value; returns an empty string when it is taken, else why not
    // ("--wait takes a number of seconds from 0.001 to 1000000").
    using Handler = std::function<std::string(const std::string& value)>;

    // `program` starts every error line ("tarvo-cli flash"); `usage` follows "usage: " (more
    // lines each start with their own indentation).
    OptionTable(std::string program, std::string usage, std::string usagePrefix = "usage: ");

    // An option with a value. `help` may hold several lines ('\n'); they are aligned.
    OptionTable& Value(std::string name, std::string valueName, std::string help, Handler handler);
    // A flag.
    OptionTable& Flag(std::string name, std::string help, std::function<void()> handler);
    // A one-letter alias of an option declared before ('v' for "verbose").
    OptionTable& Alias(char letter, const std::string& name);
    // Text above the options (after the usage) and below them.
    OptionTable& Description(std::string text);
    OptionTable& Epilogue(std::string text);

    struct Result {
        enum class Kind { Run, Help, Error } kind = Kind::Run;
        std::string error;                  // for Kind::Error
        std::vector<std::string> operands;  // the words that were no option, in order
    };
    // Parses argv[1..argc) (argv[0] is the command's name; argv may be reordered); calls the
    // handlers in command-line order and stops at the first error.
    Result Parse(int argc, char** argv) const;
    Result Parse(const std::vector<std::string>& args) const;

    // Parses and, unless the command should run, prints the help on stdout (returns 0) or the
    // error and the usage on stderr (returns 2). Returns -1 when the command should run.
    int ParseOrExit(int argc, char** argv, std::vector<std::string>* operands = nullptr) const;

    // "<program>: <error>" and the usage on stderr; returns 2. For errors found after the
    // parse (two options that exclude each other).
    int UsageError(const std::string& error) const;
    // "usage: <usage>\n".
    std::string Usage() const;
    // The usage, the description, one line (or more) per option, the epilogue.
    std::string Help() const;
    // The options' names ("--port"), in the table's order, "--help" included.
    std::vector<std::string> Names() const;

private:
    struct Entry {
        std::string name;
        std::string valueName;  // empty: a flag
        std::string help;
        Handler handler;
        char letter = 0;
    };
    std::string m_program;
    std::string m_usage;
    std::string m_usagePrefix;
    std::string m_description;
    std::string m_epilogue;
    std::vector<Entry> m_entries;
};

}  // namespace tarvo::cmdline
