// Helpers of the station window tests: a fresh profile per test, main software files, and
// delivering engine reports from a worker thread while the GUI thread runs its events.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <thread>

#include "engine/ImageConverter.h"
#include "station/Profile.h"
#include "station/TarvoView.h"

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

namespace tarvo::test {

// Points the profile at an empty folder for the test's life; the station's state (the engineer
// lock-out) and the administrator's file (absent unless a test writes it) live there too.
class TempProfile {
public:
    TempProfile()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_home.path() + QStringLiteral("/state")));
        qputenv("TARVO_SYSTEM_CONF", QFile::encodeName(SystemConf()));
    }
    const QTemporaryDir& Home() const { return m_home; }
    // The administrator's file of this test (TARVO_SYSTEM_CONF).
    QString SystemConf() const { return m_home.path() + QStringLiteral("/station.conf"); }
    QString File() const { return m_home.path() + QStringLiteral("/Local AppWizard-Generated Applications/Tarvo.conf"); }
    static bool Has(const char* section, const QString& key)
    {
        return profile::Open()->contains(QLatin1String(section) + QLatin1Char('/') + key);
    }

private:
    QTemporaryDir m_home;
};

class GuiTest : public ::testing::Test {
protected:
    TempProfile m_profile;
};

// A main software file of `records` S3 records of 16 bytes, every checksum right. With
// `gapEvery`, a 256-byte address gap follows every that many records, so the download image
// gets one block per group.
inline bool WriteMainSoftware(const QString& path, int records = 8, int gapEvery = 0)
{
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    std::fputs("S00600004844521B\n", file);
    for (int r = 0; r < records; ++r) {
        const unsigned gaps = gapEvery > 0 ? static_cast<unsigned>(r / gapEvery) : 0u;
        const unsigned address = 0x01000000u + 16u * static_cast<unsigned>(r) + 256u * gaps;
        unsigned char bytes[4 + 16];
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<unsigned char>(address >> (24 - 8 * i));
        for (int i = 0; i < 16; ++i)
            bytes[4 + i] = static_cast<unsigned char>(r * 16 + i);
        unsigned sum = 21;  // the count byte
        std::fprintf(file, "S315");
        for (unsigned char b : bytes) {
            sum += b;
            std::fprintf(file, "%02X", b);
        }
        std::fprintf(file, "%02X\n", (~sum) & 0xFF);
    }
    std::fputs("S70501000000F9\n", file);
    return std::fclose(file) == 0;
}

// A download image converted from a small main software file `<folder>/<name>.m0`: its path,
// empty when it could not be made. Rows are armed only with a usable image.
inline QString MakeImage(const QString& folder, const QString& name = QStringLiteral("phone"))
{
    QDir().mkpath(folder);
    const QString main = folder + QLatin1Char('/') + name + QStringLiteral(".m0");
    if (!WriteMainSoftware(main))
        return {};
    std::string image;
    ConvertError error;
    if (!ConvertImageFile(QFile::encodeName(main).toStdString(), image, error))
        return {};
    return QFile::decodeName(QByteArray::fromStdString(image));
}

// Runs `report` on a worker thread (as an engine's worker would) and keeps the GUI thread's
// events going until it returned. False when it did not return within `timeout`.
inline bool DeliverFromWorker(const std::function<void()>& report,
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        report();
        done = true;
    });
    const bool returned = QTest::qWaitFor([&] { return done.load(); }, static_cast<int>(timeout.count()));
    worker.join();
    QCoreApplication::processEvents();
    return returned;
}

// View options for tests: a file chooser that answers `chosen` and counts its calls, an exit
// hook instead of ending the process, and no pause after a port start.
struct TestOptions {
    QString chosen;
    int chooserCalls = 0;
    int exitCalls = 0;
    QStringList warnings;
    ViewOptions Make()
    {
        ViewOptions options;
        options.chooseMainSoftware = [this](QWidget*) {
            ++chooserCalls;
            return chosen;
        };
        options.exitProcess = [this] { ++exitCalls; };
        options.warn = [this](QWidget*, const QString& text) { warnings << text; };
        options.startPause = std::chrono::milliseconds(0);
        return options;
    }
};

}  // namespace tarvo::test
