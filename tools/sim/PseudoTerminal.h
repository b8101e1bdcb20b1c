// A pseudo-terminal pair for the simulated handset: the simulator holds the master, the
// station opens the slave by its path (or by an optional symbolic link to it).
//
// The slave stays in its default (cooked) mode: raw mode is the station's job, and a station
// that does not set it fails visibly.
//
// Linux details this class takes care of:
// - A master whose slave has no open descriptor reports POLLHUP and read() fails with EIO,
//   at once and for as long as no station has the device open. The class keeps a slave
//   descriptor of its own open (never read), so the master sees neither between station
//   sessions and the simulator can wait in poll() without spinning. The line settings the
//   station makes live in the pseudo-terminal and are unaffected by this descriptor.
// - The exclusive-use flag a station sets with TIOCEXCL lives as long as the master, not
//   just until the station closes as on a real port, and would refuse the next session's open
//   (for a user without CAP_SYS_ADMIN). ClearExclusive() drops it; stations that lock the
//   device with flock() still keep each other out.
//
// Threading: create, use and destroy on one thread (the simulator's), except the accessors
// of the paths, which never change after Open.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "tools/sim/UniqueFd.h"

namespace tarvo::sim {

class PseudoTerminal {
public:
    // Opens a new pair; with a non-empty `linkPath` also creates a symbolic link there to the
    // slave (an existing symbolic link is replaced; any other file is left alone and is an
    // error). Null with `error` naming the device or link and the reason.
    static std::unique_ptr<PseudoTerminal> Open(const std::string& linkPath,
                                                std::string& error);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The master: non-blocking, close-on-exec, -1 after HangUp.
    int MasterFd() const { return m_master.Get(); }
    const std::string& SlavePath() const { return m_slavePath; }
    const std::string& LinkPath() const { return m_linkPath; }

    // Drops an exclusive-use flag the station set on the slave.
    void ClearExclusive();
    // Bytes written to the master that the station has not read yet (raw mode; 0 after
    // HangUp).
    std::size_t UnreadBySlave() const;
    // The device disappears: the link is removed and both descriptors are closed, so the
    // station's descriptor reports a hang-up and the slave path vanishes. Idempotent.
    void HangUp();

private:
    PseudoTerminal() = default;
    void RemoveLink();

    UniqueFd m_master;
    UniqueFd m_slaveKeeper;
    std::string m_slavePath;
    std::string m_linkPath;
    bool m_linkOwned = false;
};

}  // namespace tarvo::sim
