#include "tools/cmdline/CommandLine.h"

#include <getopt.h>

#include <cstdio>

namespace tarvo::cmdline {
namespace {

// getopt_long's value for entry i; above every letter.
constexpr int kEntryBase = 1000;
// Options whose name and value fit in this column get their help on the same line.
constexpr std::size_t kHelpColumn = 24;

}  // namespace

OptionTable::OptionTable(std::string program, std::string usage, std::string usagePrefix)
    : m_program(std::move(program)), m_usage(std::move(usage)), m_usagePrefix(std::move(usagePrefix))
{
    m_entries.push_back(Entry{"help", "", "show this text", nullptr, 'h'});
}

OptionTable& OptionTable::Value(std::string name, std::string valueName, std::string help, Handler handler)
{
    m_entries.push_back(Entry{std::move(name), std::move(valueName), std::move(help), std::move(handler), 0});
    return *this;
}

OptionTable& OptionTable::Flag(std::string name, std::string help, std::function<void()> handler)
{
    Handler apply = [handler = std::move(handler)](const std::string&) {
        handler();
        return std::string();
    };
    m_entries.push_back(Entry{std::move(name), {}, std::move(help), std::move(apply), 0});
    return *this;
}

OptionTable& OptionTable::Alias(char letter, const std::string& name)
{
    for (Entry& e : m_entries)
        if (e.name == name)
            e.letter = letter;
    return *this;
}

OptionTable& OptionTable::Description(std::string text)
{
    m_description = std::move(text);
    return *this;
}

OptionTable& OptionTable::Epilogue(std::string text)
{
    m_epilogue = std::move(text);
    return *this;
}

OptionTable::Result OptionTable::Parse(const std::vector<std::string>& args) const
{
    std::vector<std::string> words;
    words.push_back(m_program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    return Parse(static_cast<int>(words.size()), argv.data());
}

OptionTable::Result OptionTable::Parse(int argc, char** argv) const
{
    std::vector<option> longOptions;
    // ':' first: a missing value is told apart from an unknown option.
    std::string letters = ":";
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        const int hasValue = e.valueName.empty() ? no_argument : required_argument;
        longOptions.push_back(option{e.name.c_str(), hasValue, nullptr, kEntryBase + static_cast<int>(i)});
        if (e.letter != 0) {
            letters += e.letter;
            if (hasValue == required_argument)
                letters += ':';
        }
    }
    longOptions.push_back(option{nullptr, 0, nullptr, 0});

    auto entryOf = [&](int value) -> const Entry* {
        if (value >= kEntryBase && value < kEntryBase + static_cast<int>(m_entries.size()))
            return &m_entries[static_cast<std::size_t>(value - kEntryBase)];
        for (const Entry& e : m_entries)
            if (e.letter != 0 && e.letter == value)
                return &e;
        return nullptr;
    };
    // The word that held the option at fault, without a value after '='.
    auto offending = [&]() {
        std::string word = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        if (const auto eq = word.find('='); word.rfind("--", 0) == 0 && eq != std::string::npos)
            word.resize(eq);
        return word;
    };

    Result result;
    bool help = false;
    opterr = 0;
    optind = 0;  // glibc: start afresh, also after an earlier parse in this process
    for (;;) {
        const int c = ::getopt_long(argc, argv, letters.c_str(), longOptions.data(), nullptr);
        if (c == -1)
            break;
        if (c == '?') {
            const Entry* e = entryOf(optopt);
            result.kind = Result::Kind::Error;
            if (e)
                result.error = "option '--" + e->name + "' takes no value";
            else if (optopt != 0)
                result.error = std::string("unknown option '-") + static_cast<char>(optopt) + "'";
            else
                result.error = "unknown option '" + offending() + "'";
            return result;
        }
        const Entry* e = entryOf(c);
        if (c == ':') {
            e = entryOf(optopt);
            result.kind = Result::Kind::Error;
            result.error = "option '--" + (e ? e->name : std::string(1, static_cast<char>(optopt))) + "' needs a value";
            return result;
        }
        if (!e)
            continue;
        if (c >= kEntryBase) {
            // getopt_long also takes an unambiguous prefix ("--no" for "--no-record"); a typing
            // slip must not switch an option on, so only the whole name counts.
            const bool separateValue = optarg != nullptr && optind >= 2 && argv[optind - 1] == optarg;
            std::string word = argv[optind - (separateValue ? 2 : 1)];
            word = word.substr(0, word.find('='));
            if (word != "--" + e->name) {
                result.kind = Result::Kind::Error;
                result.error = "unknown option '" + word + "'";
                return result;
            }
        }
        if (!e->handler) {
            help = true;
            continue;
        }
        const std::string value = optarg ? optarg : "";
        if (std::string problem = e->handler(value); !problem.empty()) {
            result.kind = Result::Kind::Error;
            result.error = std::move(problem);
            return result;
        }
    }
    for (int i = optind; i < argc; ++i)
        result.operands.emplace_back(argv[i]);
    if (help)
        result.kind = Result::Kind::Help;
    return result;
}

int OptionTable::ParseOrExit(int argc, char** argv, std::vector<std::string>* operands) const
{
    Result result = Parse(argc, argv);
    switch (result.kind) {
    case Result::Kind::Help:
        std::fputs(Help().c_str(), stdout);
        return 0;
    case Result::Kind::Error:
        return UsageError(result.error);
    case Result::Kind::Run:
        break;
    }
    if (operands)
        *operands = std::move(result.operands);
    else if (!result.operands.empty())
        return UsageError("unexpected argument '" + result.operands.front() + "'");
    return -1;
}

int OptionTable::UsageError(const std::string& error) const
{
    const std::string text = m_program + ": " + error + "\n" + Usage();
    std::fputs(text.c_str(), stderr);
    return kExitUsage;
}

std::string OptionTable::Usage() const { return m_usagePrefix + m_usage + "\n"; }

std::string OptionTable::Help() const
{
    std::string text = Usage();
    if (!m_description.empty())
        text += "\n" + m_description;
    auto line = [&](const Entry& e) {
        std::string left = "  --" + e.name;
        if (e.letter != 0)
            left = std::string("  -") + e.letter + ", --" + e.name;
        if (!e.valueName.empty())
            left += " " + e.valueName;
        if (left.size() + 2 > kHelpColumn) {
            text += left + "\n";  // too long for the column: the help starts on the next line
            left.clear();
        }
        left.resize(kHelpColumn, ' ');
        std::string::size_type start = 0;
        for (;;) {
            const auto end = e.help.find('\n', start);
            text += left + e.help.substr(start, end - start) + "\n";
            if (end == std::string::npos)
                break;
            left.assign(kHelpColumn, ' ');
            start = end + 1;
        }
    };
    // --help last: it is the same everywhere.
    for (std::size_t i = 1; i < m_entries.size(); ++i)
        line(m_entries[i]);
    line(m_entries.front());
    if (!m_epilogue.empty())
        text += m_epilogue;
    return text;
}

std::vector<std::string> OptionTable::Names() const
{
    std::vector<std::string> names;
    for (std::size_t i = 1; i < m_entries.size(); ++i)
        names.push_back("--" + m_entries[i].name);
    names.push_back("--help");
    return names;
}

}  // namespace tarvo::cmdline
