// The station's string table: every fixed text of the shell (application title, status bar,
// menu, about box, marquee) in one place. The form texts live with their layouts in Forms.h.
//
// Texts are UTF-8; the Korean ones need a font with Hangul glyphs (NanumGothic).
#pragma once

namespace tarvo::strings {

// Command ids of the menu and the accelerators.
inline constexpr int kCmdFileNew = 57600;
inline constexpr int kCmdFileOpen = 57601;
inline constexpr int kCmdFileSave = 57603;
inline constexpr int kCmdAppAbout = 57664;
inline constexpr int kCmdAppExit = 57665;

// Application title; also the profile's application name.
inline constexpr char kAppTitle[] = "Tarvo";
// The profile's organisation name. With kAppTitle the profile is
// $XDG_CONFIG_HOME/Local AppWizard-Generated Applications/Tarvo.conf.
inline constexpr char kProfileCompany[] = "Local AppWizard-Generated Applications";
inline constexpr char kDocumentString[] = "Tarvo\n\nTarvo\n\n\nTarvo.Document\nTarvo Document";

// Status bar.
inline constexpr char kIdleMessage[] = "READY";
// Identifier and initial text of the first pane; its width is the width of this text.
inline constexpr char kStatusIdentifier[] =
    "This is Orvane program for production and GSM Developers. Support: +00 0000 0000";
inline constexpr char kCaps[] = "CAP";
inline constexpr char kNum[] = "NUM";
inline constexpr char kScrl[] = "SCRL";
inline constexpr char kStatusBarFailed[] = "Failed to create status bar\n";

// The support message that scrolls through the first pane (ends with a space).
inline constexpr char kMarqueeMessage[] =
    "When you have troubles, call us. Thank You. Kelvor(+00 0000 0000) !!! ";

// Main frame.
inline constexpr char kFrameCaption[] = "Orvane Program Ver 1.3";
inline constexpr int kFrameInitialWidth = 1020;
inline constexpr int kFrameInitialHeight = 765;

// Menu. The tab part of an item is the shortcut text shown in the menu.
inline constexpr char kMenuFile[] = "File(&F)";
inline constexpr char kMenuOpen[] = "Main S/W Open(&O)...\tCtrl+O";
inline constexpr char kMenuExit[] = "Exit(&X)";
inline constexpr char kMenuHelp[] = "Help(&H)";
inline constexpr char kMenuAbout[] = "Tarvo Infomation(&A)...";
// Prompt (status bar) and tooltip of a command, separated by a line feed.
inline constexpr char kOpenPrompt[] = "Open Main Software\nOpen";
inline constexpr char kExitPrompt[] = "Exit the Program\nExit";
inline constexpr char kAboutPrompt[] = "프로그램 정보, 버전 및 저작권을 표시합니다.\n정보";

// About box.
inline constexpr char kAboutCaption[] = "Tarvo 정보";
inline constexpr char kAboutVersion[] = "Tarvo 버전 1.3";
inline constexpr char kAboutSecondLine[] = "8포트 생산용 다운로드 스테이션";
inline constexpr char kAboutOk[] = "확인";

// Main software file selection.
inline constexpr char kMainSoftwareFilter[] = "All Files (*.m0)";
inline constexpr char kMainSoftwareSuffix[] = "m0";
inline constexpr char kConvertFailed[] = "Main software not converted: ";

// Port selection dialog: the device column added beside the eight boxes.
inline constexpr char kDeviceDefault[] = "default %1";
inline constexpr char kDeviceTip[] = "Serial device of COM%1 (row %2). Empty: %3";

}  // namespace tarvo::strings
