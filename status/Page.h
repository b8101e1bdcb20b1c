// The status server's live page: its HTML, script and style sheet, built into the program so
// the page needs nothing from outside the station (no external script or font). The script
// fills every text with textContent, never with markup, so labels, paths and messages always
// show as text.
//
// Threading: constant data.
#pragma once

namespace tarvo::status {

extern const char* const kPageHtml;    // GET /
extern const char* const kPageScript;  // GET /app.js
extern const char* const kPageStyle;   // GET /style.css

}  // namespace tarvo::status
