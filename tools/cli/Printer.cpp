#include "tools/cli/Printer.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "tools/cli/Flash.h"
#include "tools/cli/TermDisplay.h"

namespace tarvo::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The rate is taken over the last few seconds, so it follows a port that slows down.
constexpr auto kRateWindow = std::chrono::seconds(5);
constexpr auto kRateMinimum = std::chrono::milliseconds(500);

std::string Format(const char* format, double a, double b = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// "55.0/128.0 KiB": both counts in the unit of the image's size.
std::string BytesOf(long long position, long long size)
{
    if (size < 1024)
        return Format("%.0f/%.0f B", static_cast<double>(position), static_cast<double>(size));
    const bool mib = size >= 1024 * 1024;
    const double unit = mib ? 1024.0 * 1024.0 : 1024.0;
    return Format(mib ? "%.1f/%.1f MiB" : "%.1f/%.1f KiB", static_cast<double>(position) / unit,
                  static_cast<double>(size) / unit);
}

std::string RateOf(double bytesPerSecond)
{
    if (bytesPerSecond < 1024)
        return Format("%.0f B/s", bytesPerSecond);
    if (bytesPerSecond < 1024 * 1024)
        return Format("%.1f KiB/s", bytesPerSecond / 1024);
    return Format("%.1f MiB/s", bytesPerSecond / (1024 * 1024));
}

// "0:07", "12:30", "2:05:09".
std::string DurationOf(double seconds)
{
    const long long s = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

std::string CountsOf(const RunCounts& c)
{
    if (c.runs == 0)
        return "no runs yet";
    std::string text = std::to_string(c.runs) + (c.runs == 1 ? " run: " : " runs: ") + std::to_string(c.pass) + " pass";
    if (c.fail)
        text += ", " + std::to_string(c.fail) + " fail";
    if (c.error)
        text += ", " + std::to_string(c.error) + " error";
    if (c.aborted)
        text += ", " + std::to_string(c.aborted) + " aborted";
    return text;
}

std::string Padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

// `text` cut to `width` columns, the cut marked with "..." (UTF-8 is cut between characters).
std::string Cut(const std::string& text, int width)
{
    if (width <= 0)
        return {};
    int columns = 0;
    for (const char c : text)
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (columns <= width)
        return text;
    const int keep = width > 3 ? width - 3 : width;
    std::string out;
    int taken = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool start = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (start && taken == keep)
            break;
        taken += start;
        out += text[i];
    }
    if (width > 3)
        out += "...";
    return out;
}

}  // namespace

std::string FormatPortLine(const PortLine& line, int width)
{
    struct Part {
        std::string text;
        bool on = true;
    };
    const bool download = !line.ended && line.percent >= 0 && line.size > 0;
    Part port{Padded("COM" + std::to_string(line.port), 5)};
    Part state{Padded(line.state, 9)};
    Part bar, percent, bytes, rate, eta, counts, message;
    int barInner = 30;
    if (download) {
        percent.text = Format("%3.0f%%", line.percent);
        bytes.text = BytesOf(line.position, line.size);
        rate.on = line.rate > 0;
        rate.text = RateOf(line.rate);
        eta.on = line.secondsLeft >= 0;
        eta.text = DurationOf(line.secondsLeft) + " left";
    } else {
        bar.on = percent.on = bytes.on = rate.on = eta.on = false;
        message.text = line.message;
        message.on = !message.text.empty();
    }
    bar.on = download;
    counts.on = line.continuous;
    counts.text = CountsOf(line.counts);
    // The parts in the order shown; the message is last, so it is the one cut.
    Part* parts[] = {&port, &state, &bar, &percent, &bytes, &rate, &eta, &counts, &message};
    // Narrow terminals get single spaces between the parts.
    const int gap = width < 50 ? 1 : 2;
    auto total = [&] {
        int sum = 0, shown = 0;
        for (const Part* p : parts) {
            if (!p->on)
                continue;
            sum += p == &bar ? barInner + 2 : static_cast<int>(p->text.size());
            ++shown;
        }
        return sum + gap * std::max(0, shown - 1);
    };
    if (bar.on && total() > width)
        barInner = std::max(10, barInner - (total() - width));
    // What goes first when the line is too wide: the least needed parts.
    Part* drop[] = {&bytes, &rate, &bar, &counts};
    for (Part* p : drop)
        if (p->on && total() > width && !(p == &counts && !download))
            p->on = false;
    if (eta.on && total() > width)
        eta.text = DurationOf(line.secondsLeft);
    if (eta.on && total() > width)
        eta.on = false;
    if (bar.on) {
        const int filled = std::clamp(line.percent, 0, 100) * barInner / 100;
        bar.text = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                   std::string(static_cast<std::size_t>(barInner - filled), '.') + "]";
    }
    std::string out;
    for (const Part* p : parts) {
        if (!p->on)
            continue;
        if (!out.empty())
            out.append(static_cast<std::size_t>(gap), ' ');
        if (p == &message)
            out += Cut(p->text, width - static_cast<int>(out.size()));
        else
            out += p->text;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return Cut(out, width);
}

RunPrinter::RunPrinter(std::vector<int> ports, bool json, ProgressStyle style, Job job) : m_json(json), m_job(job)
{
    m_ports.resize(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        m_ports[i].line.port = ports[i];
        m_ports[i].line.continuous = job == Job::Continuous;
        m_ports[i].line.state = job == Job::Continuous ? "WAITING" : "READY";
    }
    if (!json && style == ProgressStyle::Auto)
        m_display = TermDisplay::Open(STDOUT_FILENO, [this](int width) { return Render(width); });
}

RunPrinter::~RunPrinter() { Finish(); }

void RunPrinter::Finish()
{
    if (m_display) {
        m_display->Finish();
        m_display.reset();
    }
}

std::vector<std::string> RunPrinter::Render(int width)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> lines;
    lines.reserve(m_ports.size());
    for (const Port& port : m_ports)
        lines.push_back(FormatPortLine(port.line, width));
    return lines;
}

