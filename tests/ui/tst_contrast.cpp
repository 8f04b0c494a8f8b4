#include "ui/contrast.h"
#include "ui/ownedwindow.h"

#include <QTest>

using namespace kestra;

class TstContrast : public QObject
{
    Q_OBJECT
private slots:
    void ratio_data()
    {
        QTest::addColumn<QColor>("a");
        QTest::addColumn<QColor>("b");
        QTest::addColumn<double>("ratio");
        QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
        QTest::newRow("same colour") << QColor(0, 0, 192) << QColor(0, 0, 192) << 1.0;
        QTest::newRow("black on pure blue") << QColor(Qt::black) << QColor(0, 0, 255) << 2.44;
        QTest::newRow("white on pure blue") << QColor(Qt::white) << QColor(0, 0, 255) << 8.59;
        QTest::newRow("order does not matter") << QColor(0, 0, 255) << QColor(Qt::white) << 8.59;
        QTest::newRow("mid grey") << QColor(119, 119, 119) << QColor(Qt::white) << 4.48;
    }
    void ratio()
    {
        QFETCH(QColor, a);
        QFETCH(QColor, b);
        QFETCH(double, ratio);
        QVERIFY2(qAbs(ui::contrastRatio(a, b) - ratio) < 0.01,
                 qPrintable(QString::number(ui::contrastRatio(a, b))));
    }

    // Whatever the background, black or white text on it reads at 4.5:1 or better.
    void readableOnEveryColour()
    {
        double worst = 21;
        for (int r = 0; r <= 255; r += 5)
            for (int g = 0; g <= 255; g += 5)
                for (int b = 0; b <= 255; b += 5) {
                    const QColor bg(r, g, b);
                    const QColor text = ui::readableTextOn(bg);
                    QVERIFY(text == QColor(Qt::black) || text == QColor(Qt::white));
                    worst = std::min(worst, ui::contrastRatio(text, bg));
                }
        QVERIFY2(worst >= 4.5, qPrintable(QString::number(worst)));
    }

    // Owned windows open cascaded from their owner's corner and stay on its screen.
    void ownedWindowPosition_data()
    {
        QTest::addColumn<QRect>("owner");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("index");
        QTest::addColumn<QPoint>("position");
        const QRect screen(0, 0, 1600, 1000);
        QTest::newRow("first") << QRect(100, 100, 430, 500) << QSize(390, 150) << 0 << QPoint(124, 124);
        QTest::newRow("ninth") << QRect(100, 100, 430, 500) << QSize(390, 150) << 8 << QPoint(316, 316);
        QTest::newRow("owner at the bottom right")
            << QRect(1400, 900, 430, 500) << QSize(390, 400) << 2 << QPoint(1210, 600);
        QTest::newRow("owner off the left edge")
            << QRect(-500, -300, 430, 500) << QSize(390, 150) << 0 << QPoint(0, 0);
        QTest::newRow("window larger than the screen")
            << QRect(100, 100, 430, 500) << QSize(1700, 1200) << 0 << QPoint(0, 0);
    }
    void ownedWindowPosition()
    {
        QFETCH(QRect, owner);
        QFETCH(QSize, size);
        QFETCH(int, index);
        QFETCH(QPoint, position);
        QCOMPARE(ui::ownedWindowPosition(owner, size, index, 24, QRect(0, 0, 1600, 1000)), position);
    }
};

QTEST_MAIN(TstContrast)
#include "tst_contrast.moc"
