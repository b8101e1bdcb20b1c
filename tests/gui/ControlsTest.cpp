// The coloured label and the round button.
#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

#include "controls/DialogUnits.h"
#include "controls/Label.h"
#include "controls/RoundButton.h"

namespace tarvo {
namespace {

TEST(RoundGeometry, SquareClientIsACircle)
{
    const RoundGeometry g = ComputeRoundGeometry(QSize(40, 40));
    EXPECT_FALSE(g.stretched);
    EXPECT_EQ(g.radius, 19);
    EXPECT_EQ(g.centre, QPoint(20, 20));
    EXPECT_EQ(g.leftCentre, QPoint(19, 20));
    EXPECT_EQ(g.rightCentre, QPoint(20, 20));
}

TEST(RoundGeometry, WideClientIsStretched)
{
    const RoundGeometry g = ComputeRoundGeometry(QSize(100, 30));
    EXPECT_TRUE(g.stretched);
    EXPECT_EQ(g.radius, 14);
    EXPECT_EQ(g.leftCentre.x(), 14);
    EXPECT_EQ(g.rightCentre.x(), 85);
    EXPECT_EQ(g.centre, QPoint(50, 15));
}

TEST(RoundGeometry, TallClientIsSquaredToItsWidth)
{
    const RoundGeometry g = ComputeRoundGeometry(QSize(30, 50));
    EXPECT_FALSE(g.stretched);
    EXPECT_EQ(g.right, 30);
    EXPECT_EQ(g.bottom, 30);
    EXPECT_EQ(g.radius, 14);
}

TEST(RoundButton, AttachClipsToTheEllipseAndSquaresOnlyRoundButtons)
{
    QWidget parent;
    CRoundButton pill(QStringLiteral("EXIT"), &parent);
    pill.setGeometry(10, 10, 100, 30);
    pill.Attach();
    EXPECT_EQ(pill.size(), QSize(100, 30));
    EXPECT_TRUE(pill.mask().contains(QPoint(50, 15)));
    EXPECT_FALSE(pill.mask().contains(QPoint(0, 0)));
    EXPECT_FALSE(pill.mask().contains(QPoint(99, 29)));

    CRoundButton round(QStringLiteral("R"), &parent);
    round.setGeometry(10, 50, 30, 50);
    round.Attach();
    EXPECT_EQ(round.size(), QSize(30, 30));
    EXPECT_EQ(round.pos(), QPoint(10, 50));
    // Computed once: a later resize keeps the geometry.
    round.resize(60, 60);
    EXPECT_EQ(round.Geometry().radius, 14);
}

TEST(ShadeForAngle, LitFromUpperLeft)
{
    const ColorRef bright = MakeColorRef(250, 240, 230);
    const ColorRef dark = MakeColorRef(10, 20, 30);
    EXPECT_EQ(ShadeForAngle(-1.88, bright, dark), bright);
    const ColorRef opposite = ShadeForAngle(-1.88 + 3.1415, bright, dark);
    EXPECT_LE(std::abs(RedOf(opposite) - 10), 1);
    EXPECT_LE(std::abs(GreenOf(opposite) - 20), 1);
    EXPECT_LE(std::abs(BlueOf(opposite) - 30), 1);
    // Halfway round: an even blend.
    const ColorRef side = ShadeForAngle(-1.88 + 3.1416 / 2, MakeColorRef(200, 200, 200), MakeColorRef(0, 0, 0));
    EXPECT_NEAR(RedOf(side), 100, 1);
}

TEST(CircleWalk, DrawsTheRingAndDashesEveryOtherStep)
{
    QImage image(41, 41, QImage::Format_RGB32);
    image.fill(Qt::white);
    const ColorRef black = MakeColorRef(0, 0, 0);
    PlotCircle(image, 20, 20, 10, black, false);
    const auto isSet = [&](int x, int y) { return QColor(image.pixel(x, y)) == Qt::black; };
    EXPECT_TRUE(isSet(30, 20));
    EXPECT_TRUE(isSet(10, 20));
    EXPECT_TRUE(isSet(20, 10));
    EXPECT_TRUE(isSet(20, 30));
    EXPECT_FALSE(isSet(20, 20));
    int solid = 0;
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 41; ++x)
            solid += isSet(x, y);

    image.fill(Qt::white);
    PlotCircle(image, 20, 20, 10, black, true);
    int dashed = 0;
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 41; ++x)
            dashed += isSet(x, y);
    EXPECT_GT(dashed, solid / 3);
    EXPECT_LT(dashed, solid * 2 / 3);
    // Off-image pixels are skipped rather than written.
    PlotCircle(image, 0, 0, 30, black, false);
}

TEST(CircleWalk, HalvesShadeTheirPixels)
{
    QImage image(60, 60, QImage::Format_RGB32);
    image.fill(Qt::black);
    const ColorRef bright = MakeColorRef(255, 255, 255);
    const ColorRef dark = MakeColorRef(0, 0, 0);
    PlotLeftHalf(image, 30, 30, 20, bright, dark);
    PlotRightHalf(image, 30, 30, 20, bright, dark);
    // Upper left is lit, lower right in shadow.
    const int upperLeft = QColor(image.pixel(30 - 14, 30 - 14)).red();
    const int lowerRight = QColor(image.pixel(30 + 14, 30 + 14)).red();
    EXPECT_GT(upperLeft, 200);
    EXPECT_LT(lowerRight, 50);
    // Each half stays on its side of the centre column.
    QImage right(60, 60, QImage::Format_RGB32);
    right.fill(Qt::black);
    PlotRightHalf(right, 30, 30, 20, bright, MakeColorRef(40, 40, 40));
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 30; ++x)
            ASSERT_EQ(QColor(right.pixel(x, y)), QColor(Qt::black)) << x << "," << y;
}

