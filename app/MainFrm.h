// CMainFrame: the main window around the station form. Fixed size (no sizing border, no
// maximize button), caption "Orvane Program Ver 1.3", menu, and a status bar whose first pane
// scrolls the support message (one step every 500 ms) while the last three show the keyboard
// lock states.
//
// Threading: a widget; GUI thread only.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <string>

#include "station/TarvoView.h"

class QAction;
class QLabel;

namespace tarvo {

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMarqueeTimerId = 34;
    static constexpr int kMarqueePeriodMs = 500;

    explicit CMainFrame(ViewOptions options = {}, QWidget* parent = nullptr);

    CTarvoView* View() const { return m_view; }
    QLabel* MessagePane() const { return m_messagePane; }
    // Panes 3 to 5: CAP, NUM, SCRL.
    QLabel* LockPane(int index) const { return m_lockPanes[index]; }
    QAction* OpenAction() const { return m_open; }
    QAction* ExitAction() const { return m_exit; }
    QAction* AboutAction() const { return m_about; }
    // The production record: the menu item that opens its view, the status bar's totals and
    // its red warning while the record cannot be written.
    QAction* RecordAction() const { return m_recordAction; }
    QLabel* RecordTotalsPane() const { return m_recordTotals; }
    QLabel* RecordWarningPane() const { return m_recordWarning; }
    // Opens the production record view (modeless; one at a time).
    void ShowProductionRecord();
    const std::string& Marquee() const { return m_marquee; }

    // One marquee step: the first pane shows the marquee from the process-wide position on.
    void OnMarqueeTimer();
    // The process-wide marquee position.
    static std::size_t MarqueePosition();

signals:
    void aboutRequested();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void CreateMenus();
    bool CreateStatusBar();
    void FitToForm();
    void ShowStatusMessage(const QString& text);
    void UpdateLockPanes();
    void CreateRecordParts();
    void ShowRecordProblem(const QString& problem);

    CTarvoView* m_view = nullptr;
    QLabel* m_messagePane = nullptr;
    std::array<QLabel*, 3> m_lockPanes{};
    QAction* m_open = nullptr;
    QAction* m_exit = nullptr;
    QAction* m_about = nullptr;
    QAction* m_recordAction = nullptr;
    QLabel* m_recordTotals = nullptr;
    QLabel* m_recordWarning = nullptr;
    QPointer<QDialog> m_recordDialog;
    std::string m_marquee;
    QBasicTimer m_marqueeTimer;
};

}  // namespace tarvo
