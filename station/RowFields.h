// One port row of the station form: the port number, the message field, the state field and
// the progress bar, with what the state and message fields show as given (before
// translation), so that a change of language shows them again in the new language. State
// words and the window's own messages are translated (context "Station"); an engine's text
// and a note are shown as they are.
//
// Threading: GUI thread only.
#pragma once

#include <QString>
#include <string>

#include "station/RowLogic.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace tarvo {

class CLabel;
class DialogUnits;

struct RowFields {
    QLabel* portField = nullptr;
    CLabel* message = nullptr;
    CLabel* state = nullptr;
    QProgressBar* progress = nullptr;
    // The state word; the message text, whether it is the window's own (translated) or shown
    // as it is, and the percent of a "Downloading" message (-1: none).
    std::string stateSource;
    std::string messageSource;
    bool messageOwn = false;
    int messagePercent = -1;

    // Creates the row's widgets on `view` at the place of `row` (1..8) in the form, named by
    // their control ids. The port number and the message field take clicks (SetNotify).
    void Build(QWidget* view, int row, const DialogUnits& du);
    // Shows a state word, translated.
    void ShowState(const std::string& word);
    // Shows a message: translated when `own` (with `percent` >= 0 for "Downloading : %1 %").
    void ShowMessage(const std::string& text, bool own, int percent);
    // Shows a note of the window in the message field in `colour`, with the tooltip `tip`.
    void ShowNote(const QString& text, station::ColorRef colour, const QString& tip);
    // Shows the state word and an own message again in the language in force.
    void Retranslate();

private:
    QString MessageText() const;
};

}  // namespace tarvo