int CountColour(const QImage& image, QColor colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += QColor(image.pixel(x, y)) == colour;
    return n;
}

QRect Bounds(const QImage& image, QColor colour)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (QColor(image.pixel(x, y)) == colour)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

TEST(RoundButton, CaptionIsRedOverPinkAndMovesWhenPressed)
{
    QWidget parent;
    CRoundButton button(QStringLiteral("FILE OPEN"), &parent);
    button.setGeometry(0, 0, 168, 36);
    button.Attach();
    const QColor red(255, 0, 0);
    const QColor pink(255, 192, 203);
    const QImage rest = button.Render();
    EXPECT_GT(CountColour(rest, red), 20);
    EXPECT_GT(CountColour(rest, pink), 5);
    button.setDown(true);
    const QImage pressed = button.Render();
    EXPECT_EQ(Bounds(pressed, red).topLeft(), Bounds(rest, red).topLeft() + QPoint(1, 1));
    // The rim is lit from the other side: top line dark when pressed, light at rest.
    const int x = button.Geometry().leftCentre.x() + 5;
    EXPECT_GT(QColor(rest.pixel(x, 1)).lightness(), QColor(pressed.pixel(x, 1)).lightness());
}

TEST(RoundButton, DisabledCaptionIsNotRed)
{
    QWidget parent;
    CRoundButton button(QStringLiteral("COMPORT OPEN/CLOSE ALL"), &parent);
    button.setGeometry(0, 0, 168, 36);
    button.Attach();
    button.setEnabled(false);
    const QImage image = button.Render();
    EXPECT_EQ(CountColour(image, QColor(255, 0, 0)), 0);
    EXPECT_GT(CountColour(image, button.palette().color(QPalette::Dark)), 20);
}

TEST(Label, StartsInSystemColoursAndKeepsFontSettings)
{
    CLabel label;
    EXPECT_EQ(label.TextColor(), ToColorRef(label.palette().color(QPalette::WindowText)));
    EXPECT_EQ(label.BkColor(), ToColorRef(label.palette().color(QPalette::Button)));
    label.SetFontSize(14);
    EXPECT_EQ(label.FontHeight(), -14);
    EXPECT_EQ(label.LabelFont().pixelSize(), 14);
    label.SetFontBold(true);
    EXPECT_EQ(label.FontWeight(), 700);
    label.SetFontBold(false);
    EXPECT_EQ(label.FontWeight(), 400);
}

TEST(Label, BackgroundChangeWaitsForTheNextTextOrColourChange)
{
    CLabel label;
    label.resize(120, 30);
    label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
    label.SetTextColor(0x0000FF).SetBkColor(0x00FF00);
    EXPECT_NE(label.PaintedBkColor(), 0x00FF00u);  // still the old background on screen
    label.SetTextColor(0x010101);                  // repaints at once
    EXPECT_EQ(label.PaintedBkColor(), 0x00FF00u);
    EXPECT_EQ(label.PaintedTextColor(), 0x010101u);

    label.SetBkColor(0x0000FF).SetText(QStringLiteral("ERROR"));
    QApplication::processEvents();
    EXPECT_EQ(label.PaintedBkColor(), 0x0000FFu);
}

TEST(Label, ClickReachesTheParentOnlyWithNotify)
{
    QWidget parent;
    parent.resize(200, 100);
    CLabel label(&parent);
    label.setGeometry(10, 10, 100, 30);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    QSignalSpy clicks(&label, &CLabel::clicked);
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 0);
    label.SetNotify(true);
    label.SetText(QStringLiteral("READY"));
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    // A disabled label takes no click.
    label.setEnabled(false);
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
}

TEST(Label, OpensOnlyFilesOfTheWorkingDirectory)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QDir(dir.path()).mkdir(QStringLiteral("READY"));
    const QDir base(dir.path());
    EXPECT_EQ(CLabel::FileToOpen(QStringLiteral("notes.txt"), base), file.fileName());
    EXPECT_TRUE(CLabel::FileToOpen(QStringLiteral("READY"), base).isEmpty());  // a folder
    EXPECT_TRUE(CLabel::FileToOpen(QStringLiteral("ERROR"), base).isEmpty());
    EXPECT_TRUE(CLabel::FileToOpen(QStringLiteral("../notes.txt"), base).isEmpty());
    EXPECT_TRUE(CLabel::FileToOpen(file.fileName(), base).isEmpty());  // absolute paths are not names
    EXPECT_TRUE(CLabel::FileToOpen(QString(), base).isEmpty());
}

TEST(DialogUnits, ScaleByQuarterWidthAndEighthHeight)
{
    const DialogUnits du(6, 14);
    EXPECT_EQ(du.X(4), 6);
    EXPECT_EQ(du.Y(8), 14);
    EXPECT_EQ(du.Rect(7, 7, 285, 293), QRect(11, 12, 428, 513));  // rounded to the nearest pixel
    const DialogUnits fromFont(FormFont(9));
    EXPECT_GT(fromFont.BaseX(), 3);
    EXPECT_GT(fromFont.BaseY(), 8);
}

}  // namespace
}  // namespace tarvo
