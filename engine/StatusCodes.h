// Status codes of the port engine's reports and the view's meaning of each.
//
// Code 1 is a text to show, 0 asks the receiver to start the download, 20 is success and
// every other code is an error that ends the port's run.
#pragma once

namespace tarvo::status {

inline constexpr int kReadyForDownload = 0;     // "Download Reday End !"
inline constexpr int kInformation = 1;          // information and result-code texts
inline constexpr int kRunAddressMissing = 2;    // "Run Address not received !" (run command)
inline constexpr int kIdentifyFormat = 11;      // "Error in the format of confirmation ! (CW=%d)"
inline constexpr int kIdentifyCommandWord = 12; // "Bad command word ! (CW=%d)"
inline constexpr int kLoadAborted = 13;         // "Application loading aborted."
inline constexpr int kFileNotFound = 14;        // "File Not Found Error '%s'"
inline constexpr int kPortLost = 15;            // "Serial Port Lost..."
inline constexpr int kPass = 20;                // "PASS - Checksum: [%04X,%04X]"
inline constexpr int kFail = 21;                // "FAIL - Checksum: [%04X,%04X]"
inline constexpr int kVerifyNoAnswer = 22;      // "No answer from the target ! (CW=%d)"
inline constexpr int kVerifyFormat = 23;        // "Error in confirmation format ! (CW=%d)"
inline constexpr int kVerifyCommandWord = 24;   // "Bad command word ! (CW=%d)"
inline constexpr int kResultCode = 25;          // result-code text (erase refused, final R != 0)
inline constexpr int kDownloadAborted = 41;     // "Downloading Aborted !!!"

// True for every code after which the port's run has ended with an error.
constexpr bool IsError(int code) { return code != kReadyForDownload && code != kInformation && code != kPass; }

}  // namespace tarvo::status
