// tarvo-cli against settings the administrator locked in the system file (TARVO_SYSTEM_CONF):
// an option that contradicts a locked key is refused, naming the file and the key; an option
// that agrees with it, or one on a key that is not locked, is not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/cli/RunProgram.h"

#ifdef TARVO_CLI_PATH

namespace tarvo::test {
namespace {

class CliLockedSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarvo-locked-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_system = m_dir + "/station.conf";
        std::ofstream(m_system) << "[Record]\nDatabase=" << m_dir << "/line.sqlite\n"
                                << "[Device]\nCOM5=/dev/ttyUSB7\n";
        ::setenv("TARVO_SYSTEM_CONF", m_system.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (m_dir + "/data").c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("TARVO_SYSTEM_CONF");
        std::filesystem::remove_all(m_dir);
    }

    std::string m_dir;
    std::string m_system;
};

TEST_F(CliLockedSettings, ContradictingOptionsAreRefusedNamingFileAndKey)
{
    const ProgramResult record = RunProgram(TARVO_CLI_PATH, {"flash", "--image", m_dir + "/none.cp64", "--port", "5",
                                                             "--record", m_dir + "/mine.sqlite"});
    EXPECT_EQ(record.exitCode, 1);
    EXPECT_NE(record.err.find("\"Record\"/\"Database\""), std::string::npos) << record.err;
    EXPECT_NE(record.err.find(m_system), std::string::npos) << record.err;

    const ProgramResult device =
        RunProgram(TARVO_CLI_PATH, {"flash", "--image", m_dir + "/none.cp64", "--port", "5=/dev/ttyUSB0"});
    EXPECT_EQ(device.exitCode, 1);
    EXPECT_NE(device.err.find("\"Device\"/\"COM5\""), std::string::npos) << device.err;

    const ProgramResult list = RunProgram(TARVO_CLI_PATH, {"records", "--record", m_dir + "/mine.sqlite"});
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_NE(list.err.find(m_system), std::string::npos) << list.err;
}

TEST_F(CliLockedSettings, AgreeingOrUnlockedOptionsPass)
{
    // The same device as the locked one, and a port whose device is not locked: no lock error
    // (the run then fails for its missing image).
    const ProgramResult same = RunProgram(TARVO_CLI_PATH, {"flash", "--image", m_dir + "/none.cp64", "--port",
                                                           "5=/dev/ttyUSB7", "--port", "6=/dev/ttyUSB1"});
    EXPECT_EQ(same.err.find("administrator"), std::string::npos) << same.err;
    // The locked journal is the one the CLI uses (not recorded to yet here).
    const ProgramResult list = RunProgram(TARVO_CLI_PATH, {"records"});
    EXPECT_EQ(list.err.find("administrator"), std::string::npos) << list.err;
    EXPECT_NE(list.err.find(m_dir + "/line.sqlite"), std::string::npos) << list.err;
}

}  // namespace
}  // namespace tarvo::test

#endif  // TARVO_CLI_PATH
