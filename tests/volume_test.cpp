// SPDX-License-Identifier: MIT
// Data volume: days and billing months in local time (Europe/Berlin here),
// and the file that several programs share.
#include "support.h"
#include "volume.h"

#include <QDir>
#include <QTemporaryDir>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <sys/resource.h>

namespace {

// "2026-05-02 100 10 [800]": a tick's end (a date alone: its local
// midnight), bytes down and up, and download kbit/s.
void addTicks(VolumeBook &book, const QStringList &ticks)
{
    for (const QString &tick : ticks) {
        const QStringList f = tick.split(u' ');
        book.addTick(QDateTime::fromString(f[0], Qt::ISODateWithMs), f[1].toULongLong(),
                     f[2].toULongLong(), f.value(3).toLongLong());
    }
}

} // namespace

class VolumeTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString path;

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        path = dir->filePath(QStringLiteral("flowmstr.csv"));
    }

    void arithmetic_data()
    {
        QTest::addColumn<int>("monthStart");
        QTest::addColumn<QStringList>("ticks");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QDate>("first");
        // today's down and up, the month's down and up, today's peak
        QTest::addColumn<QList<qulonglong>>("want");
        QTest::newRow("midnight") << 1
            << QStringList{"2026-05-10T23:59:59.999+02:00 1 2 5000", "2026-05-11T00:00:00.000+02:00 10 20 800",
                           "2026-05-11T23:59:59.999+02:00 100 200 1600"}
            << QDate(2026, 5, 11) << QDate(2026, 5, 1) << QList<qulonglong>{110, 220, 111, 222, 1600};
        QTest::newRow("month start 1, a new year") << 1
            << QStringList{"2025-12-31 1 1", "2026-01-01 5 6"}
            << QDate(2026, 1, 1) << QDate(2026, 1, 1) << QList<qulonglong>{5, 6, 5, 6, 0};
        QTest::newRow("month start 15, the day before") << 15
            << QStringList{"2025-12-14 1 1", "2025-12-15 10 10", "2026-01-14 100 100"}
            << QDate(2026, 1, 14) << QDate(2025, 12, 15) << QList<qulonglong>{100, 100, 110, 110, 0};
        QTest::newRow("month start 15, on it") << 15
            << QStringList{"2026-01-14 1 1", "2026-01-15 10 10"}
            << QDate(2026, 1, 15) << QDate(2026, 1, 15) << QList<qulonglong>{10, 10, 10, 10, 0};
        QTest::newRow("month start 32 counts as 1") << 32
            << QStringList{"2026-01-31 1 1", "2026-02-01 10 10", "2026-02-28 100 100"}
            << QDate(2026, 2, 28) << QDate(2026, 2, 1) << QList<qulonglong>{100, 100, 110, 110, 0};
        QTest::newRow("clocks go forward") << 1
            << QStringList{"2026-03-29T01:59:59+01:00 1 1", "2026-03-29T03:00:00+02:00 10 10",
                           "2026-03-30T00:00:00.500+02:00 100 100"}
            << QDate(2026, 3, 29) << QDate(2026, 3, 1) << QList<qulonglong>{11, 11, 11, 11, 0};
        QTest::newRow("clocks go back") << 1
            << QStringList{"2026-10-25T02:30:00+02:00 1 1", "2026-10-25T02:30:00+01:00 10 10",
                           "2026-10-25T23:59:59+01:00 100 100 7", "2026-10-26T00:00:01+01:00 5 5"}
            << QDate(2026, 10, 25) << QDate(2026, 10, 1) << QList<qulonglong>{111, 111, 111, 111, 0};
    }
    void arithmetic()
    {
        QFETCH(int, monthStart);
        QFETCH(QStringList, ticks);
        QFETCH(QDate, today);
        QFETCH(QDate, first);
        QFETCH(QList<qulonglong>, want);
        VolumeBook book;
        addTicks(book, ticks);
        const DayVolume day = book.day(today), month = book.month(today, monthStart);
        QCOMPARE(billingMonthStart(today, monthStart), first);
        QCOMPARE((QList<qulonglong>{day.down, day.up, month.down, month.up, qulonglong(book.peakKbit(today))}),
                 want);
    }

    // A save adds the unsaved counts to what the file holds; lines that are
    // no day line stay and are reported.
    void file_data()
    {
        QTest::addColumn<QByteArray>("before");  // null: no file
        QTest::addColumn<QStringList>("ticks");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QList<int>>("damaged");
        QTest::newRow("no file") << QByteArray() << QStringList{"2026-05-02 100 10"}
                                 << QByteArray("2026-05-02,100,10\n") << QList<int>{};
        QTest::newRow("a day in place, a new one at the end")
            << QByteArray("2026-05-02,1,1\n2026-05-01,5,6\n") << QStringList{"2026-05-02 100 10", "2026-05-03 7 0"}
            << QByteArray("2026-05-02,101,11\n2026-05-01,5,6\n2026-05-03,7,0\n") << QList<int>{};
        QTest::newRow("damaged lines")
            << QByteArray("2026-05-0\nDatum;Down;Up\n2026-13-01,1,1\n2026-05-02,1,-1\n\n"
                          "2026-05-02,18446744073709551616,0\n2026-05-02,1,1\r\n")
            << QStringList{"2026-05-02 1 1"}
            << QByteArray("2026-05-0\nDatum;Down;Up\n2026-13-01,1,1\n2026-05-02,1,-1\n"
                          "2026-05-02,18446744073709551616,0\n2026-05-02,2,2\n")
            << QList<int>{1, 2, 3, 4, 6};
        QTest::newRow("a day twice") << QByteArray("2026-05-02,1,1\n2026-05-02,9,9\n")
                                     << QStringList{"2026-05-02 1 0"}
                                     << QByteArray("2026-05-02,2,1\n2026-05-02,9,9\n") << QList<int>{2};
    }
    void file()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, ticks);
        QFETCH(QByteArray, after);
        QFETCH(QList<int>, damaged);
        if (!before.isNull())
            writeFile(path, before);
        VolumeBook book;
        QString problem;
        QList<int> reported;
        QVERIFY(book.load(path, &problem, &reported));
        QCOMPARE(reported, damaged);
        addTicks(book, ticks);
        QVERIFY(book.save(path, &problem));
        QCOMPARE(readFile(path), after);
        QCOMPARE(QDir().entryList(QDir::Files), QStringList{"flowmstr.csv"});
        QCOMPARE(book.day(QDate(2026, 5, 2)).down, parseVolumeText(after)[QDate(2026, 5, 2)].down);
    }

    // A file that is not ours to replace is neither read nor written.
    void unusableFile_data()
    {
        QTest::addColumn<QByteArray>("make");
        QTest::addColumn<QString>("problem");
        QTest::newRow("symbolic link") << QByteArray("echo old > target; ln -s target flowmstr.csv")
                                       << "is a symbolic link";
        QTest::newRow("directory") << QByteArray("mkdir flowmstr.csv") << "is no regular file";
        QTest::newRow("fifo") << QByteArray("mkfifo flowmstr.csv") << "is no regular file";
        QTest::newRow("too large") << QByteArray("head -c 5000000 /dev/zero > flowmstr.csv")
                                   << "is too large";
    }
    void unusableFile()
    {
        QFETCH(QByteArray, make);
        QFETCH(QString, problem);
        QVERIFY(std::system(make.constData()) == 0);
        const QByteArray listing = QFile::encodeName(QDir().entryList().join(u' ')) + readFile("target");
        VolumeBook book;
        QString got;
        addTicks(book, {"2026-05-02 1 1"});
        QVERIFY(!book.save(path, &got));
        QCOMPARE(got, problem);
        QCOMPARE(QFile::encodeName(QDir().entryList().join(u' ')) + readFile("target"), listing);
    }

    // A save killed while it writes (here by the file size limit, at the
    // byte given) leaves the old file as it was.
    void killedWhileWriting_data()
    {
        QTest::addColumn<int>("limit");
        QTest::newRow("first byte") << 0;
        QTest::newRow("middle") << 16;
        QTest::newRow("last byte") << 31;
    }
    void killedWhileWriting()
    {
        QFETCH(int, limit);
        const QByteArray before("2026-05-01,5,6\n2026-05-02,1,1\n");
        writeFile(path, before);
        const pid_t pid = forkChild([&] {
            const rlimit size{rlim_t(limit), rlim_t(limit)};
            VolumeBook book;
            QString problem;
            addTicks(book, {"2026-05-02 100 0"});  // 32 bytes to write
            return setrlimit(RLIMIT_FSIZE, &size) == 0 && book.save(path, &problem);
        });
        QCOMPARE(waitChild(pid), -SIGXFSZ);
        QCOMPARE(readFile(path), before);
    }

    // Two programs saving at once lose nothing of each other's.
    void twoWriters()
    {
        const auto writer = [&] {
            VolumeBook book;
            bool ok = true;
            for (int i = 0; i < 150; ++i) {
                QString problem;
                addTicks(book, {QStringLiteral("2026-05-0%1 1 2").arg(1 + i % 3)});
                ok = book.save(path, &problem) && ok;
            }
            return ok;
        };
        const pid_t first = forkChild(writer), second = forkChild(writer);
        QCOMPARE(waitChild(first), 0);
        QCOMPARE(waitChild(second), 0);
        QCOMPARE(readFile(path), QByteArray("2026-05-01,100,200\n2026-05-02,100,200\n2026-05-03,100,200\n"));
    }
};

int main(int argc, char **argv)
{
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    VolumeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "volume_test.moc"
