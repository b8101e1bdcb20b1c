// What tarvo-cli flash and demo show: on a terminal one line per port redrawn in place, at any
// width and after a resize; plain lines on a terminal that cannot move its cursor, with
// --progress plain, and (byte for byte as before) into a pipe. The terminal is a real one:
// tmux on a private socket, whose screen the test reads with capture-pane.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/RunProgram.h"
#include "e2e/Harness.h"

namespace tarvo::test {
namespace {

namespace fs = std::filesystem;

constexpr char kTmux[] = "/usr/bin/tmux";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (const char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

// A folder of the test's own, removed afterwards.
class Folder {
public:
    Folder()
    {
        char pattern[] = "/tmp/tarvo-term-XXXXXX";
        if (::mkdtemp(pattern))
            m_path = pattern;
    }
    ~Folder()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A tmux server of the test's own with one window of the given size, running one command.
class Terminal {
public:
    Terminal(const Folder& folder, int width, int height)
        : m_folder(folder), m_socket(folder.Path() + "/tmux.sock"), m_width(width), m_height(height)
    {
    }
    ~Terminal() { Tmux({"kill-server"}); }

    // Runs `command` (a shell command, in the test's folder, with its own profile folder) in
    // the window; Wait() returns once it has ended.
    bool Start(const std::string& command)
    {
        const std::string line = "cd '" + m_folder.Path() + "' && XDG_CONFIG_HOME='" + m_folder.Path() + "/config' " +
                                 command + "; " + kTmux + " -S '" + m_socket + "' wait-for -S ended; sleep 600";
        return Tmux({"new-session", "-d", "-x", std::to_string(m_width), "-y", std::to_string(m_height), line})
                   .exitCode == 0;
    }
    bool Wait(int seconds)
    {
        return RunProgram("/usr/bin/timeout", {std::to_string(seconds), kTmux, "-S", m_socket, "wait-for", "ended"})
                   .exitCode == 0;
    }
    void Resize(int width) { Tmux({"resize-window", "-x", std::to_string(width)}); }
    // The screen's lines, trailing blanks left off.
    std::vector<std::string> Screen()
    {
        std::vector<std::string> lines = Lines(Tmux({"capture-pane", "-p"}).out);
        while (!lines.empty() && lines.back().find_first_not_of(' ') == std::string::npos)
            lines.pop_back();
        return lines;
    }

private:
    ProgramResult Tmux(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"-S", m_socket, "-f", "/dev/null"});
        return RunProgram(kTmux, args);
    }

    const Folder& m_folder;
    std::string m_socket;
    int m_width;
    int m_height;
};

std::string Demo(const std::string& options)
{
    return std::string(TARVO_CLI_PATH) + " demo --no-record --ports 8 --size 4 " + options;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// Exactly one line per port of the demo (COM5..COM12), each within `width` columns and ending
// with the port's result.
void ExpectOneResultLinePerPort(const std::vector<std::string>& screen, int width)
{
    for (int port = 5; port <= 12; ++port) {
        const std::regex start("^COM" + std::to_string(port) + " ");
        int found = 0;
        for (const std::string& line : screen) {
            if (!std::regex_search(line, start))
                continue;
            ++found;
            EXPECT_LE(static_cast<int>(line.size()), width) << line;
            EXPECT_NE(line.find("COMPLETE"), std::string::npos) << line;
            EXPECT_NE(line.find("PASS"), std::string::npos) << line;
        }
        EXPECT_EQ(found, 1) << "COM" << port << " in\n" << Joined(screen);
    }
    int portLines = 0;
    for (const std::string& line : screen)
        portLines += line.rfind("COM", 0) == 0;
    EXPECT_EQ(portLines, 8) << Joined(screen);
}

TEST(TerminalDisplay, KeepsOneLinePerPortEndingWithItsResultAtThirtyAndAHundredTwentyColumns)
{
    for (const int width : {30, 120}) {
        SCOPED_TRACE("width " + std::to_string(width));
        Folder folder;
        Terminal terminal(folder, width, 20);
        ASSERT_TRUE(terminal.Start(Demo("")));
        ASSERT_TRUE(terminal.Wait(60));
        const std::vector<std::string> screen = terminal.Screen();
        ExpectOneResultLinePerPort(screen, width);
        if (width == 120) {
            // The wide line carries the whole result, checksums included.
            const std::regex result(R"(COMPLETE +PASS - Checksum: \[[0-9A-F]{4},[0-9A-F]{4}\]$)");
            for (const std::string& line : screen) {
                if (line.rfind("COM", 0) == 0) {
                    EXPECT_TRUE(std::regex_search(line, result)) << line;
                }
            }
        }
    }
}

TEST(TerminalDisplay, FollowsAResizeDuringTheRun)
{
    Folder folder;
    Terminal terminal(folder, 120, 20);
    ASSERT_TRUE(terminal.Start(Demo("--size 48")));
    // While the ports download (the erase takes 1.5 s, the download some seconds), the terminal narrows to 40 columns.
    std::this_thread::sleep_for(std::chrono::milliseconds(4000));
    const std::vector<std::string> during = terminal.Screen();
    terminal.Resize(40);
    ASSERT_TRUE(terminal.Wait(60));
    // The block is drawn anew at the new width, once.
    ExpectOneResultLinePerPort(terminal.Screen(), 40);
    // The download showed its bar, bytes and rate on the wide terminal.
    bool detailed = false;
    for (const std::string& line : during)
        detailed |= std::regex_search(line, std::regex(R"(DOWNLOAD +\[[#.]+\] +\d+%  [\d.]+/[\d.]+ KiB)"));
    EXPECT_TRUE(detailed) << Joined(during);
}

TEST(TerminalDisplay, ContinuousModeShowsWaitingPortsAndCountsOnTheSameLines)
{
    Folder folder;
    test::Workspace workspace(8 * 1024, 0);
    const std::string link = folder.Path() + "/link5";
    const std::string never = folder.Path() + "/link6";
    Terminal terminal(folder, 100, 20);
    ASSERT_TRUE(terminal.Start(std::string(TARVO_CLI_PATH) + " flash --continuous --no-record --image '" +
                               workspace.Image() + "' --port 5=" + link + " --port 6=" + never));
    const ProgramResult sim = RunProgram(TARVO_TARGET_SIM_PATH, {"--link", link, "--flashloader", "1.2.5", "--erase-ms",
                                                                 "20", "--handsets", "1", "--stay-ms", "300"});
    ASSERT_EQ(sim.exitCode, 0) << sim.err;
    // The handset has come and gone; the display has drawn that within a tenth of a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::string> screen = terminal.Screen();
    ASSERT_EQ(screen.size(), 2u) << Joined(screen);
    EXPECT_TRUE(std::regex_search(screen[0], std::regex(R"(^COM5 +WAITING +1 run: 1 pass +for the device .*/link5$)")))
        << screen[0];
    EXPECT_TRUE(std::regex_search(screen[1], std::regex(R"(^COM6 +WAITING +no runs yet +for the device .*/link6$)")))
        << screen[1];
}

TEST(TerminalDisplay, PlainLinesOnADumbTerminalAndWithProgressPlain)
{
    for (const std::string& command : {"TERM=dumb " + Demo(""), Demo("--progress plain")}) {
        SCOPED_TRACE(command);
        Folder folder;
        Terminal terminal(folder, 120, 60);
        ASSERT_TRUE(terminal.Start(command + " > out.txt"));
        ASSERT_TRUE(terminal.Wait(60));
        // The same lines as into a pipe: no control sequences, progress as lines, the table.
        const ProgramResult cat = RunProgram("/bin/cat", {folder.Path() + "/out.txt"});
        EXPECT_EQ(cat.out.find('\033'), std::string::npos);
        EXPECT_NE(cat.out.find("COM5 progress 100 %\n"), std::string::npos) << cat.out;
        EXPECT_NE(cat.out.find("\nPORT    RESULT      MESSAGE\n"), std::string::npos) << cat.out;
    }
}

TEST(TerminalDisplay, DoctorWrapsEachFixUnderItsOwnColumn)
{
    Folder folder;
    Terminal terminal(folder, 60, 30);
    ASSERT_TRUE(terminal.Start(std::string(TARVO_CLI_PATH) + " doctor --port 6=/dev/ttyUSB97"));
    ASSERT_TRUE(terminal.Wait(20));
    const std::vector<std::string> screen = terminal.Screen();
    // The fix of the missing device, in full, on lines that end before the right edge and go
    // on under the start of its text.
    std::string fix;
    bool inFix = false;
    for (const std::string& line : screen) {
        const std::size_t at = line.find("fix: ");
        if (at != std::string::npos && fix.empty()) {
            inFix = true;
            fix = line.substr(at + 5);
        } else if (inFix && line.rfind(std::string(30, ' '), 0) == 0) {
            fix += " " + line.substr(line.find_first_not_of(' '));
        } else {
            inFix = false;
        }
        if (inFix) {
            EXPECT_LT(line.size(), 60u) << line;
        }
    }
    EXPECT_EQ(fix, "plug in the adapter; its number may have changed: choose its /dev/serial/by-path name")
        << Joined(screen);
}

TEST(TerminalDisplay, LinesIntoAPipeAreUnchanged)
{
    Folder folder;
    const ProgramResult run = RunProgram(
        "/bin/sh", {"-c", "cd '" + folder.Path() + "' && XDG_CONFIG_HOME='" + folder.Path() + "/config' " +
                              TARVO_CLI_PATH + " demo --no-record --ports 2 --size 8"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 18u) << run.out;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("Tarvo demo: 2 simulated handsets at 115200 baud, sample image "
                                                      "/tmp/tarvo-demo-\\w+/sample\\.cp64 \\(8 KiB of data\\)")))
        << lines[0];
    EXPECT_EQ(lines[1], "");
    // The two ports' lines interleave as their runs go; each port's own lines are fixed.
    std::vector<std::string> com5, com6;
    for (std::size_t i = 2; i < 14; ++i)
        (lines[i].rfind("COM5 ", 0) == 0 ? com5 : com6).push_back(lines[i]);
    EXPECT_EQ(Joined(com5), "COM5 [1] The bootloader is running. Version 3.12.\n"
                            "COM5 [1] Loading Monitor in data RAM...\n"
                            "COM5 [1] Checksum: File: F05F RAM: F05F\n"
                            "COM5 [0] Download Reday End !\n"
                            "COM5 progress 99 %\n"
                            "COM5 progress 100 %\n"
                            "COM5 [20] PASS - Checksum: [DF24,DF24]\n");
    EXPECT_EQ(Joined(com6), "COM6 [1] The flashloader is running. Version 1.2.5.\n"
                            "COM6 [0] Download Reday End !\n"
                            "COM6 progress 99 %\n"
                            "COM6 progress 100 %\n"
                            "COM6 [20] PASS - Checksum: [DF24,DF24]\n");
    EXPECT_EQ(Joined({lines.begin() + 14, lines.end()}), "\n"
                                                         "PORT    RESULT      MESSAGE\n"
                                                         "COM5    COMPLETE    PASS - Checksum: [DF24,DF24]\n"
                                                         "COM6    COMPLETE    PASS - Checksum: [DF24,DF24]\n");
}

}  // namespace
}  // namespace tarvo::test
