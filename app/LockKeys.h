// Keyboard lock states for the status bar's CAP / NUM / SCRL panes: the lock state of the
// display the window is on, as the operator's keyboard sets it there.
//
// On X11 the states are the XKB indicators "Caps Lock", "Num Lock" and "Scroll Lock" of the
// core keyboard, read through the X connection Qt uses (one small request per indicator; the
// indicator names are looked up once). Where no X11 display is in use (Wayland, the offscreen
// platform) or the display has no such indicator, the lock is reported off and the pane stays
// empty. The machine's keyboard LEDs are never consulted: they belong to the console, not to
// the display the operator works on.
//
// Threading: GUI thread only (the X connection is Qt's).
#pragma once

#include <array>

namespace tarvo {

enum class LockKey { Caps, Num, Scroll };

class CLockKeys {
public:
    // Looks up the indicator names on Qt's X11 display, if there is one.
    CLockKeys();

    // True when the display has an X11 keyboard whose indicators are read.
    bool Known() const { return m_display != nullptr; }
    // The lock state of `key` now; false when it is off or not known.
    bool IsOn(LockKey key) const;

private:
    void* m_display = nullptr;                   // Display* of Qt's X connection
    std::array<unsigned long, 3> m_atoms{};      // indicator name atoms, 0 when absent
};

}  // namespace tarvo
