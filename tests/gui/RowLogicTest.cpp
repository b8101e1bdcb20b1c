// The row logic: which row a report changes and how, timers, bar arithmetic, blinking.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/StatusCodes.h"
#include "station/RowLogic.h"

namespace tarvo::station {
namespace {

// Every row a list of steps touches (0 for clock and path line, which have none).
std::vector<int> RowsOf(const Steps& steps)
{
    std::vector<int> rows;
    for (const Step& step : steps) {
        const int row = std::visit([](const auto& s) -> int {
            using T = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<T, StartTimer> || std::is_same_v<T, StopTimer>)
                return RowForBlinkTimer(s.id);
            else
                return s.row;
        }, step);
        if (std::find(rows.begin(), rows.end(), row) == rows.end())
            rows.push_back(row);
    }
    return rows;
}

template <class T>
std::vector<T> Only(const Steps& steps)
{
    std::vector<T> out;
    for (const Step& step : steps) {
        if (const T* s = std::get_if<T>(&step))
            out.push_back(*s);
    }
    return out;
}

TEST(RowMapping, RowsServeComPortsFiveToTwelve)
{
    for (int row = 1; row <= kRows; ++row) {
        EXPECT_EQ(PortForRow(row), row + 4);
        EXPECT_EQ(RowForPort(PortForRow(row)), row);
        EXPECT_EQ(RowForBlinkTimer(BlinkTimerId(row)), row);
    }
    EXPECT_EQ(RowForPort(4), 0);
    EXPECT_EQ(RowForPort(13), 0);
    EXPECT_EQ(RowForBlinkTimer(kClockTimerId), 0);
    EXPECT_EQ(RowForBlinkTimer(10), 0);
}

TEST(RowStatus, ReportOfPortSevenChangesRowThreeOnlyAndStopsItsBlinkTimer)
{
    for (int code : {status::kPass, status::kFail, status::kDownloadAborted, status::kIdentifyFormat}) {
        const Steps steps = OnStatus(7, code, "text");
        EXPECT_EQ(RowsOf(steps), std::vector<int>{3}) << "code " << code;
        EXPECT_EQ(Only<StopTimer>(steps), std::vector<StopTimer>{StopTimer{4}}) << "code " << code;
        EXPECT_TRUE(Only<StartDownload>(steps).empty());
    }
}

TEST(RowStatus, PortsOutsideTheStationChangeNothing)
{
    for (int port : {4, 13, 0, -1}) {
        EXPECT_TRUE(OnStatus(port, status::kReadyForDownload, "").empty());
        EXPECT_TRUE(OnStatus(port, status::kPass, "PASS").empty());
        EXPECT_TRUE(OnProgress(port, 50, 5000, 10000).empty());
    }
}

TEST(RowStatus, ReadyForDownloadStartsTheDownloadBeforeShowingErase)
{
    const Steps steps = OnStatus(5, status::kReadyForDownload, "Download Reday End !");
    const Steps expected{StartDownload{1}, SetText{Field::Message, 1, "Erasing..."},
                         SetTextColor{Field::State, 1, colour::kNearBlack}, SetBkColor{Field::State, 1, colour::kGreen},
                         SetText{Field::State, 1, "ERASE"}};
    EXPECT_EQ(steps, expected);
}

TEST(RowStatus, InformationChangesOnlyTheMessageText)
{
    const Steps expected{SetText{Field::Message, 2, "Loading Monitor in data RAM..."}};
    EXPECT_EQ(OnStatus(6, status::kInformation, "Loading Monitor in data RAM..."), expected);
    // Also after COMPLETE: the row logic keeps no state of its own to look at.
    (void)OnStatus(6, status::kPass, "PASS - Checksum: [1234,1234]");
    EXPECT_EQ(OnStatus(6, status::kInformation, "Loading Monitor in data RAM..."), expected);
}

TEST(RowStatus, PassShowsTheTextNearBlackOnGreenAndComplete)
{
    const Steps expected{StopTimer{9},
                         SetBkColor{Field::Message, 8, colour::kGreen},
                         SetTextColor{Field::Message, 8, colour::kNearBlack},
                         SetText{Field::Message, 8, "PASS - Checksum: [0A0B,0A0B]"},
                         SetTextColor{Field::State, 8, colour::kNearBlack},
                         SetBkColor{Field::State, 8, colour::kGreen},
                         SetText{Field::State, 8, "COMPLETE"}};
    EXPECT_EQ(OnStatus(12, status::kPass, "PASS - Checksum: [0A0B,0A0B]"), expected);
}

TEST(RowStatus, AbortKeepsMessageColoursAndShowsErrorNearBlackOnRed)
{
    const Steps steps = OnStatus(8, status::kDownloadAborted, "Downloading Aborted !!!");
    const Steps expected{StopTimer{5}, SetText{Field::Message, 4, "Downloading Aborted !!!"},
                         SetTextColor{Field::State, 4, colour::kNearBlack}, SetBkColor{Field::State, 4, colour::kRed},
                         SetText{Field::State, 4, "ERROR"}};
    EXPECT_EQ(steps, expected);
    for (const auto& c : Only<SetTextColor>(steps))
        EXPECT_NE(c.field, Field::Message);
    for (const auto& c : Only<SetBkColor>(steps))
        EXPECT_NE(c.field, Field::Message);
}

TEST(RowProgress, ShowsPercentBarInThousandsAndRestartsTheBlinkTimer)
{
    const Steps expected{SetText{Field::Message, 3, "Downloading : 61 %"},
                         SetTextColor{Field::State, 3, colour::kNearBlack},
                         SetBkColor{Field::State, 3, colour::kGreen},
                         SetText{Field::State, 3, "DOWNLOAD"},
                         SetProgressRange{3, 0, 2000},
                         SetProgressPosition{3, 1234},
                         StartTimer{4, 800}};
    EXPECT_EQ(OnProgress(7, 61, 1234567, 2000000), expected);
}

TEST(RowProgress, ImageBelowOneThousandBytesGivesAnEmptyRange)
{
    const Steps steps = OnProgress(5, 50, 400, 999);
    EXPECT_EQ(Only<SetProgressRange>(steps), (std::vector<SetProgressRange>{SetProgressRange{1, 0, 0}}));
    EXPECT_EQ(Only<SetProgressPosition>(steps), (std::vector<SetProgressPosition>{SetProgressPosition{1, 0}}));
}

TEST(RowStart, OpenedAndFailedPortsShowTheirTexts)
{
    const Steps opened{SetTextColor{Field::State, 5, colour::kNearBlack}, SetBkColor{Field::State, 5, colour::kGreen},
                       SetText{Field::State, 5, "READY"}, SetBkColor{Field::Message, 5, colour::kNearBlack},
                       SetTextColor{Field::Message, 5, colour::kGreen}, SetText{Field::Message, 5, "INSERT TARGET"}};
    EXPECT_EQ(PortOpened(5), opened);
    // A failed open shows the failure's colours whatever the row showed before (a green
    // COMPLETE of the last run included).
    const Steps failed{StopTimer{6},
                       SetBkColor{Field::Message, 5, colour::kNearBlack},
                       SetTextColor{Field::Message, 5, colour::kRed},
                       SetText{Field::Message, 5, "Serial Port Open Failed..."},
                       SetTextColor{Field::State, 5, colour::kNearBlack},
                       SetBkColor{Field::State, 5, colour::kRed},
                       SetText{Field::State, 5, "ERROR"}};
    EXPECT_EQ(PortOpenFailed(5), failed);
    EXPECT_EQ(PortStarting(5), (Steps{SetProgressPosition{5, 0}}));
    EXPECT_TRUE(PortOpened(9).empty());
}

TEST(RowStart, InitialAppearanceClosesEveryRowAndStartsTheClock)
{
    const Steps steps = InitialAppearance();
    std::vector<SetText> closes;
    for (const SetText& t : Only<SetText>(steps)) {
        EXPECT_EQ(t.field, Field::State);
        EXPECT_EQ(t.text, "CLOSE");
        closes.push_back(t);
    }
    ASSERT_EQ(closes.size(), 8u);
    EXPECT_EQ(closes.front().row, 8);  // rows 8 down to 1
    EXPECT_EQ(closes.back().row, 1);
    EXPECT_EQ(Only<StartTimer>(steps), (std::vector<StartTimer>{StartTimer{1, 100}}));
    const auto bold = Only<SetFontBold>(steps);
    ASSERT_EQ(bold.size(), 1u);
    EXPECT_EQ(bold[0].field, Field::PathLine);
    for (const SetFontSize& size : Only<SetFontSize>(steps))
        EXPECT_EQ(size.size, size.field == Field::Message ? 12 : 14) << size;
}

TEST(RowBlink, AlternatesAndCarriesThePhaseOver)
{
    const std::tm now{};
    // Rows 1 and 2 blink in their own colours; each row keeps its own phase.
    for (int row : {1, 2}) {
        const int start = BlinkPhase(row);
        const Steps first = OnTimer(BlinkTimerId(row), now);
        const Steps second = OnTimer(BlinkTimerId(row), now);
        const ColorRef bright = row == 1 ? colour::kYellow : colour::kWhite;
        const Steps toSilver{SetTextColor{Field::State, row, bright}, SetBkColor{Field::State, row, colour::kSilver}};
        const Steps toGreen{SetTextColor{Field::State, row, colour::kNearBlack},
                            SetBkColor{Field::State, row, colour::kGreen}};
        if (start == 0) {
            EXPECT_EQ(first, toSilver);
            EXPECT_EQ(second, toGreen);
        } else {
            EXPECT_EQ(first, toGreen);
            EXPECT_EQ(second, toSilver);
        }
        EXPECT_EQ(BlinkPhase(row), start);
    }
    // An odd number of ticks leaves the phase flipped for the row's next download.
    const int before = BlinkPhase(3);
    (void)OnTimer(BlinkTimerId(3), now);
    (void)OnStatus(7, status::kPass, "PASS");
    EXPECT_NE(BlinkPhase(3), before);
}

TEST(RowTimers, ClockFormatsTheLocalTimeAndOtherIdsDoNothing)
{
    std::tm now{};
    now.tm_year = 2003 - 1900;
    now.tm_mon = 4;
    now.tm_mday = 14;
    now.tm_hour = 9;
    now.tm_min = 31;
    now.tm_sec = 7;
    EXPECT_EQ(OnTimer(1, now), (Steps{SetText{Field::Clock, 0, "2003-05-14, 09:31:07"}}));
    EXPECT_TRUE(OnTimer(0, now).empty());
    EXPECT_TRUE(OnTimer(10, now).empty());
    EXPECT_TRUE(OnTimer(34, now).empty());
}

}  // namespace
}  // namespace tarvo::station
