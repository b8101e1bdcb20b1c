// The preflight report in the station window: the checks of tarvo-cli doctor (doctor/Doctor.h)
// for the devices of the enabled rows and for the station's files (monitor files, the image in
// use), shown as a table with one line per check, failures in red with the hint that fixes
// them. "Check again" runs the checks anew (after the engineer replugged or mended something).
//
// The checks' details and hints are the tool's own English texts, like the engine's status
// texts; the dialog's own texts go through tr().
//
// Threading: GUI thread. The checks read small files and open each device briefly; they take
// milliseconds.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "doctor/Doctor.h"

class QLabel;
class QTreeWidget;

namespace tarvo {

// The checks of every enabled row's device (as the profile holds them now) and of the station's
// files: the monitor files in `monitorDir` (empty: the working directory) and `imagePath`.
std::vector<doctor::Finding> RunStationChecks(const std::string& monitorDir, const std::string& imagePath);

// What is wrong with the device of COM `port`, as one line "detail: hint"; empty when the
// checks find nothing. Shown beside a failed open.
QString DeviceProblem(int port, const std::string& device);

class CDoctorReport : public QDialog {
    Q_OBJECT
public:
    using Checks = std::function<std::vector<doctor::Finding>()>;

    explicit CDoctorReport(Checks checks, QWidget* parent = nullptr);

    // Runs the checks and fills the table.
    void Refresh();
    QTreeWidget* Table() const { return m_table; }
    QLabel* Verdict() const { return m_verdict; }

private:
    Checks m_checks;
    QTreeWidget* m_table = nullptr;
    QLabel* m_verdict = nullptr;
};

}  // namespace tarvo
