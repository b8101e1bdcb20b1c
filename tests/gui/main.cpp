// Test program of the station window: one QApplication for every test, drawn off screen, and
// a profile folder of its own so no test touches the user's settings, and a data folder of its
// own so no test writes the user's production record (nor waits for another program's lock on
// it).
#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/TarvoApp.h"

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir profileHome;
    // Before the first QSettings: its user folder is read once.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(profileHome.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(profileHome.path() + QStringLiteral("/data")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profileHome.path());

    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    tarvo::ConfigureApplication(application);
    return RUN_ALL_TESTS();
}
