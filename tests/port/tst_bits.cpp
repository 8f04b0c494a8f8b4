#include "platform/port/bits.h"

#include <QTest>

using namespace kestra::port;

namespace {
// "1......8": output 1 first, '1' for ON.
std::array<bool, 8> outputs(const QString& pattern)
{
    std::array<bool, 8> on{};
    for (int m = 0; m < 8; ++m)
        on[m] = pattern.at(m) == QLatin1Char('1');
    return on;
}
} // namespace

class TstBits : public QObject
{
    Q_OBJECT
private slots:
    void outputByte_data()
    {
        // clang-format off
        QTest::addColumn<QString>("outputs");
        QTest::addColumn<bool>("fiveVoltsOn");
        QTest::addColumn<int>("byte");
        QTest::newRow("all OFF, 0 V is ON") << "00000000" << false << 255;
        QTest::newRow("all OFF, 5 V is ON") << "00000000" << true << 0;
        QTest::newRow("outputs 1 and 8, 5 V is ON") << "10000001" << true << 129;
        QTest::newRow("outputs 1 and 8, 0 V is ON") << "10000001" << false << 126;
        QTest::newRow("all ON, 0 V is ON") << "11111111" << false << 0;
        QTest::newRow("all ON, 5 V is ON") << "11111111" << true << 255;
        QTest::newRow("output 3 alone, 5 V is ON") << "00100000" << true << 4;
        QTest::newRow("output 3 alone, 0 V is ON") << "00100000" << false << 251;
        // clang-format on
    }
    void outputByte()
    {
        QFETCH(QString, outputs);
        QFETCH(bool, fiveVoltsOn);
        QFETCH(int, byte);
        QCOMPARE(int(composeOutputByte(::outputs(outputs), fiveVoltsOn)), byte);
    }

    void allOffMatchesComposedByte()
    {
        for (bool fiveVolts : {false, true})
            QCOMPARE(allOffByte(fiveVolts), composeOutputByte({}, fiveVolts));
    }

    // Each output owns exactly its own bit: switching one never moves another.
    void everyOutputOwnsOneBit()
    {
        for (int m = 1; m <= 8; ++m) {
            std::array<bool, 8> on{};
            on[m - 1] = true;
            QCOMPARE(int(composeOutputByte(on, true)), 1 << (m - 1));
            QCOMPARE(int(composeOutputByte(on, false)), 255 - (1 << (m - 1)));
        }
    }

    void inputs_data()
    {
        // clang-format off
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("inputs"); // input 1 first, '1' for ON
        QTest::newRow("0x78 idle lines") << 0x78 << "00000";
        QTest::newRow("0x80 all pulled low") << 0x80 << "11111";
        QTest::newRow("0x87 low bits ignored") << 0x87 << "11111";
        QTest::newRow("0x00") << 0x00 << "01111";
        QTest::newRow("0xFF") << 0xFF << "10000";
        QTest::newRow("0x7F") << 0x7F << "00000";
        QTest::newRow("only bit 4 set") << 0x10 << "01101";
        // clang-format on
    }
    void inputs()
    {
        QFETCH(int, status);
        QFETCH(QString, inputs);
        const auto on = decodeInputs(quint8(status));
        QString got;
        for (bool b : on)
            got += b ? QLatin1Char('1') : QLatin1Char('0');
        QCOMPARE(got, inputs);
    }

    // Bits 2..0 never matter, and each input follows its own bit alone.
    void everyStatusByteDecodesFromBits7To3()
    {
        for (int s = 0; s <= 255; ++s) {
            const auto on = decodeInputs(quint8(s));
            QCOMPARE(on, decodeInputs(quint8(s & 0xF8)));
            QCOMPARE(on[0], (s & 0x80) != 0);
            for (int n = 2; n <= 5; ++n)
                QCOMPARE(on[n - 1], (s & (0x80 >> (n - 1))) == 0);
            QCOMPARE(int(encodeInputs(on)), s & 0xF8);
        }
    }
};

QTEST_GUILESS_MAIN(TstBits)
#include "tst_bits.moc"
