// Keyboard lock states for the status bar's CAP / NUM / SCRL panes, read from the keyboard
// LEDs the kernel exposes (/sys/class/leds/<input>::capslock etc.). The window system keeps
// those LEDs in step with the lock keys; a machine without such LEDs reports every lock off.
#pragma once

#include <string>

namespace tarvo {

enum class LockKey { Caps, Num, Scroll };

// True when any keyboard under `ledRoot` shows the LED of `key` lit.
bool IsLockOn(LockKey key, const std::string& ledRoot = "/sys/class/leds");

}  // namespace tarvo
