// A pseudo-terminal pair for the simulated handset: the simulator holds the master, the
// station opens the slave by its path (or by an optional symbolic link to it).
//
// The slave stays in its default (cooked) mode: raw mode is the station's job, and a station
// that does not set it fails visibly.
//
// The simulator holds no descriptor of the station's side (a real handset holds none of the
// station's serial device either), so a station that looks for other holders of its device
// finds none. Linux details this class takes care of:
// - Once a station has opened and closed the device, the master reports POLLHUP and read()
//   fails with EIO for as long as no station has it open. OpenWatchFd() is an inotify
//   descriptor that becomes readable when the slave is opened, so the simulator waits on it
//   between station sessions instead of polling the master.
// - The exclusive-use flag a station sets with TIOCEXCL lives as long as the master, not
//   just until the station closes as on a real port. A station clears it when it closes (the
//   station's channel does); ClearExclusive() drops it after a station that did not, but only
//   for a privileged user: one that dies without closing leaves the device refused to the next
//   non-root session until the simulator restarts.
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

    // Drops the exclusive-use flag a station that has gone set on the slave (through a slave
    // descriptor opened for a moment from the master; only works for a privileged user, others
    // are refused by the flag itself).
    void ClearExclusive();
    // Readable (inotify) whenever the slave was opened since the last DrainOpenWatch().
    int OpenWatchFd() const { return m_openWatch.Get(); }
    void DrainOpenWatch();
    // Bytes written to the master that the station has not read yet (raw mode; 0 after
    // HangUp, and 0 when the slave cannot be reached: it is looked at through a descriptor
    // opened for a moment from the master).
    std::size_t UnreadBySlave() const;
    // The device disappears: the link is removed and both descriptors are closed, so the
    // station's descriptor reports a hang-up and the slave path vanishes. Idempotent.
    void HangUp();

private:
    PseudoTerminal() = default;
    void RemoveLink();

    UniqueFd m_master;
    UniqueFd m_openWatch;
    std::string m_slavePath;
    std::string m_linkPath;
    bool m_linkOwned = false;
};

}  // namespace tarvo::sim
