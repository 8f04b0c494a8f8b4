#include "views/widgets/contrast.h"

#include <QTest>

using namespace kestra;

class TstContrast : public QObject
{
    Q_OBJECT
private slots:
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
        // Known values: the largest ratio, and black and white on pure blue.
        QCOMPARE(ui::contrastRatio(Qt::black, Qt::white), 21.0);
        QCOMPARE(qRound(ui::contrastRatio(Qt::black, QColor(0, 0, 255)) * 100), 244);
        QCOMPARE(qRound(ui::contrastRatio(QColor(0, 0, 255), Qt::white) * 100), 859);
    }
};

QTEST_MAIN(TstContrast)
#include "tst_contrast.moc"
