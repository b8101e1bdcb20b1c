// The report gate: lets a port engine's worker deliver a report to the GUI thread and wait
// until the view has handled it, without ever deadlocking against the destruction of that
// engine.
//
// Use:
//   GUI thread:    ticket = Register(engine) after creating an engine;
//                  Release(engine) before destroying it (the engine's destructor also calls
//                  the sink's ReleaseEngine, which does the same), Forget(engine) afterwards.
//   worker thread: pass = Enter(engine); if (!pass) drop the report (the engine is going);
//                  post a handler to the GUI thread that ends with Finish(pass); Wait(pass).
//   GUI thread:    the handler checks that pass->ticket is still the row's current engine.
//
// Wait returns when the handler finished or when the engine was released, whichever is first.
// Tickets never repeat, so a handler that runs after its engine was replaced (perhaps by a new
// engine at the same address) sees a stale ticket and drops the report.
//
// Threading: every operation may be called from any thread; one mutex guards the state.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tarvo::station {

class ReportGate {
public:
    using Ticket = std::uint64_t;
    static constexpr Ticket kNoTicket = 0;

    struct Pass {
        Ticket ticket = kNoTicket;
        bool finished = false;  // guarded by the gate's mutex
        bool released = false;
    };
    using PassPtr = std::shared_ptr<Pass>;

    // A fresh ticket for `engine` (replacing any earlier registration of that address).
    Ticket Register(const void* engine);
    // From now on reports of `engine` are dropped and waits on it end. Idempotent.
    void Release(const void* engine);
    // Drops the registration (after the engine is gone).
    void Forget(const void* engine);

    // A pass for one report; null when `engine` is released or unknown.
    PassPtr Enter(const void* engine);
    // The ticket of a registered engine that is not released; kNoTicket otherwise. Never waits.
    Ticket TicketOf(const void* engine) const;
    // Blocks until Finish(pass) or Release of the pass's engine.
    void Wait(const PassPtr& pass);
    // Marks the report handled and wakes its worker.
    void Finish(const PassPtr& pass);

    // True while `ticket` belongs to a registered engine that is not released.
    bool IsLive(Ticket ticket) const;
    // Reports currently waiting (tests).
    std::size_t Waiting() const;

private:
    struct Entry {
        Ticket ticket = kNoTicket;
        bool released = false;
        std::vector<PassPtr> pending;
    };

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::unordered_map<const void*, Entry> m_entries;
    Ticket m_nextTicket = 1;
};

}  // namespace tarvo::station
