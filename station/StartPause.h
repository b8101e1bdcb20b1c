// CStartPause: the pause after a row's start, kept without holding the GUI thread. A row
// whose port is to open opens at once when no pause runs and no row waits; otherwise it waits
// its turn, in the order the rows came, and each waiting row opens when the pause before it
// ends. A row waits at most once in the queue.
//
// Threading: GUI thread only (its timer runs there).
#pragma once

#include <QBasicTimer>
#include <QObject>
#include <chrono>
#include <deque>
#include <functional>

namespace tarvo {

class CStartPause : public QObject {
    Q_OBJECT
public:
    // `open` opens and starts a row's port; it calls Started() when it did.
    CStartPause(std::chrono::milliseconds pause, std::function<void(int row)> open);

    // Opens `row` now, or after the pause that follows an earlier start.
    void Open(int row);
    // A port was started: the pause begins (none when it is 0).
    void Started();
    // Rows waiting for the pause to end.
    std::size_t Waiting() const { return m_queue.size(); }
    // Forgets the waiting rows (the window closes).
    void Clear() { m_queue.clear(); }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    std::chrono::milliseconds m_pause;
    std::function<void(int)> m_open;
    QBasicTimer m_timer;
    std::deque<int> m_queue;
};

}  // namespace tarvo
