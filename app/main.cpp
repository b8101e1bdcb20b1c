// tarvo: the download station window. Its only option is --version (answered without a
// display); everything else goes to Qt's own command-line processing.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/TarvoApp.h"

int main(int argc, char* argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tarvo %s\n", TARVO_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    tarvo::ConfigureApplication(application);
    tarvo::CTarvoApp station;
    if (!station.InitInstance())
        return 1;
    return application.exec();
}
