// tarvo-cli convert FILE: writes the download image of a main software file and prints its
// path.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/ImageConverter.h"
#include "tools/cli/Commands.h"
#include "tools/cli/SignalWatch.h"
#include "tools/cmdline/CommandLine.h"

namespace tarvo::cli {

int RunConvert(int argc, char** argv) {
    static constexpr char kUsage[] = "convert FILE";
    cmdline::OptionTable table("tarvo-cli convert", kUsage, "usage: tarvo-cli ");
    table.Description("Writes the download image (FILE up to its first \".m0\", then \".cp64\")\n"
                      "and prints its path. An existing image is replaced only when the new one\n"
                      "is complete.\n");
    std::vector<std::string> operands;
    if (const int status = table.ParseOrExit(argc, argv, &operands); status >= 0)
        return status;
    if (operands.size() != 1)
        return table.UsageError(operands.empty() ? "no FILE given" : "one FILE only");
    const std::string& file = operands.front();

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
