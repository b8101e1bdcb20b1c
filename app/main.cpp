// tarvo: the download station window. No command-line options of its own.
#include <QApplication>

#include "app/TarvoApp.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    tarvo::ConfigureApplication(application);
    tarvo::CTarvoApp station;
    if (!station.InitInstance())
        return 1;
    return application.exec();
}
