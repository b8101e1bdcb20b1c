#include "station/RowLogic.h"

#include <array>
#include <cstdio>
#include <ostream>

#include "engine/StatusCodes.h"

namespace tarvo::station {
namespace {

// One blink phase per row, flipped by each tick of the row's blink timer and never reset, so
// a row's next download continues where the last one stopped.
std::array<int, kRows> g_blinkPhases{};

bool ValidRow(int row) { return row >= 1 && row <= kRows; }

// Builds a step list element by element (an initializer list of variants holding strings
// trips a false "maybe uninitialized" warning of GCC 12).
template <class... S>
Steps Make(S&&... steps)
{
    Steps out;
    out.reserve(sizeof...(steps));
    (out.emplace_back(std::forward<S>(steps)), ...);
    return out;
}

}  // namespace

Steps InitialAppearance()
{
    Steps steps;
    steps.push_back(SetTextColor{Field::Clock, 0, colour::kGreen});
    steps.push_back(SetBkColor{Field::Clock, 0, colour::kNearBlack});
    steps.push_back(SetFontSize{Field::Clock, 0, kClockFontSize});
    for (int row = kRows; row >= 1; --row) {
        steps.push_back(SetTextColor{Field::Message, row, colour::kGreen});
        steps.push_back(SetBkColor{Field::Message, row, colour::kNearBlack});
        steps.push_back(SetFontSize{Field::Message, row, kMessageFontSize});
    }
    steps.push_back(SetTextColor{Field::PathLine, 0, colour::kMagenta});
    steps.push_back(SetBkColor{Field::PathLine, 0, colour::kNearBlack});
    steps.push_back(SetFontSize{Field::PathLine, 0, kPathFontSize});
    steps.push_back(SetFontBold{Field::PathLine, 0, true});
    for (int row = kRows; row >= 1; --row) {
        steps.push_back(SetTextColor{Field::State, row, colour::kRed});
        steps.push_back(SetBkColor{Field::State, row, colour::kLightGrey});
        steps.push_back(SetText{Field::State, row, text::kClose});
    }
    for (int row = 1; row <= kRows; ++row)
        steps.push_back(SetProgressPosition{row, 0});
    steps.push_back(StartTimer{kClockTimerId, kClockPeriodMs});
    return steps;
}

Steps PortStarting(int row)
{
    if (!ValidRow(row))
        return {};
    return Make(SetProgressPosition{row, 0});
}

Steps PortOpened(int row)
{
    if (!ValidRow(row))
        return {};
    return Make(
        SetTextColor{Field::State, row, colour::kNearBlack},
        SetBkColor{Field::State, row, colour::kGreen},
        SetText{Field::State, row, text::kReady},
        SetBkColor{Field::Message, row, colour::kNearBlack},
        SetTextColor{Field::Message, row, colour::kGreen},
        SetText{Field::Message, row, text::kInsertTarget});
}

Steps PortOpenFailed(int row)
{
    if (!ValidRow(row))
        return {};
    return Make(
        StopTimer{BlinkTimerId(row)},
        SetBkColor{Field::Message, row, colour::kNearBlack},
        SetTextColor{Field::Message, row, colour::kRed},
        SetText{Field::Message, row, text::kOpenFailed},
        SetTextColor{Field::State, row, colour::kNearBlack},
        SetBkColor{Field::State, row, colour::kRed},
        SetText{Field::State, row, text::kError});
}

Steps DevicePresentAtStart(int row)
{
    if (!ValidRow(row))
        return {};
    return Make(
        SetBkColor{Field::Message, row, colour::kNearBlack},
        SetTextColor{Field::Message, row, colour::kYellow},
        SetText{Field::Message, row, text::kPresentAtStart});
}

Steps DeviceAbsent(int row)
{
    if (!ValidRow(row))
        return {};
    return Make(
        SetBkColor{Field::Message, row, colour::kNearBlack},
        SetTextColor{Field::Message, row, colour::kYellow},
        SetText{Field::Message, row, text::kNoDevice});
}

Steps DeviceStayed(int row)
{
    if (!ValidRow(row))
        return {};
    return Make(SetText{Field::Message, row, text::kRemoveHandset});
}

Steps OnStatus(int port, int code, std::string_view reportText)
{
    const int row = RowForPort(port);
    if (row == 0)
        return {};
    const std::string message(reportText);
    switch (code) {
    case status::kReadyForDownload:
        return Make(
            StartDownload{row},
            SetText{Field::Message, row, text::kErasing},
            SetTextColor{Field::State, row, colour::kNearBlack},
            SetBkColor{Field::State, row, colour::kGreen},
            SetText{Field::State, row, text::kErase});
    case status::kInformation:
        return Make(SetText{Field::Message, row, message});
    case status::kPass:
        return Make(
            StopTimer{BlinkTimerId(row)},
            SetBkColor{Field::Message, row, colour::kGreen},
            SetTextColor{Field::Message, row, colour::kNearBlack},
            SetText{Field::Message, row, message},
            SetTextColor{Field::State, row, colour::kNearBlack},
            SetBkColor{Field::State, row, colour::kGreen},
            SetText{Field::State, row, text::kComplete});
    default:
        return Make(
            StopTimer{BlinkTimerId(row)},
            SetText{Field::Message, row, message},
            SetTextColor{Field::State, row, colour::kNearBlack},
            SetBkColor{Field::State, row, colour::kRed},
            SetText{Field::State, row, text::kError});
    }
}

Steps OnProgress(int port, int percent, int position, int size)
{
    const int row = RowForPort(port);
    if (row == 0)
        return {};
    return Make(
        SetText{Field::Message, row, FormatDownloading(percent)},
        SetTextColor{Field::State, row, colour::kNearBlack},
        SetBkColor{Field::State, row, colour::kGreen},
        SetText{Field::State, row, text::kDownload},
        SetProgressRange{row, 0, size / 1000},
        SetProgressPosition{row, position / 1000},
        StartTimer{BlinkTimerId(row), kBlinkPeriodMs});
}

Steps OnTimer(int id, const std::tm& now)
{
    if (id == kClockTimerId)
        return Make(SetText{Field::Clock, 0, FormatClock(now)});
    const int row = RowForBlinkTimer(id);
    if (row == 0)
        return {};
    int& phase = g_blinkPhases[row - 1];
    Steps steps;
    if (phase != 0) {
        steps.push_back(SetTextColor{Field::State, row, colour::kNearBlack});
        steps.push_back(SetBkColor{Field::State, row, colour::kGreen});
    } else {
        steps.push_back(SetTextColor{Field::State, row, row == 1 ? colour::kYellow : colour::kWhite});
        steps.push_back(SetBkColor{Field::State, row, colour::kSilver});
    }
    phase = phase == 0 ? 1 : 0;
    return steps;
}

int BlinkPhase(int row) { return ValidRow(row) ? g_blinkPhases[row - 1] : 0; }

std::string FormatClock(const std::tm& now)
{
    char buffer[64];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d, %H:%M:%S", &now);
    return std::string(buffer, n);
}

std::string FormatDownloading(int percent)
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "Downloading : %d %%", percent);
    return buffer;
}

