#include "station/UnitLabelRows.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QWidget>
#include <utility>

#include "resources/Strings.h"
#include "resources/Translate.h"

namespace tarvo {
namespace {

constexpr char kUnitContext[] = "UnitLabel";

}  // namespace

CUnitLabelRows::CUnitLabelRows(QWidget* view, Rows rows) : m_view(view), m_rows(std::move(rows)) {}

void CUnitLabelRows::SetFields(int row, QLabel* portField, QProgressBar* bar)
{
    m_portFields[row - 1] = portField;
    m_bars[row - 1] = bar;
}

void CUnitLabelRows::Select(int r)
{
    if (r < 0 || r > station::kRows)
        r = 0;
    m_selected = r;
    for (int i = 1; i <= station::kRows; ++i) {
        QLabel* field = m_portFields[i - 1];
        const bool selected = i == r;
        field->setAutoFillBackground(selected);
        QPalette colours = m_view->palette();
        if (selected) {
            colours.setColor(QPalette::Window, colours.color(QPalette::Highlight));
            colours.setColor(QPalette::WindowText, colours.color(QPalette::HighlightedText));
        }
        field->setPalette(colours);
        QFont bold = field->font();
        bold.setBold(selected);
        field->setFont(bold);
    }
}

void CUnitLabelRows::Show(int r)
{
    QProgressBar* bar = m_bars[r - 1];
    const QString label = QString::fromStdString(m_labels.Label(r));
    // Literal text: a label's own "%p", "%v" or "%m" must not become a progress figure, so a
    // word joiner (invisible) separates such a "%" from its letter.
    QString format = label;
    static const QRegularExpression placeholder(QStringLiteral("%(?=[pvm])"));
    format.replace(placeholder, QStringLiteral("%\u2060"));
    // Which run the label belongs to: while a run is in progress, a label waiting for the row's
    // next run is marked so.
    const bool forNext = m_labels.StateOf(r) == station::UnitLabels::State::Pending && m_rows.runInProgress(r);
    if (forNext)
        format = QCoreApplication::translate("tarvo::CTarvoView", "next: %1").arg(format);
    bar->setFormat(format);
    bar->setTextVisible(!label.isEmpty());
    QString tip;
    if (!label.isEmpty()) {
        tip = Tr(kUnitContext, strings::kUnitTip).arg(r).arg(label);
        if (m_labels.StateOf(r) == station::UnitLabels::State::Pending)
            tip += QStringLiteral("\n") + QCoreApplication::translate("tarvo::CTarvoView", "For the row's next run");
        else if (m_labels.StateOf(r) == station::UnitLabels::State::Bound)
            tip += QStringLiteral("\n") + QCoreApplication::translate("tarvo::CTarvoView", "For the run in progress");
    }
    bar->setToolTip(tip);
}

bool CUnitLabelRows::Take(const QString& typed)
{
    const std::string label = station::UnitLabels::Clean(typed.toStdString());
    if (label.empty())
        return false;
    if (label.size() > station::UnitLabels::kMaxLength) {
        emit statusMessage(Tr(kUnitContext, strings::kUnitTooLong).arg(station::UnitLabels::kMaxLength));
        return false;
    }
    // Armed: a run in progress (waiting for its handset or already at work on it) that has no
    // unit yet; a label for it belongs to the handset in the socket. A run that has its unit
    // passes the label on to the row's next run.
    std::array<bool, station::kRows> armed{};
    for (int r = 1; r <= station::kRows; ++r)
        armed[r - 1] = m_rows.runInProgress(r) && m_labels.RunLabel(r).empty();
    const int r = m_labels.Target(m_selected, armed);
    const QString shown = QString::fromStdString(label);
    if (r == 0) {
        emit statusMessage(Tr(kUnitContext, strings::kUnitNoRow).arg(shown));
        return false;
    }
    m_labels.Attach(r, label, armed[r - 1]);
    if (armed[r - 1])
        m_rows.bindToRun(r, label);
    Show(r);
    Select(0);
    if (armed[r - 1] || !m_rows.runInProgress(r))
        emit statusMessage(Tr(kUnitContext, strings::kUnitAttached).arg(shown).arg(r));
    else
        emit statusMessage(QCoreApplication::translate("tarvo::CTarvoView", "Unit label %1 for the next run of row %2.")
                               .arg(shown)
                               .arg(r));
    return true;
}

}  // namespace tarvo
