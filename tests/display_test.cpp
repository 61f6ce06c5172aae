// SPDX-License-Identifier: MIT
// The displays' arithmetic: rates, digit cells, marks, bar and hints.
#include "display.h"
#include "scaling.h"
#include "support.h"

#include <QTemporaryDir>

class DisplayTest : public QObject
{
    Q_OBJECT

private slots:
    void rate_data()
    {
        QTest::addColumn<qulonglong>("bytes");
        QTest::addColumn<qlonglong>("elapsedMs");
        QTest::addColumn<qlonglong>("kbit");
        QTest::newRow("nothing") << 0ull << 1000ll << 0ll;
        QTest::newRow("124 bytes") << 124ull << 1000ll << 0ll;
        QTest::newRow("1249 bytes") << 1249ull << 1000ll << 9ll;
        QTest::newRow("1250 bytes") << 1250ull << 1000ll << 10ll;
        QTest::newRow("96000 bytes") << 96000ull << 1000ll << 768ll;
        QTest::newRow("1250000 bytes") << 1250000ull << 1000ll << 10000ll;
        QTest::newRow("2^28 bytes, no overflow") << 268435456ull << 1000ll << 2147483ll;
        QTest::newRow("a full 32-bit count") << 4294967295ull << 1000ll << 34359738ll;
        QTest::newRow("tick two seconds late") << 192000ull << 2000ll << 768ll;
        QTest::newRow("tick early") << 48000ull << 500ll << 768ll;
        QTest::newRow("no time passed") << 1000ull << 0ll << 8000ll;
    }
    void rate()
    {
        QFETCH(qulonglong, bytes);
        QFETCH(qlonglong, elapsedMs);
        QFETCH(qlonglong, kbit);
        QCOMPARE(rateKbit(bytes, elapsedMs), kbit);
    }

    void cells_data()
    {
        QTest::addColumn<qlonglong>("rate");
        QTest::addColumn<QList<int>>("cells");
        const int B = BlankGlyph;
        QTest::newRow("0") << 0ll << QList<int>{B, B, B, 0};
        QTest::newRow("7") << 7ll << QList<int>{B, B, B, 7};
        QTest::newRow("10") << 10ll << QList<int>{B, B, 1, 0};
        QTest::newRow("96") << 96ll << QList<int>{B, B, 9, 6};
        QTest::newRow("100") << 100ll << QList<int>{B, 1, 0, 0};
        QTest::newRow("768") << 768ll << QList<int>{B, 7, 6, 8};
        QTest::newRow("1000") << 1000ll << QList<int>{1, 0, 0, 0};
        QTest::newRow("9999") << 9999ll << QList<int>{9, 9, 9, 9};
        QTest::newRow("10000 saturates") << 10000ll << QList<int>{9, 9, 9, 9};
        QTest::newRow("12000 saturates") << 12000ll << QList<int>{9, 9, 9, 9};
        QTest::newRow("negative") << -5ll << QList<int>{B, B, B, 0};
    }
    void cells()
    {
        QFETCH(qlonglong, rate);
        QFETCH(QList<int>, cells);
        const std::array<int, 4> got = digitCells(rate);
        QCOMPARE(QList<int>(got.begin(), got.end()), cells);
    }

