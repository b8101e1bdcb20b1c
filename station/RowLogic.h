// The station's row logic, without any window system: which row a report belongs to, which
// texts, colours, bar settings and timer actions every event gives, and the blink phases.
//
// Each event function returns the steps the view carries out, in order. Steps that change one
// label come in the order the event names them (for example text colour, background, text);
// the label repaints on a text or text-colour change but not on a background change, so that
// order decides what is on screen.
//
// Rows are 1 to 8 (top to bottom); row r serves COM port r + 4. Timer 1 is the clock
// (100 ms); timer r + 1 blinks row r's state field (800 ms).
//
// Threading: GUI thread only (the blink phases are process-wide and unguarded on purpose).
#pragma once

#include <cstdint>
#include <ctime>
#include <iosfwd>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvo::station {

using ColorRef = std::uint32_t;  // 0x00BBGGRR

namespace colour {
inline constexpr ColorRef kNearBlack = 0x010101;
inline constexpr ColorRef kGreen = 0x00FF00;
inline constexpr ColorRef kRed = 0x0000FF;
inline constexpr ColorRef kLightGrey = 0xDCDCDC;
inline constexpr ColorRef kSilver = 0xC0C0C0;
inline constexpr ColorRef kWhite = 0xFFFFFF;
inline constexpr ColorRef kYellow = 0x00FFFF;
inline constexpr ColorRef kMagenta = 0xFF00FF;
}  // namespace colour

inline constexpr int kRows = 8;
inline constexpr int kFirstPort = 5;
inline constexpr int kLastPort = 12;
inline constexpr int kBaudRate = 115200;
inline constexpr int kClockTimerId = 1;
inline constexpr int kClockPeriodMs = 100;
inline constexpr int kBlinkPeriodMs = 800;
inline constexpr int kStartPauseMs = 500;
inline constexpr int kMessageFontSize = 12;
inline constexpr int kClockFontSize = 14;
inline constexpr int kPathFontSize = 14;

// The station's fixed texts.
namespace text {
inline constexpr char kClose[] = "CLOSE";
inline constexpr char kReady[] = "READY";
inline constexpr char kErase[] = "ERASE";
inline constexpr char kDownload[] = "DOWNLOAD";
inline constexpr char kComplete[] = "COMPLETE";
inline constexpr char kError[] = "ERROR";
inline constexpr char kInsertTarget[] = "INSERT TARGET";
inline constexpr char kOpenFailed[] = "Serial Port Open Failed...";
inline constexpr char kErasing[] = "Erasing...";
inline constexpr char kNoDevice[] = "NO DEVICE - PLUG IN THE NEXT HANDSET";
inline constexpr char kRemoveHandset[] = "DONE - UNPLUG THE HANDSET";
inline constexpr char kPresentAtStart[] = "HANDSET PLUGGED AT START - CLICK OR REPLUG";
inline constexpr char kNoResult[] = "Run ended without a result";
inline constexpr char kNotRecorded[] = "NOT STARTED - RECORD NOT WRITTEN";
}  // namespace text

constexpr int PortForRow(int row) { return row + 4; }
// The row of a COM port number; 0 when the port serves no row (outside 5 to 12).
constexpr int RowForPort(int port) { return port >= kFirstPort && port <= kLastPort ? port - 4 : 0; }
constexpr int BlinkTimerId(int row) { return row + 1; }
// The row a blink timer belongs to; 0 for any other timer id.
constexpr int RowForBlinkTimer(int id) { return id >= 2 && id <= kRows + 1 ? id - 1 : 0; }

// The labels a step can address. Clock and path line have row 0.
enum class Field { Message, State, Clock, PathLine };

struct SetTextColor {
    Field field;
    int row;
    ColorRef color;
    bool operator==(const SetTextColor&) const = default;
};
struct SetBkColor {
    Field field;
    int row;
    ColorRef color;
    bool operator==(const SetBkColor&) const = default;
};
struct SetText {
    Field field;
    int row;
    std::string text;
    bool operator==(const SetText&) const = default;
};
struct SetFontSize {
    Field field;
    int row;
    int size;
    bool operator==(const SetFontSize&) const = default;
};
struct SetFontBold {
    Field field;
    int row;
    bool bold;
    bool operator==(const SetFontBold&) const = default;
};
struct SetProgressRange {
    int row;
    int lower;
    int upper;
    bool operator==(const SetProgressRange&) const = default;
};
struct SetProgressPosition {
    int row;
    int position;
    bool operator==(const SetProgressPosition&) const = default;
};
// Starting a running timer restarts its period.
struct StartTimer {
    int id;
    int periodMs;
    bool operator==(const StartTimer&) const = default;
};
struct StopTimer {
    int id;
    bool operator==(const StopTimer&) const = default;
};
// Start the download of the row's engine with the view's image path.
struct StartDownload {
    int row;
    bool operator==(const StartDownload&) const = default;
};

using Step = std::variant<SetTextColor, SetBkColor, SetText, SetFontSize, SetFontBold, SetProgressRange,
                          SetProgressPosition, StartTimer, StopTimer, StartDownload>;
using Steps = std::vector<Step>;

// Start-up appearance: clock, message fields (rows 8 to 1), path line, state fields (rows 8
// to 1, "CLOSE"), progress bars (rows 1 to 8) at 0, then the clock timer.
Steps InitialAppearance();
// Before a row's port is opened: its bar back to 0.
Steps PortStarting(int row);
// The row's port opened: "READY" / "INSERT TARGET".
Steps PortOpened(int row);
// The row's port did not open: red "Serial Port Open Failed..." on black, and the state field
// shows ERROR as after any failed run, whatever the row showed before.
Steps PortOpenFailed(int row);
// Continuous mode, the row's device was already there when the station started watching: the
// message field says it waits for a click or a replug (yellow on black); nothing starts.
Steps DevicePresentAtStart(int row);
// Continuous mode, the row's device is absent: the message field says so in yellow on black
// (waiting, not an error); the state field keeps the last result.
Steps DeviceAbsent(int row);
// Continuous mode, the run has ended and the handset's device is still there: the message field
// asks for the next handset, the state field keeps the result.
Steps DeviceStayed(int row);
// A status report of the engine of `port`.
Steps OnStatus(int port, int code, std::string_view reportText);
// A progress report of the engine of `port`.
Steps OnProgress(int port, int percent, int position, int size);
// A timer tick: the clock (with the local time `now`) or a row's blink (flips its phase).
Steps OnTimer(int id, const std::tm& now);

// The blink phase of a row (0 or 1); process-wide, never reset.
int BlinkPhase(int row);

// "%Y-%m-%d, %H:%M:%S"
std::string FormatClock(const std::tm& now);
// "Downloading : %d %"
std::string FormatDownloading(int percent);

std::ostream& operator<<(std::ostream& out, Field field);
std::ostream& operator<<(std::ostream& out, const SetTextColor& step);
std::ostream& operator<<(std::ostream& out, const SetBkColor& step);
std::ostream& operator<<(std::ostream& out, const SetText& step);
std::ostream& operator<<(std::ostream& out, const SetFontSize& step);
std::ostream& operator<<(std::ostream& out, const SetFontBold& step);
std::ostream& operator<<(std::ostream& out, const SetProgressRange& step);
std::ostream& operator<<(std::ostream& out, const SetProgressPosition& step);
std::ostream& operator<<(std::ostream& out, const StartTimer& step);
std::ostream& operator<<(std::ostream& out, const StopTimer& step);
std::ostream& operator<<(std::ostream& out, const StartDownload& step);

}  // namespace tarvo::station
