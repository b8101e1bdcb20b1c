#include "app/LockKeys.h"

#include <filesystem>
#include <fstream>

namespace tarvo {

bool IsLockOn(LockKey key, const std::string& ledRoot)
{
    const char* suffix = key == LockKey::Caps ? "::capslock" : key == LockKey::Num ? "::numlock" : "::scrolllock";
    std::error_code error;
    std::filesystem::directory_iterator it(ledRoot, error);
    if (error)
        return false;
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (name.size() < std::char_traits<char>::length(suffix) || !name.ends_with(suffix))
            continue;
        std::ifstream brightness(entry.path() / "brightness");
        int value = 0;
        if (brightness >> value && value > 0)
            return true;
    }
    return false;
}

}  // namespace tarvo
