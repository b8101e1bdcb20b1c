// tarvo-bench-window [ROUNDS]: times, in one run,
//   1. the text of one progress report: the row logic's own formatting (the form's texts)
//      against the translated text the view now shows, with no language and with Korean;
//   2. one engineer PIN check (PBKDF2-HMAC-SHA256 with the stored iteration count);
//   3. one language switch of the whole window (translator swap and every text set again).
// Prints the median of ROUNDS (default 9) for each. Runs on Qt's offscreen platform.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/MainFrm.h"
#include "app/TarvoApp.h"
#include "resources/Translate.h"
#include "station/EngineerLock.h"
#include "station/Language.h"
#include "station/Profile.h"
#include "station/RowLogic.h"

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Nanoseconds per progress text, over `count` texts.
template <class F>
double PerText(F&& make, int count)
{
    QElapsedTimer timer;
    timer.start();
    std::size_t sink = 0;
    for (int i = 0; i < count; ++i)
        sink += make(i % 101);
    const double ns = static_cast<double>(timer.nsecsElapsed()) / count;
    if (sink == 42)
        std::puts("");
    return ns;
}

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir profile;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(profile.path()));
    QApplication app(argc, argv);
    tarvo::ConfigureApplication(app);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    constexpr int kTexts = 200000;

    tarvo::CLanguages languages;
    std::vector<double> own, none, korean, pin, switches;
    // A stored image: no file dialog at start-up.
    tarvo::profile::WriteString(tarvo::profile::kMainSwSection, QStringLiteral("Name"), QStringLiteral("/none.cp64"));
    tarvo::CEngineerLock lock;
    lock.SetPin(QStringLiteral("2468"));
    tarvo::CTarvoApp station;
    station.InitInstance();
    tarvo::CMainFrame& frame = *station.Frame();
    for (int r = 0; r < rounds; ++r) {
        own.push_back(PerText([](int p) { return QString::fromStdString(tarvo::station::FormatDownloading(p)).size(); }, kTexts));
        languages.Apply(QString());
        none.push_back(PerText([](int p) { return tarvo::Tr("Station", "Downloading : %1 %").arg(p).size(); }, kTexts));
        languages.Apply(QStringLiteral("ko"));
        korean.push_back(PerText([](int p) { return tarvo::Tr("Station", "Downloading : %1 %").arg(p).size(); }, kTexts));
        languages.Apply(QString());

        QElapsedTimer timer;
        timer.start();
        lock.Try(QStringLiteral("2468"));
        pin.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);

        timer.restart();
        frame.ChooseLanguage(r % 2 ? QStringLiteral("en") : QStringLiteral("ko"));
        QCoreApplication::processEvents();
        switches.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    frame.ChooseLanguage(QString());
    std::printf("progress text, row logic's own format:  %8.0f ns\n", Median(own));
    std::printf("progress text, translated, no language: %8.0f ns\n", Median(none));
    std::printf("progress text, translated, Korean:      %8.0f ns\n", Median(korean));
    std::printf("engineer PIN check (%d iterations):  %8.1f ms\n", tarvo::CEngineerLock::kIterations, Median(pin));
    std::printf("language switch of the whole window:    %8.1f ms\n", Median(switches));
    return 0;
}
