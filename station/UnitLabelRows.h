// CUnitLabelRows: the unit labels of the window's rows as the operator sees and gives them.
// The choice of row and run is station/UnitLabels.h; this unit adds the window's side:
//   - a row is selected by a click on its port number or message field (shown highlighted and
//     bold); another click deselects it;
//   - a label typed or scanned (station/ScannerInput.h) goes to the selected row, or to the first
//     row with a run in progress and no unit yet. For a run in progress it is bound to that
//     run's record at once; otherwise it waits for the row's next run. Every outcome, and a
//     label that goes nowhere or is too long, is told in statusMessage. Giving a label ends the
//     selection;
//   - the row's progress bar shows its label as literal text (a label's own "%p" is no progress
//     figure), marked "next:" while it waits for the next run behind a run in progress, with a
//     tooltip saying which run it belongs to.
//
// Threading: GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <string>

#include "station/RowLogic.h"
#include "station/UnitLabels.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace tarvo {

class CUnitLabelRows : public QObject {
    Q_OBJECT
public:
    // What the labels need of the window's rows (1..8).
    struct Rows {
        std::function<bool(int row)> runInProgress;
        // Makes `label` the unit of the record of the run in progress on `row`.
        std::function<void(int row, const std::string& label)> bindToRun;
    };

    // `view` gives the colours of a selected row.
    CUnitLabelRows(QWidget* view, Rows rows);

    // The widgets of `row` that show its selection and its label.
    void SetFields(int row, QLabel* portField, QProgressBar* bar);

    // Selects `row` (1..8), or none for 0 or a row out of range.
    void Select(int row);
    // Selects `row`, or deselects it when it is selected already (a click on it).
    void Toggle(int row) { Select(m_selected == row ? 0 : row); }
    int Selected() const { return m_selected; }
    // A label as typed or scanned (without the Enter): given to its row. False, with a
    // statusMessage, when it goes nowhere.
    bool Take(const QString& typed);
    // Shows `row`'s label on its progress bar (again: after a change of language).
    void Show(int row);

    // A run starts on `row`: returns its label (empty when none).
    std::string RunStarts(int row) { return m_labels.RunStarts(row); }
    // The run on `row` has ended (or is replaced): its label is spent. Show() it afterwards.
    void RunEnded(int row) { m_labels.RunEnded(row); }
    const station::UnitLabels& Labels() const { return m_labels; }

signals:
    void statusMessage(const QString& text);

private:
    QWidget* m_view;
    Rows m_rows;
    station::UnitLabels m_labels;
    int m_selected = 0;
    std::array<QLabel*, station::kRows> m_portFields{};
    std::array<QProgressBar*, station::kRows> m_bars{};
};

}  // namespace tarvo
