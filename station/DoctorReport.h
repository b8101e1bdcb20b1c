// The preflight report in the station window: the checks of tarvo-cli doctor (doctor/Doctor.h)
// for the devices of the enabled rows and for the station's files (monitor files, the image in
// use), to be read at a glance: one line per port and one for the station's files, the ports
// with problems first and their worst problem first, each problem in red with its fix in full
// (the text wraps at the window's edge, never cut). The checks that passed are folded into
// their port's line unless "Show passed checks" is ticked. "Check again" runs the checks anew
// (after the engineer replugged or mended something).
//
// Everything is in the window's language: the dialog's texts through tr(), the checks' names,
// details and fixes through their forms in the context "Doctor" (doctor/Doctor.h), filled
// with the names and numbers found.
//
// Threading: GUI thread. The checks read small files and open each device briefly; they take
// milliseconds.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "doctor/Doctor.h"

class QCheckBox;
class QLabel;
class QTextBrowser;

namespace tarvo {

// The checks of every enabled row's device (as the profile holds them now) and of the station's
// files: the monitor files in `monitorDir` (empty: the working directory) and `imagePath`.
std::vector<doctor::Finding> RunStationChecks(const std::string& monitorDir, const std::string& imagePath);

// What is wrong with the device of COM `port`, as one line "detail: hint" in the window's
// language; empty when the checks find nothing. Shown beside a failed open.
QString DeviceProblem(int port, const std::string& device);

// A detail or fix in the window's language.
QString TranslatedText(const doctor::Text& text);

class CDoctorReport : public QDialog {
    Q_OBJECT
public:
    using Checks = std::function<std::vector<doctor::Finding>()>;

    explicit CDoctorReport(Checks checks, QWidget* parent = nullptr);

    // Runs the checks and shows them.
    void Refresh();
    QTextBrowser* Report() const { return m_report; }
    QLabel* Verdict() const { return m_verdict; }
    QCheckBox* ShowPassed() const { return m_showPassed; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void Show();
    void SetTexts();

    Checks m_checks;
    std::vector<doctor::Finding> m_findings;
    QLabel* m_verdict = nullptr;
    QCheckBox* m_showPassed = nullptr;
    QTextBrowser* m_report = nullptr;
    class QPushButton* m_again = nullptr;
};

}  // namespace tarvo
