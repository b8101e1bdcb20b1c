#include "app/LockKeys.h"

#include <QGuiApplication>

#if TARVO_HAVE_XKB
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace tarvo {

CLockKeys::CLockKeys()
{
#if TARVO_HAVE_XKB
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display)
        return;
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event, &error, &major, &minor))
        return;
    const char* names[] = {"Caps Lock", "Num Lock", "Scroll Lock"};
    for (std::size_t i = 0; i < m_atoms.size(); ++i)
        m_atoms[i] = XInternAtom(display, names[i], True);  // None when no keymap names it
    m_display = display;
#endif
}

bool CLockKeys::IsOn(LockKey key) const
{
#if TARVO_HAVE_XKB
    const Atom atom = m_atoms[static_cast<std::size_t>(key)];
    if (!m_display || atom == None)
        return false;
    Bool on = False;
    if (!XkbGetNamedIndicator(static_cast<Display*>(m_display), atom, nullptr, &on, nullptr, nullptr))
        return false;
    return on == True;
#else
    (void)key;
    return false;
#endif
}

}  // namespace tarvo
