// Headless Chromium (Debian's chromium and chromedriver, driven by python3-selenium) opens the
// station's live page while a simulated handset is flashed: the port's row changes its state
// without a reload, a hostile unit label and station name show as text (no element, no
// alert), and the page speaks the station's language.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>

#include "cli/RunProgram.h"
#include "e2e/Harness.h"
#include "status/StatusHarness.h"
#include "tools/sim/TargetSim.h"

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr char kDriver[] = "/usr/bin/chromedriver";
constexpr char kPython[] = "/usr/bin/python3";

std::string Field(const std::string& json, const std::string& key)
{
    std::smatch m;
    const std::regex string("\"" + key + "\": \"((?:[^\"\\\\]|\\\\.)*)\"");
    if (std::regex_search(json, m, string))
        return m[1];
    const std::regex other("\"" + key + "\": ([^,}]*)");
    return std::regex_search(json, m, other) ? m[1].str() : std::string("<missing>");
}

}  // namespace

TEST(StatusPage, RowChangesLiveAndHostileTextStaysText)
{
    if (::access(kChromium, X_OK) != 0 || ::access(kDriver, X_OK) != 0)
        GTEST_SKIP() << "headless Chromium is not installed (Debian packages chromium, chromium-driver)";
    if (RunProgram(kPython, {"-c", "import selenium"}).exitCode != 0)
        GTEST_SKIP() << "python3-selenium is not installed";

    Workspace workspace(64 * 1024);
    sim::SimConfig config;
    config.baud = 115200;
    config.eraseTime = std::chrono::milliseconds(1500);
    sim::TargetSim handset(config);
    std::string error;
    ASSERT_TRUE(handset.Start(error)) << error;

    // The station's name and language come from its profile.
    const std::string hostile = "<img src=x onerror=alert(1)>";
    const std::string profileDir = workspace.Dir() + "/config/Local AppWizard-Generated Applications";
    std::filesystem::create_directories(profileDir);
    std::ofstream(profileDir + "/Tarvo.conf") << "[Station]\nName=Line 3 <script>alert(2)</script>\nLanguage=ko\n";

    const int port = FreePort();
    Child station(TARVO_CLI_PATH,
                  {"flash", "--image", workspace.Image(), "--port", "5=" + handset.DevicePath(), "--unit", hostile,
                   "--record", workspace.Dir() + "/records.sqlite", "--listen", "127.0.0.1:" + std::to_string(port)},
                  workspace.Dir(), "station");
    ASSERT_TRUE(WaitFor([&] { return Get(port, "/api/status").status == 200 || !station.Running(); }, 10s))
        << station.Err();

    TempDir browserProfile;
    const ProgramResult page = RunProgram(kPython, {std::string(TARVO_STATUS_TEST_DIR) + "/page_check.py",
                                                    "http://127.0.0.1:" + std::to_string(port) + "/", "5",
                                                    browserProfile.Path()});
    ASSERT_EQ(page.exitCode, 0) << page.err;
    const std::string seen = page.out;
    EXPECT_NE(Field(seen, "first"), Field(seen, "later")) << seen;
    EXPECT_EQ(Field(seen, "final"), "COMPLETE") << seen;
    EXPECT_EQ(Field(seen, "marker"), "4711") << "the page was reloaded: " << seen;
    EXPECT_EQ(Field(seen, "unit"), hostile) << seen;
    EXPECT_EQ(Field(seen, "images"), "0") << seen;
    EXPECT_EQ(Field(seen, "alert"), "false") << seen;
    EXPECT_EQ(Field(seen, "station"), "Line 3 <script>alert(2)</script>") << seen;
    EXPECT_NE(seen.find("\"record_units\": [\"" + hostile + "\"]"), std::string::npos) << seen;
    EXPECT_EQ(Field(seen, "port_heading"), "포트") << seen;
    EXPECT_EQ(station.Wait(30s), 0) << station.Err();
}
