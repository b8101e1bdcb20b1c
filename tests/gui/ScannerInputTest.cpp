// The key filter that makes scans into unit labels, without the station window: a plain window
// and a dialog with a text field.
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "station/ScannerInput.h"

namespace tarvo {
namespace {

// Only a fast burst ended by Enter is a scan: what a hand types into a dialog (a PIN) and a
// burst too short for a label stay the dialog's, Enter included.
TEST(ScannerInput, OnlyAFastLongBurstIntoADialogIsTakenOutOfIt)
{
    QWidget window;
    window.show();
    QStringList taken;
    CScannerInput input(&window, [&](const QString& typed) {
        taken << typed;
        return true;
    });
    QDialog dialog(&window);
    QLineEdit field(&dialog);
    int accepted = 0;
    QObject::connect(&field, &QLineEdit::returnPressed, &dialog, [&] { ++accepted; });
    dialog.show();
    field.setFocus();

    // By hand: a key every 60 ms.
    for (const QChar c : QStringLiteral("246813")) {
        QTest::keyClick(&field, c.toLatin1());
        QTest::qWait(60);
    }
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(field.text(), QStringLiteral("246813"));
    EXPECT_EQ(accepted, 1);
    EXPECT_TRUE(taken.isEmpty());

    // A quick burst of three characters is no label.
    field.clear();
    QTest::keyClicks(&field, QStringLiteral("123"));
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(field.text(), QStringLiteral("123"));
    EXPECT_EQ(accepted, 2);
    EXPECT_TRUE(taken.isEmpty());

    // A scan after what was typed: the field gets its text back, the dialog no Enter.
    QTest::qWait(60);
    QTest::keyClicks(&field, QStringLiteral("SN4711"));
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(field.text(), QStringLiteral("123"));
    EXPECT_EQ(accepted, 2);
    EXPECT_EQ(taken, QStringList{QStringLiteral("SN4711")});
}

}  // namespace
}  // namespace tarvo
