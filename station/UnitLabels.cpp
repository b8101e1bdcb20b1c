#include "station/UnitLabels.h"

namespace tarvo::station {

int UnitLabels::Target(int selected, const std::array<bool, kRows>& armed) const
{
    if (selected >= 1 && selected <= kRows)
        return selected;
    for (int r = 1; r <= kRows; ++r) {
        if (armed[r - 1] && m_rows[r - 1].run.empty())
            return r;
    }
    return 0;
}

void UnitLabels::Attach(int row, std::string_view label, bool armed)
{
    Row& r = m_rows[row - 1];
    r.label.assign(label);
    r.state = label.empty() ? State::None : armed ? State::Bound : State::Pending;
    // A label for the next run leaves the run in progress its own.
    if (armed)
        r.run.assign(label);
}

std::string UnitLabels::RunStarts(int row)
{
    Row& r = m_rows[row - 1];
    if (r.state == State::Pending) {
        r.state = State::Bound;
        r.run = r.label;
        return r.label;
    }
    r.state = State::None;
    r.label.clear();
    r.run.clear();
    return {};
}

void UnitLabels::RunEnded(int row)
{
    Row& r = m_rows[row - 1];
    r.run.clear();
    if (r.state == State::Bound)
        r.state = State::Spent;
}

std::string UnitLabels::RunLabel(int row) const
{
    return m_rows[row - 1].run;
}

std::string UnitLabels::Clean(std::string_view typed)
{
    std::string out;
    out.reserve(typed.size());
    for (const char c : typed) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            continue;
        out.push_back(c);
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = out.find_last_not_of(' ');
    return out.substr(first, last - first + 1);
}

}  // namespace tarvo::station
