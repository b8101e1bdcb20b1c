#include "tools/sim/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvo::sim {

namespace {

std::string Errno(int err) { return std::strerror(err); }

std::string ReadLink(const std::string& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

std::unique_ptr<PseudoTerminal> PseudoTerminal::Open(const std::string& linkPath,
                                                     std::string& error)
{
    std::unique_ptr<PseudoTerminal> pty(new PseudoTerminal);
    pty->m_master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!pty->m_master.Valid()) {
        error = "cannot open a pseudo-terminal (/dev/ptmx): " + Errno(errno);
        return nullptr;
    }
    const int master = pty->m_master.Get();
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        error = "cannot unlock the pseudo-terminal: " + Errno(errno);
        return nullptr;
    }
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        error = "cannot name the pseudo-terminal's device: " + Errno(errno);
        return nullptr;
    }
    pty->m_slavePath = name;
    pty->m_slaveKeeper.Reset(
        ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!pty->m_slaveKeeper.Valid()) {
        error = "cannot open " + pty->m_slavePath + ": " + Errno(errno);
        return nullptr;
    }

    if (!linkPath.empty()) {
        struct stat st {};
        if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            error = "cannot create the link " + linkPath +
                    ": a file that is not a symbolic link is in the way";
            return nullptr;
        }
        // Made beside the link and renamed over it, so a stale link is replaced in one step.
        const std::string temporary = linkPath + ".tmp" + std::to_string(::getpid());
        ::unlink(temporary.c_str());
        if (::symlink(name, temporary.c_str()) != 0) {
            error = "cannot create the link " + linkPath + ": " + Errno(errno);
            return nullptr;
        }
        if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
            error = "cannot create the link " + linkPath + ": " + Errno(errno);
            ::unlink(temporary.c_str());
            return nullptr;
        }
        pty->m_linkPath = linkPath;
        pty->m_linkOwned = true;
    }
    return pty;
}

PseudoTerminal::~PseudoTerminal() { HangUp(); }

void PseudoTerminal::ClearExclusive()
{
    if (m_slaveKeeper.Valid())
        ::ioctl(m_slaveKeeper.Get(), TIOCNXCL);
}

std::size_t PseudoTerminal::UnreadBySlave() const
{
    int pending = 0;
    if (!m_slaveKeeper.Valid() || ::ioctl(m_slaveKeeper.Get(), FIONREAD, &pending) != 0)
        return 0;
    return pending > 0 ? static_cast<std::size_t>(pending) : 0;
}

void PseudoTerminal::RemoveLink()
{
    // Only our own link: another simulator may have taken the name over since.
    if (m_linkOwned && ReadLink(m_linkPath) == m_slavePath)
        ::unlink(m_linkPath.c_str());
    m_linkOwned = false;
}

void PseudoTerminal::HangUp()
{
    RemoveLink();
    m_slaveKeeper.Reset();
    m_master.Reset();
}

}  // namespace tarvo::sim