void RunPrinter::Changed()
{
    if (m_display)
        m_display->Changed();
}

void RunPrinter::Status(std::size_t index, const std::string& state, int code, const std::string& text,
                        const std::string& reason)
{
    Port& port = m_ports[index];
    const int com = port.line.port;
    if (m_json) {
        if (reason.empty())
            std::printf("{\"port\":%d,\"status\":%d,\"text\":\"%s\"}\n", com, code, JsonEscape(text).c_str());
        else
            std::printf("{\"port\":%d,\"status\":%d,\"text\":\"%s\",\"reason\":\"%s\"}\n", com, code,
                        JsonEscape(text).c_str(), JsonEscape(reason).c_str());
        std::fflush(stdout);
        return;
    }
    if (m_display) {
        {
            std::lock_guard lock(m_mutex);
            port.line.state = state;
            port.line.message = Printable(reason.empty() ? text : text + " (" + reason + ")");
        }
        Changed();
        return;
    }
    if (reason.empty())
        std::printf("COM%d [%d] %s\n", com, code, Printable(text).c_str());
    else
        std::printf("COM%d [%d] %s (%s)\n", com, code, Printable(text).c_str(), Printable(reason).c_str());
    std::fflush(stdout);
}

void RunPrinter::Note(std::size_t index, const std::string& text)
{
    Port& port = m_ports[index];
    if (m_display) {
        {
            std::lock_guard lock(m_mutex);
            port.line.message = Printable(text);
        }
        Changed();
        return;
    }
    // Beside JSON Lines the note goes to stderr, in the same form.
    std::FILE* out = m_json ? stderr : stdout;
    std::fprintf(out, "COM%d %s\n", port.line.port, Printable(text).c_str());
    std::fflush(out);
}

void RunPrinter::Progress(std::size_t index, int percent, long long position, long long size)
{
    Port& port = m_ports[index];
    const int com = port.line.port;
    if (m_json) {
        std::printf("{\"port\":%d,\"progress\":%d,\"position\":%lld,\"size\":%lld}\n", com, percent, position, size);
        std::fflush(stdout);
        return;
    }
    if (m_display) {
        const auto now = Clock::now();
        {
            std::lock_guard lock(m_mutex);
            PortLine& line = port.line;
            auto& samples = port.samples;
            if (!samples.empty() && position < samples.back().second)
                samples.clear();  // a new download
            samples.emplace_back(now, position);
            while (samples.size() > 2 && now - samples[1].first >= kRateWindow)
                samples.pop_front();
            line.state = "DOWNLOAD";
            line.percent = percent;
            line.position = position;
            line.size = size;
            const auto span = now - samples.front().first;
            if (span >= kRateMinimum && position > samples.front().second) {
                line.rate = static_cast<double>(position - samples.front().second) /
                            std::chrono::duration<double>(span).count();
                line.secondsLeft = static_cast<double>(std::max(0LL, size - position)) / line.rate;
            }
        }
        Changed();
        return;
    }
    const int tenth = percent / 10;
    if (tenth != port.lastTenth) {
        port.lastTenth = tenth;
        std::printf("COM%d progress %d %%\n", com, percent);
        std::fflush(stdout);
    }
}

