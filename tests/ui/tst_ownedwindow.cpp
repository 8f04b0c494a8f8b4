#include "views/widgets/ownedwindow.h"

#include <QTest>

using namespace kestra;

class TstOwnedWindow : public QObject
{
    Q_OBJECT
private slots:
    // Where a window opens beside the main window (frame at 67,67, 450 x 460
    // unless said), with a cascade step of 24 pixels, on screens of several sizes.
    void opensBesideTheOwnerAndOnTheScreen_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("owner");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("index");
        QTest::addColumn<QSize>("minimum"); // invalid: the window cannot be narrower
        QTest::addColumn<QRect>("expected");
        const QRect owner(67, 67, 450, 460);
        QTest::newRow("right of it") << QRect(0, 0, 1600, 1000) << owner << QSize(400, 300) << 0 << QSize()
                                     << QRect(517, 67, 400, 300);
        QTest::newRow("the ninth, cascaded") << QRect(0, 0, 1600, 1000) << owner << QSize(481, 397) << 8
                                             << QSize() << QRect(709, 259, 481, 397);
        QTest::newRow("left of an owner on the right")
            << QRect(0, 0, 1600, 1000) << QRect(1100, 67, 450, 460) << QSize(400, 300) << 0 << QSize()
            << QRect(700, 67, 400, 300);
        QTest::newRow("no room beside: over its right side, its buttons free")
            << QRect(0, 0, 1280, 800) << owner << QSize(980, 500) << 0 << QSize() << QRect(300, 67, 980, 500);
        QTest::newRow("1366 x 768: narrowed to the room on its right")
            << QRect(0, 0, 1366, 768) << owner << QSize(910, 600) << 0 << QSize(700, 400)
            << QRect(517, 67, 849, 600);
        QTest::newRow("1366 x 768, not that narrow: over its right side")
            << QRect(0, 0, 1366, 768) << owner << QSize(910, 600) << 0 << QSize(900, 400)
            << QRect(456, 67, 910, 600);
        QTest::newRow("larger than the screen: made to fit")
            << QRect(0, 0, 800, 600) << owner << QSize(980, 700) << 0 << QSize() << QRect(0, 0, 800, 600);
        QTest::newRow("not below the bottom of a 1000 px screen")
            << QRect(0, 0, 1600, 960) << QRect(67, 200, 450, 460) << QSize(700, 900) << 1 << QSize()
            << QRect(541, 60, 700, 900);
        QTest::newRow("a screen left of the primary")
            << QRect(-1280, 0, 1280, 1024) << QRect(-1000, 100, 450, 460) << QSize(400, 300) << 0 << QSize()
            << QRect(-550, 100, 400, 300);
    }
    void opensBesideTheOwnerAndOnTheScreen()
    {
        QFETCH(QRect, screen);
        QFETCH(QRect, owner);
        QFETCH(QSize, size);
        QFETCH(int, index);
        QFETCH(QSize, minimum);
        QFETCH(QRect, expected);
        const QRect r = ui::ownedWindowRect(owner, size, index, 24, screen, minimum);
        QCOMPARE(r, expected);
        QVERIFY(screen.contains(r));
    }
};

QTEST_MAIN(TstOwnedWindow)
#include "tst_ownedwindow.moc"
