// The station's string table: every fixed text of the shell (application title, status bar,
// menu, about box, marquee) in one place. The form texts live with their layouts in Forms.h.
//
// Texts are UTF-8; the Korean ones need a font with Hangul glyphs (NanumGothic).
//
// The texts the window shows are marked with their translation context (QT_TRANSLATE_NOOP
// only marks them for the translation tools; the value stays the plain text): they are shown
// through tarvo::Tr(context, text), which gives the text itself when no language is chosen.
#pragma once

#include "resources/Translate.h"

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
inline constexpr char kIdleMessage[] = QT_TRANSLATE_NOOP("StatusBar", "READY");
// Identifier and initial text of the first pane; its width is the width of this text.
inline constexpr char kStatusIdentifier[] =
    QT_TRANSLATE_NOOP("StatusBar", "This is Orvane program for production and GSM Developers. Support: +00 0000 0000");
inline constexpr char kCaps[] = QT_TRANSLATE_NOOP("StatusBar", "CAP");
inline constexpr char kNum[] = QT_TRANSLATE_NOOP("StatusBar", "NUM");
inline constexpr char kScrl[] = QT_TRANSLATE_NOOP("StatusBar", "SCRL");
inline constexpr char kStatusBarFailed[] = "Failed to create status bar\n";

// The support message that scrolls through the first pane (ends with a space).
inline constexpr char kMarqueeMessage[] =
    QT_TRANSLATE_NOOP("StatusBar", "When you have troubles, call us. Thank You. Kelvor(+00 0000 0000) !!! ");

// Main frame.
inline constexpr char kFrameCaption[] = QT_TRANSLATE_NOOP("MainFrame", "Orvane Program Ver 1.3");
inline constexpr int kFrameInitialWidth = 1020;
inline constexpr int kFrameInitialHeight = 765;

// Menu. The tab part of an item is the shortcut text shown in the menu.
inline constexpr char kMenuFile[] = QT_TRANSLATE_NOOP("Menu", "File(&F)");
inline constexpr char kMenuOpen[] = QT_TRANSLATE_NOOP("Menu", "Main S/W Open(&O)...\tCtrl+O");
inline constexpr char kMenuExit[] = QT_TRANSLATE_NOOP("Menu", "Exit(&X)");
inline constexpr char kMenuHelp[] = QT_TRANSLATE_NOOP("Menu", "Help(&H)");
inline constexpr char kMenuAbout[] = QT_TRANSLATE_NOOP("Menu", "Tarvo Infomation(&A)...");
// Prompt (status bar) and tooltip of a command, separated by a line feed.
inline constexpr char kOpenPrompt[] = QT_TRANSLATE_NOOP("Menu", "Open Main Software\nOpen");
inline constexpr char kExitPrompt[] = QT_TRANSLATE_NOOP("Menu", "Exit the Program\nExit");
inline constexpr char kAboutPrompt[] = QT_TRANSLATE_NOOP("Menu", "프로그램 정보, 버전 및 저작권을 표시합니다.\n정보");

// About box.
inline constexpr char kAboutCaption[] = QT_TRANSLATE_NOOP("AboutBox", "Tarvo 정보");
inline constexpr char kAboutVersion[] = QT_TRANSLATE_NOOP("AboutBox", "Tarvo 버전 1.3");
inline constexpr char kAboutSecondLine[] = QT_TRANSLATE_NOOP("AboutBox", "8포트 생산용 다운로드 스테이션");
inline constexpr char kAboutOk[] = QT_TRANSLATE_NOOP("AboutBox", "확인");

// Main software file selection.
inline constexpr char kMainSoftwareFilter[] = QT_TRANSLATE_NOOP("Station", "All Files (*.m0)");
inline constexpr char kMainSoftwareSuffix[] = "m0";
inline constexpr char kConvertFailed[] = QT_TRANSLATE_NOOP("Station", "Main software not converted: ");

// Port selection dialog: the device column added beside the eight boxes.
inline constexpr char kDeviceDefault[] = QT_TRANSLATE_NOOP("PortDialog", "default %1");
inline constexpr char kDeviceTip[] = QT_TRANSLATE_NOOP("PortDialog", "Serial device of COM%1 (row %2). Empty: %3");

// Settings menu (beside File and Help): language, sound, engineer PIN.
inline constexpr char kMenuSettings[] = QT_TRANSLATE_NOOP("Menu", "Settings(&S)");
inline constexpr char kMenuLanguage[] = QT_TRANSLATE_NOOP("Menu", "Language(&L)");
inline constexpr char kMenuFormTexts[] = QT_TRANSLATE_NOOP("Menu", "Form texts (default)");
inline constexpr char kLanguagePrompt[] = QT_TRANSLATE_NOOP("Menu", "Show the window in another language\nLanguage");
inline constexpr char kMenuSound[] = QT_TRANSLATE_NOOP("Menu", "Sound on results(&U)");
inline constexpr char kSoundPrompt[] =
    QT_TRANSLATE_NOOP("Menu", "A short sound when a row ends: one for PASS, another for FAIL or ERROR\nSound");
