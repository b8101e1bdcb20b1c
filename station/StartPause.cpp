#include "station/StartPause.h"

#include <QTimerEvent>
#include <algorithm>
#include <utility>

namespace tarvo {

CStartPause::CStartPause(std::chrono::milliseconds pause, std::function<void(int row)> open)
    : m_pause(pause), m_open(std::move(open))
{
}

void CStartPause::Open(int row)
{
    if (!m_timer.isActive() && m_queue.empty()) {
        m_open(row);
        return;
    }
    if (std::find(m_queue.begin(), m_queue.end(), row) == m_queue.end())
        m_queue.push_back(row);
}

void CStartPause::Started()
{
    if (m_pause.count() > 0)
        m_timer.start(static_cast<int>(m_pause.count()), Qt::PreciseTimer, this);
}

void CStartPause::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    m_timer.stop();
    // Each opened row starts the next pause, which holds the rest back.
    while (!m_queue.empty() && !m_timer.isActive()) {
        const int row = m_queue.front();
        m_queue.pop_front();
        m_open(row);
    }
}

}  // namespace tarvo