void RunPrinter::Ended(std::size_t index, const char* word, const std::string& result)
{
    Port& port = m_ports[index];
    port.endWord = word;
    port.result = result;
    if (m_json) {
        std::printf("{\"port\":%d,\"end\":\"%s\"}\n", port.line.port, word);
        std::fflush(stdout);
        return;
    }
    if (m_display) {
        {
            std::lock_guard lock(m_mutex);
            port.line.state = word;
            port.line.ended = true;
            // Without a result of its own the run ends on its last text.
            if (!result.empty())
                port.line.message = Printable(result);
            port.result = port.line.message;
        }
        Changed();
    }
}

void RunPrinter::Ended(std::size_t index, const char* word, const std::string& result, const RunCounts& counts)
{
    Port& port = m_ports[index];
    if (m_display) {
        std::lock_guard lock(m_mutex);
        port.line.counts = counts;
    }
    if (!m_json && !m_display) {
        port.endWord = word;
        port.result = result;
        std::printf("COM%d run %d: %s\n", port.line.port, counts.runs, word);
        std::fflush(stdout);
        return;
    }
    Ended(index, word, result);
}

void RunPrinter::RunBegun(std::size_t index, const std::string& device, const RunCounts& counts)
{
    Port& port = m_ports[index];
    port.lastTenth = -1;
    if (m_json)
        return;
    const std::string text = "run " + std::to_string(counts.runs) + " on " + device;
    if (!m_display) {
        Note(index, text);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        port.samples.clear();
        port.line.state = "READY";
        port.line.ended = false;
        port.line.percent = -1;
        port.line.rate = 0;
        port.line.secondsLeft = -1;
        port.line.message = Printable(text);
        port.line.counts = counts;
    }
    Changed();
}

void RunPrinter::Waiting(std::size_t index, bool present, const std::string& device)
{
    Port& port = m_ports[index];
    if (!m_display) {
        Note(index, present ? "done: unplug the handset to flash the next one on " + device
                            : "waiting for the device " + device);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        PortLine& line = port.line;
        if (present && line.ended) {
            // The result stays in view until the handset goes.
            line.message = Printable(port.result) + "; unplug the handset for the next one";
        } else {
            line.ended = false;
            line.percent = -1;
            line.state = present ? "DONE" : "WAITING";
            line.message = Printable(present ? "unplug the handset to flash the next one on " + device
                                             : "for the device " + device);
        }
    }
    Changed();
}

void RunPrinter::Message(const std::string& text)
{
    if (m_display && ::isatty(STDERR_FILENO)) {
        m_display->Above(Printable(text));
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void RunPrinter::FlashSummary()
{
    if (m_json)
        return;
    if (m_display) {
        // The display's final lines hold every port's result.
        Finish();
        return;
    }
    std::printf("\nPORT    RESULT      MESSAGE\n");
    for (const Port& port : m_ports)
        std::printf("COM%-4d %-11s %s\n", port.line.port, port.endWord.c_str(), Printable(port.result).c_str());
    std::fflush(stdout);
}

void RunPrinter::ContinuousSummary(const std::vector<RunCounts>& counts, int signalNumber)
{
    if (m_display) {
        {
            std::lock_guard lock(m_mutex);
            for (std::size_t i = 0; i < counts.size() && i < m_ports.size(); ++i)
                m_ports[i].line.counts = counts[i];
        }
        Finish();
    }
    std::FILE* out = m_json ? stderr : stdout;
    std::fprintf(out, "\n%s: continuous runs ended\nPORT    RUNS  PASS  FAIL  ERROR  ABORTED\n",
                 signalNumber == SIGTERM ? "SIGTERM" : signalNumber == SIGHUP ? "SIGHUP" : "SIGINT");
    for (std::size_t i = 0; i < counts.size() && i < m_ports.size(); ++i) {
        const RunCounts& c = counts[i];
        std::fprintf(out, "COM%-4d %4d  %4d  %4d  %5d  %7d\n", m_ports[i].line.port, c.runs, c.pass, c.fail, c.error,
                     c.aborted);
    }
    std::fflush(out);
}

}  // namespace tarvo::cli
