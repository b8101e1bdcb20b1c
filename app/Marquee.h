// The marquee of the status bar: a support message repeated four times scrolls two characters
// to the left per step. The position starts over at half the text, where the third copy
// begins; its text is the same as at 0, so the jump cannot be seen.
#pragma once

#include <cstddef>
#include <string>

namespace tarvo {

// Four copies of `message`.
inline std::string MarqueeText(const std::string& message)
{
    std::string text = message;
    text += text;
    text += text;
    return text;
}

// One step over a marquee text of `length` characters: returns the index the pane shows
// from and advances `position` by two. The position restarts at 0 when it is not below
// length / 2 - 1.
inline std::size_t MarqueeStep(std::size_t& position, std::size_t length)
{
    const long long limit = static_cast<long long>(length / 2) - 1;
    if (static_cast<long long>(position) >= limit)
        position = 0;
    const std::size_t shown = position;
    position += 2;
    return shown;
}

}  // namespace tarvo
