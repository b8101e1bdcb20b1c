#include "tools/sim/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
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
    pty->m_openWatch.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!pty->m_openWatch.Valid() || ::inotify_add_watch(pty->m_openWatch.Get(), name, IN_OPEN) < 0) {
        error = "cannot watch " + pty->m_slavePath + " for a station: " + Errno(errno);
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
    if (!m_master.Valid())
        return;
    UniqueFd peer(::ioctl(m_master.Get(), TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (peer.Valid())
        ::ioctl(peer.Get(), TIOCNXCL);
}

void PseudoTerminal::DrainOpenWatch()
{
    alignas(inotify_event) char buffer[4096];
    while (m_openWatch.Valid() && ::read(m_openWatch.Get(), buffer, sizeof buffer) > 0) {
    }
}

std::size_t PseudoTerminal::UnreadBySlave() const
{
    if (!m_master.Valid())
        return 0;
    UniqueFd peer(::ioctl(m_master.Get(), TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    int pending = 0;
    if (!peer.Valid() || ::ioctl(peer.Get(), FIONREAD, &pending) != 0)
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
    m_openWatch.Reset();
    m_master.Reset();
}

}  // namespace tarvo::sim