namespace {
const char* FieldName(Field field)
{
    switch (field) {
    case Field::Message: return "message";
    case Field::State: return "state";
    case Field::Clock: return "clock";
    case Field::PathLine: return "path line";
    }
    return "?";
}
std::ostream& Hex(std::ostream& out, ColorRef c)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%06X", static_cast<unsigned>(c));
    return out << buffer;
}
}  // namespace

std::ostream& operator<<(std::ostream& out, Field field) { return out << FieldName(field); }
std::ostream& operator<<(std::ostream& out, const SetTextColor& s)
{
    out << "SetTextColor(" << s.field << ' ' << s.row << ", ";
    return Hex(out, s.color) << ')';
}
std::ostream& operator<<(std::ostream& out, const SetBkColor& s)
{
    out << "SetBkColor(" << s.field << ' ' << s.row << ", ";
    return Hex(out, s.color) << ')';
}
std::ostream& operator<<(std::ostream& out, const SetText& s)
{
    return out << "SetText(" << s.field << ' ' << s.row << ", \"" << s.text << "\")";
}
std::ostream& operator<<(std::ostream& out, const SetFontSize& s)
{
    return out << "SetFontSize(" << s.field << ' ' << s.row << ", " << s.size << ')';
}
std::ostream& operator<<(std::ostream& out, const SetFontBold& s)
{
    return out << "SetFontBold(" << s.field << ' ' << s.row << ", " << s.bold << ')';
}
std::ostream& operator<<(std::ostream& out, const SetProgressRange& s)
{
    return out << "SetProgressRange(" << s.row << ", " << s.lower << ".." << s.upper << ')';
}
std::ostream& operator<<(std::ostream& out, const SetProgressPosition& s)
{
    return out << "SetProgressPosition(" << s.row << ", " << s.position << ')';
}
std::ostream& operator<<(std::ostream& out, const StartTimer& s)
{
    return out << "StartTimer(" << s.id << ", " << s.periodMs << " ms)";
}
std::ostream& operator<<(std::ostream& out, const StopTimer& s) { return out << "StopTimer(" << s.id << ')'; }
std::ostream& operator<<(std::ostream& out, const StartDownload& s)
{
    return out << "StartDownload(" << s.row << ')';
}

}  // namespace tarvo::station