    void marks_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("m56");
        QTest::addColumn<int>("m128");
        QTest::newRow("gauge, 768") << 150 << 768 << 11 << 25;
        QTest::newRow("scale, 768") << 152 << 768 << 11 << 25;
        QTest::newRow("gauge, 100") << 150 << 100 << 84 << 192;
        QTest::newRow("scale, 100") << 152 << 100 << 85 << 195;
        QTest::newRow("gauge, 6000") << 150 << 6000 << 1 << 3;
        QTest::newRow("half to even, down") << 150 << 1536 << 5 << 12;  // 5.47, 12.5
        QTest::newRow("half to even, up") << 150 << 2400 << 4 << 8;     // 3.5, 8.0
    }
    void marks()
    {
        QFETCH(int, width);
        QFETCH(int, speed);
        QFETCH(int, m56);
        QFETCH(int, m128);
        QCOMPARE(markColumn(width, speed, 56), m56);
        QCOMPARE(markColumn(width, speed, 128), m128);
    }

    void bar_data()
    {
        QTest::addColumn<qlonglong>("rate");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("columns");
        QTest::newRow("idle") << 0ll << 768 << 0;
        QTest::newRow("384 of 768") << 384ll << 768 << 75;
        QTest::newRow("64: 12.5 to even") << 64ll << 768 << 12;
        QTest::newRow("192: 37.5 to even") << 192ll << 768 << 38;
        QTest::newRow("full") << 768ll << 768 << 150;
        QTest::newRow("beyond speed") << 20000ll << 768 << 150;
        QTest::newRow("huge rate") << 34359738ll << 1 << 150;
    }
    void bar()
    {
        QFETCH(qlonglong, rate);
        QFETCH(int, speed);
        QFETCH(int, columns);
        QCOMPARE(barLength(rate, 150, speed), columns);
    }

    void hint_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("speed");
        QTest::addColumn<QString>("hint");
        const QString net = QStringLiteral("max. Speed mit Orba-Net: 56 kbit/s");
        const QString isdn = QStringLiteral("max. Speed mit Orba-ISDN: 128 kbit/s");
        QTest::newRow("left of the gauge") << -1 << 768 << QStringLiteral("before");
        QTest::newRow("0") << 0 << 768 << net;
        QTest::newRow("10") << 10 << 768 << net;
        QTest::newRow("11") << 11 << 768 << isdn;
        QTest::newRow("24") << 24 << 768 << isdn;
        QTest::newRow("25") << 25 << 768 << QStringLiteral("max. Speed mit Orba-DSL: 768 kbit/s");
        QTest::newRow("150") << 150 << 768 << QStringLiteral("max. Speed mit Orba-DSL: 768 kbit/s");
        QTest::newRow("right of the gauge") << 151 << 768 << QStringLiteral("before");
        QTest::newRow("speed 100, 84") << 84 << 100 << isdn;
        QTest::newRow("speed 100, 150") << 150 << 100 << isdn;
        QTest::newRow("speed 1024") << 100 << 1024 << QStringLiteral("max. Speed mit Orba-DSL: 1024 kbit/s");
    }
    void hint()
    {
        QFETCH(int, x);
        QFETCH(int, speed);
        QFETCH(QString, hint);
        QCOMPARE(gaugeHint(x, 150, speed, QStringLiteral("before")), hint);
    }

    void bytes_data()
    {
        QTest::addColumn<qulonglong>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0ull << "0 B";
        QTest::newRow("999") << 999ull << "999 B";
        QTest::newRow("12345") << 12345ull << "12,3 kB";
        QTest::newRow("999499") << 999499ull << "999 kB";
        QTest::newRow("999500 rounds up") << 999500ull << "1,00 MB";
        QTest::newRow("1234567890") << 1234567890ull << "1,23 GB";
        QTest::newRow("largest") << 18446744073709551615ull << "18,4 EB";
    }
    void bytes()
    {
        QFETCH(qulonglong, bytes);
        QFETCH(QString, text);
        QCOMPARE(decimalBytes(bytes), text);
    }

    // `scale` sets Qt's scale factor, unless the user's own variables decide.
    void scaling_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArray>("user");  // NAME=value set before
        QTest::addColumn<QByteArray>("factor");
        QTest::addColumn<QByteArray>("highDpi");
        QTest::newRow("scale 2") << QByteArray("scale=2") << QByteArray() << QByteArray("2") << QByteArray("0");
        QTest::newRow("scale 5 counts as 1") << QByteArray("scale=5") << QByteArray() << QByteArray()
                                             << QByteArray("0");
        QTest::newRow("user's factor") << QByteArray("scale=2") << QByteArray("QT_SCALE_FACTOR=1.5")
                                       << QByteArray("1.5") << QByteArray();
        QTest::newRow("user's screen factors") << QByteArray("scale=2") << QByteArray("QT_SCREEN_SCALE_FACTORS=2")
                                               << QByteArray() << QByteArray();
    }
    void scaling()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, factor);
        QFETCH(QByteArray, highDpi);
        for (const char *name : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING"})
            qunsetenv(name);
        if (!user.isEmpty())
            qputenv(user.split('=')[0], user.split('=')[1]);
        QTemporaryDir dir;
        const QString file = dir.filePath("flowmstr.ini");
        writeFile(file, "[settings]\n" + ini + '\n');
        prepareScaling(file);
        QCOMPARE(qgetenv("QT_SCALE_FACTOR"), factor);
        QCOMPARE(qgetenv("QT_ENABLE_HIGHDPI_SCALING"), highDpi);
    }
};

QTEST_GUILESS_MAIN(DisplayTest)
#include "display_test.moc"
