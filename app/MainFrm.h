// CMainFrame: the main window around the station form. Fixed size (no sizing border, no
// maximize button), caption "Orvane Program Ver 1.3", menu, and a status bar whose first pane
// scrolls the support message (one step every 500 ms) while the last three show the keyboard
// lock states of the display (app/LockKeys.h). The status bar shows the view's passing
// messages for a while and keeps its standing problem (a row that cannot be armed, a profile
// that cannot be read) until the view clears it.
//
// Threading: a widget; GUI thread only.
#pragma once

#include <QBasicTimer>
#include <QMainWindow>
#include <array>
#include <string>

#include "app/LockKeys.h"
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
    const std::string& Marquee() const { return m_marquee; }

    // One marquee step: the first pane shows the marquee from the process-wide position on.
    void OnMarqueeTimer();
    // The process-wide marquee position.
    static std::size_t MarqueePosition();
    // The problem the status bar keeps showing; empty when none.
    const QString& StatusProblem() const { return m_problem; }

signals:
    void aboutRequested();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void CreateMenus();
    bool CreateStatusBar();
    void FitToForm();
    void ShowStatusMessage(const QString& text);
    void ShowStatusProblem(const QString& text);
    void UpdateLockPanes();

    CTarvoView* m_view = nullptr;
    QLabel* m_messagePane = nullptr;
    std::array<QLabel*, 3> m_lockPanes{};
    QAction* m_open = nullptr;
    QAction* m_exit = nullptr;
    QAction* m_about = nullptr;
    std::string m_marquee;
    QBasicTimer m_marqueeTimer;
    QString m_problem;
    CLockKeys m_lockKeys;
};

}  // namespace tarvo
