// tarvo-cli convert FILE: writes the download image of a main software file and prints its
// path.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/ImageConverter.h"
#include "tools/cli/Commands.h"
#include "tools/cli/SignalWatch.h"

namespace tarvo::cli {

int RunConvert(int argc, char** argv) {
    static constexpr char kUsage[] = "convert FILE";
    const char* file = nullptr;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsEnded && IsHelp(arg)) {
            std::printf("usage: tarvo-cli %s\n"
                        "Writes the download image (FILE up to its first \".m0\", then \".cp64\")\n"
                        "and prints its path. An existing image is replaced only when the new one\n"
                        "is complete.\n",
                        kUsage);
            return kExitOk;
        }
        if (!optionsEnded && std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
            return UsageError(kUsage);
        } else if (file == nullptr) {
            file = arg;
        } else {
            return UsageError(kUsage);
        }
    }
    if (file == nullptr) return UsageError(kUsage);

    // A signal cancels the conversion: its temporary file goes and the old image stays. Later
    // signals are absorbed so that the clean-up always runs (it takes milliseconds).
    SignalWatch signals(SignalWatch::SecondSignal::Ignore);
    std::atomic<bool> cancel{false};
    signals.OnSignal([&](int) { cancel = true; });
    std::string imagePath;
    ConvertError error;
    const bool converted = ConvertImageFile(file, imagePath, error, &cancel);
    signals.OnSignal(nullptr);
    if (signals.Caught() != 0) return signals.ExitStatus();
    if (!converted) return Failure(error.ToString());
    std::printf("%s\n", imagePath.c_str());
    return kExitOk;
}

}  // namespace tarvo::cli