inline constexpr char kMenuStation[] = QT_TRANSLATE_NOOP("Menu", "Station(&T)");
inline constexpr char kMenuContinuous[] = QT_TRANSLATE_NOOP("Menu", "Continuous(&C)");
inline constexpr char kContinuousPrompt[] = QT_TRANSLATE_NOOP(
    "Menu", "Every enabled row flashes each new handset on its own: it waits for its device, runs, and re-arms when the device has gone and come back\nContinuous runs");
inline constexpr char kMenuPreflight[] = QT_TRANSLATE_NOOP("Menu", "Preflight check(&K)...");
inline constexpr char kPreflightPrompt[] = QT_TRANSLATE_NOOP(
    "Menu", "Check the rows' devices and the station's files, with a fix for every problem\nPreflight check");
inline constexpr char kMenuEngineerPin[] = QT_TRANSLATE_NOOP("Menu", "Engineer PIN(&P)...");
inline constexpr char kEngineerPinPrompt[] =
    QT_TRANSLATE_NOOP("Menu", "Set, change or remove the PIN that guards the station's settings\nEngineer PIN");

// Engineer PIN prompt and the dialog that sets the PIN.
inline constexpr char kPinCaption[] = QT_TRANSLATE_NOOP("EngineerPin", "ENGINEER PIN");
inline constexpr char kPinAsk[] = QT_TRANSLATE_NOOP("EngineerPin", "Engineer PIN for %1:");
inline constexpr char kPinWrong[] = QT_TRANSLATE_NOOP("EngineerPin", "Wrong PIN. Attempts left: %1.");
inline constexpr char kPinLockedOut[] =
    QT_TRANSLATE_NOOP("EngineerPin", "Too many wrong PINs: locked for %1 s.");
inline constexpr char kPinOk[] = QT_TRANSLATE_NOOP("EngineerPin", "OK");
inline constexpr char kPinCancel[] = QT_TRANSLATE_NOOP("EngineerPin", "CANCEL");
inline constexpr char kPinNew[] =
    QT_TRANSLATE_NOOP("EngineerPin", "New PIN (%1 to %2 characters; empty removes the PIN):");
inline constexpr char kPinRepeat[] = QT_TRANSLATE_NOOP("EngineerPin", "Repeat the new PIN:");
inline constexpr char kPinMismatch[] = QT_TRANSLATE_NOOP("EngineerPin", "The two PINs differ.");
inline constexpr char kPinLength[] = QT_TRANSLATE_NOOP("EngineerPin", "A PIN has %1 to %2 digits.");
inline constexpr char kPinSet[] = QT_TRANSLATE_NOOP(
    "EngineerPin", "Engineer PIN set: COMPORT SETTING, FILE OPEN, continuous mode and the sound setting ask for it.");
inline constexpr char kPinRemoved[] = QT_TRANSLATE_NOOP("EngineerPin", "Engineer PIN removed.");
inline constexpr char kPinNotStored[] = QT_TRANSLATE_NOOP("EngineerPin", "Engineer PIN not stored: %1");
// What a prompt is for (the %1 of kPinAsk).
inline constexpr char kGuardPortSetting[] = QT_TRANSLATE_NOOP("EngineerPin", "COMPORT SETTING");
inline constexpr char kGuardFileOpen[] = QT_TRANSLATE_NOOP("EngineerPin", "FILE OPEN");
inline constexpr char kGuardSound[] = QT_TRANSLATE_NOOP("EngineerPin", "the sound setting");
inline constexpr char kGuardContinuous[] = QT_TRANSLATE_NOOP("EngineerPin", "continuous mode");
inline constexpr char kGuardPin[] = QT_TRANSLATE_NOOP("EngineerPin", "changing the PIN");

// Unit labels typed by a barcode scanner (or by hand) into the window.
inline constexpr char kUnitTyping[] = QT_TRANSLATE_NOOP("UnitLabel", "Unit label: %1");
inline constexpr char kUnitAttached[] = QT_TRANSLATE_NOOP("UnitLabel", "Unit label %1 for row %2.");
inline constexpr char kUnitNoRow[] =
    QT_TRANSLATE_NOOP("UnitLabel", "Unit label %1 not used: no armed row without a label. Select a row first.");
inline constexpr char kUnitTooLong[] =
    QT_TRANSLATE_NOOP("UnitLabel", "Unit label not used: longer than %1 characters.");
inline constexpr char kUnitTip[] = QT_TRANSLATE_NOOP("UnitLabel", "Unit label of row %1: %2");

}  // namespace tarvo::strings
