// The station's forms in dialog units: the station form (101), the port selection dialog (134)
// and the about box (100). Widgets are placed from these tables; a dialog unit is a quarter
// of the form font's average character width horizontally and an eighth of its character
// height vertically (controls/DialogUnits.h). Item texts are shown through Tr() with the
// context "StationForm" (form 101) or "PortDialog" (form 134).
#pragma once

#include <array>

#include "resources/Translate.h"

namespace tarvo::forms {

enum class Kind { GroupBox, Text, Label, Progress, RoundButton, Picture, CheckBox, PushButton, Icon };

// One control of a form. `id` is the control id (-1 for controls nobody addresses).
struct Item {
    int id;
    Kind kind;
    const char* text;
    int x, y, cx, cy;
};

// --- station form 101 (457 x 338, 9-point form font) -------------------------------------
inline constexpr int kStationWidth = 457;
inline constexpr int kStationHeight = 338;
inline constexpr int kStationFontPoints = 9;

inline constexpr int kIdExit = 1001;
inline constexpr int kIdStatusGroup = 1003;
inline constexpr int kIdSetupGroup = 1004;
inline constexpr int kIdPathLine = 1005;
inline constexpr int kIdClock = 1028;
inline constexpr int kIdComPortSetting = 1044;
inline constexpr int kIdOpenCloseAll = 1045;
inline constexpr int kIdFileOpen = 1057;
inline constexpr int kIdBanner = 1040;
inline constexpr int kIdStationPicture = 1041;

// Controls of one port row (rows 1 to 8, top to bottom).
struct RowIds {
    int portField;
    int message;
    int state;
    int progress;
};
inline constexpr std::array<RowIds, 8> kRowIds{{
    {1011, 1020, 1048, 1017},
    {1012, 1021, 1050, 1029},
    {1013, 1022, 1051, 1030},
    {1014, 1023, 1052, 1031},
    {1015, 1024, 1053, 1032},
    {1016, 1025, 1054, 1033},
    {1018, 1026, 1055, 1034},
    {1019, 1027, 1056, 1035},
}};
inline constexpr std::array<int, 8> kRowY{48, 80, 113, 145, 177, 209, 241, 273};
inline constexpr int kRowHeight = 21;
// Columns of the rows: x and width.
inline constexpr int kPortFieldX = 14, kPortFieldWidth = 23;
inline constexpr int kMessageX = 41, kMessageWidth = 96;
inline constexpr int kStateX = 141, kStateWidth = 43;
inline constexpr int kProgressX = 189, kProgressWidth = 96;

// Everything of form 101 except the rows.
inline constexpr std::array<Item, 14> kStationForm{{
    {kIdStatusGroup, Kind::GroupBox, QT_TRANSLATE_NOOP("StationForm", "STATUS"), 7, 7, 285, 293},
    {1007, Kind::Text, QT_TRANSLATE_NOOP("StationForm", "PORT"), kPortFieldX, 18, kPortFieldWidth, 21},
    {1008, Kind::Text, QT_TRANSLATE_NOOP("StationForm", "MESSAGE"), kMessageX, 18, kMessageWidth, 21},
    {1047, Kind::Text, QT_TRANSLATE_NOOP("StationForm", "STATUS"), kStateX, 18, kStateWidth, 21},
    {1009, Kind::Text, QT_TRANSLATE_NOOP("StationForm", "PROGRESS"), kProgressX, 18, kProgressWidth, 21},
    {kIdBanner, Kind::Picture, "", 297, 7, 140, 25},
    {kIdStationPicture, Kind::Picture, "", 298, 41, 142, 66},
    {kIdSetupGroup, Kind::GroupBox, QT_TRANSLATE_NOOP("StationForm", "SETUP"), 297, 111, 142, 132},
    {kIdClock, Kind::Label, "", 309, 127, 112, 20},
    {kIdComPortSetting, Kind::RoundButton, QT_TRANSLATE_NOOP("StationForm", "COMPORT SETTING"), 309, 152, 112, 23},
    {kIdOpenCloseAll, Kind::RoundButton, QT_TRANSLATE_NOOP("StationForm", "COMPORT OPEN/CLOSE ALL"), 309, 179, 112, 23},
    {kIdFileOpen, Kind::RoundButton, QT_TRANSLATE_NOOP("StationForm", "FILE OPEN"), 309, 207, 112, 22},
    {kIdExit, Kind::RoundButton, QT_TRANSLATE_NOOP("StationForm", "EXIT"), 296, 259, 142, 40},
    {kIdPathLine, Kind::Label, "", 7, 306, 443, 24},
}};

// --- port selection dialog 134 (183 x 137, 10-point font) --------------------------------
inline constexpr int kPortDialogWidth = 183;
inline constexpr int kPortDialogHeight = 137;
inline constexpr int kPortDialogFontPoints = 10;
inline constexpr char kPortDialogCaption[] = QT_TRANSLATE_NOOP("PortDialog", "COM PORT SETTING");
inline constexpr int kIdPortGroup = 1050;
inline constexpr int kIdPortBox1 = 1051;  // "PORT N" is kIdPortBox1 + N - 1
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

inline constexpr std::array<Item, 11> kPortDialog{{
    {kIdPortGroup, Kind::GroupBox, QT_TRANSLATE_NOOP("PortDialog", "Com Port Setting"), 13, 7, 156, 97},
    {1051, Kind::CheckBox, QT_TRANSLATE_NOOP("PortDialog", "PORT 1"), 35, 28, 41, 10},
    {1052, Kind::CheckBox, QT_TRANSLATE_NOOP("PortDialog", "PORT 2"), 35, 45, 41, 10},
    {1053, Kind::CheckBox, QT_TRANSLATE_NOOP("PortDialog", "PORT 3"), 35, 61, 41, 10},
    {1054, Kind::CheckBox, QT_TRANSLATE_NOOP("PortDialog", "PORT 4"), 35, 78, 41, 10},
    {1055, Kind::CheckBox, QT_TRANSLATE_NOOP("PortDialog", "PORT 5"), 108, 28, 41, 10},
    {1056, Kind::CheckBox, QT_TRANSLATE_NOOP("PortDialog", "PORT 6"), 108, 45, 41, 10},
    {1057, Kind::CheckBox, QT_TRANSLATE_NOOP("PortDialog", "PORT 7"), 108, 62, 41, 10},
    {1058, Kind::CheckBox, QT_TRANSLATE_NOOP("PortDialog", "PORT 8"), 108, 78, 41, 10},
    {kIdOk, Kind::PushButton, QT_TRANSLATE_NOOP("PortDialog", "OK"), 30, 116, 50, 14},
    {kIdCancel, Kind::PushButton, QT_TRANSLATE_NOOP("PortDialog", "CANCEL"), 104, 116, 50, 14},
}};

// --- about box 100 (235 x 55, 9-point font) ------------------------------------------------
inline constexpr int kAboutWidth = 235;
inline constexpr int kAboutHeight = 55;
inline constexpr int kAboutFontPoints = 9;
inline constexpr std::array<Item, 4> kAboutBox{{
    {-1, Kind::Icon, "", 11, 17, 20, 20},
    {-1, Kind::Text, "", 40, 10, 119, 8},  // version line
    {-1, Kind::Text, "", 40, 25, 119, 8},  // second line
    {kIdOk, Kind::PushButton, "", 178, 7, 50, 14},
}};

}  // namespace tarvo::forms
