// Unit labels of the rows, without any window system: which row a scanned (or typed) label
// goes to, and which run uses it.
//
// A label is meant for the row the operator selected or, when none is selected, for the first
// armed row (a run in progress) whose run has no label yet. A label given to an armed row
// belongs to the run in progress (the handset in the socket); a label given to any other row,
// or to a row whose run has its label, waits for that row's next start, and the run in
// progress keeps its own. Either way exactly one run uses it: when that run ends (or is
// replaced by a new start) the label is spent, and the row needs a new one.
//
// Rows are 1 to 8. Threading: GUI thread only.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tarvo::station {

class UnitLabels {
public:
    static constexpr int kRows = 8;
    static constexpr std::size_t kMaxLength = 128;

    enum class State {
        None,     // no label
        Pending,  // waits for the row's next start
        Bound,    // belongs to the run in progress
        Spent,    // its run has ended; still shown until the row starts again
    };

    // The row a new label goes to: `selected` (1..8) when non-zero, else the first row that
    // is armed (armed[r - 1]) and whose run has no label. 0 when there is none.
    int Target(int selected, const std::array<bool, kRows>& armed) const;

    // Gives `label` to `row`: bound to its waiting run when `armed`, else pending for its next
    // start. A label the row held before (pending or bound) is replaced.
    void Attach(int row, std::string_view label, bool armed);
    // The row starts a new run: a pending label becomes that run's; any other label is spent
    // and dropped. Returns the new run's label (empty when none).
    std::string RunStarts(int row);
    // The row's run has ended: its label is spent.
    void RunEnded(int row);

    State StateOf(int row) const { return m_rows[row - 1].state; }
    // The label the row shows (empty for None): the pending one when there is one.
    const std::string& Label(int row) const { return m_rows[row - 1].label; }
    // The label of the run in progress (empty unless Bound).
    std::string RunLabel(int row) const;

    // A label as scanned or typed: surrounding white space and control characters removed.
    static std::string Clean(std::string_view typed);

private:
    struct Row {
        State state = State::None;
        std::string label;
        std::string run;  // the label of the run in progress (kept while a pending one shows)
    };
    std::array<Row, kRows> m_rows{};
};

}  // namespace tarvo::station
