// The fixed part of the station form, built from its layout table (resources/Forms.h) in
// dialog units of the form's font: the group boxes, texts and pictures, the clock, the path
// line and the four round buttons, each named by its control id (object name and the
// "controlId" property). The port rows are the view's own. The form's texts follow the
// language in force through RetranslateStationForm (context "StationForm").
//
// Threading: GUI thread only.
#pragma once

#include <array>
#include <utility>
#include <vector>

class QWidget;

namespace tarvo {

class CLabel;
class CRoundButton;

struct StationFormWidgets {
    CLabel* clock = nullptr;
    CLabel* pathLine = nullptr;
    // EXIT, COMPORT SETTING, OPEN/CLOSE ALL (created disabled; nothing enables it), FILE OPEN.
    std::array<CRoundButton*, 4> buttons{};
    // The widgets that show a text of the form, with the source of each.
    std::vector<std::pair<QWidget*, const char*>> texts;
};

// Fixes `view`'s size to the form's and creates the form's widgets as its children. The
// buttons are not connected.
StationFormWidgets BuildStationForm(QWidget* view);
// Sets the form's texts again in the language in force.
void RetranslateStationForm(const std::vector<std::pair<QWidget*, const char*>>& texts);

}  // namespace tarvo
