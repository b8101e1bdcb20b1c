// A picture of tarvo-cli's live display during an eight-port demo for review (10 s, so "Slow"): the demo runs in
// a real terminal (tmux on a private socket, 100 x 14), the screen is read with capture-pane
// while the ports download, and drawn in a monospace font to
// <build>/screenshots/terminal-flash.png.
#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/cli/RunProgram.h"
#include "tests/gui/GuiTestSupport.h"

#ifdef TARVO_CLI_PATH

namespace tarvo::test {
namespace {

TEST(TerminalPicture, SlowEightPortFlashOnTheLiveDisplay)
{
    QTemporaryDir dir;
    const std::string socket = dir.filePath(QStringLiteral("tmux.sock")).toStdString();
    const std::string tmux = "/usr/bin/tmux";
    const std::string command = "cd '" + dir.path().toStdString() + "' && XDG_CONFIG_HOME='" + dir.path().toStdString() +
                                "' " TARVO_CLI_PATH " demo --no-record --size 192; sleep 600";
    ASSERT_EQ(RunProgram(tmux, {"-S", socket, "-f", "/dev/null", "new-session", "-d", "-x", "100", "-y", "14", command})
                  .exitCode,
              0);
    // Well into the download, after its second block, when the rate and the time left are
    // known (the erase takes 1.5 s, a block of 64 KiB about 6 s at 115200 baud).
    std::this_thread::sleep_for(std::chrono::milliseconds(9500));
    const ProgramResult screen = RunProgram(tmux, {"-S", socket, "capture-pane", "-p"});
    RunProgram(tmux, {"-S", socket, "kill-server"});
    const QStringList lines = QString::fromStdString(screen.out).split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 10) << screen.out;
    EXPECT_TRUE(screen.out.find("DOWNLOAD") != std::string::npos) << screen.out;

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamily(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(14);
    const QFontMetrics metrics(font);
    const int margin = 10;
    int width = metrics.horizontalAdvance(QString(100, QLatin1Char('M')));
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    QImage image(margin * 2 + width, margin * 2 + metrics.height() * 14, QImage::Format_RGB32);
    image.fill(QColor(0x1e, 0x1e, 0x1e));
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(QColor(0xd8, 0xd8, 0xd8));
    for (int row = 0; row < 14 && row < lines.size(); ++row)
        painter.drawText(margin, margin + metrics.ascent() + row * metrics.height(), lines[row]);
    painter.end();
    QDir out(QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots"));
    out.mkpath(QStringLiteral("."));
    ASSERT_TRUE(image.save(out.absoluteFilePath(QStringLiteral("terminal-flash.png"))));
}

}  // namespace
}  // namespace tarvo::test

#endif  // TARVO_CLI_PATH
