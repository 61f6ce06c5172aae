// SPDX-License-Identifier: MIT
// The history window's models: rates per span, the allowance, the events file.
#include "allowance.h"
#include "history.h"
#include "linkevents.h"

#include <QTest>

Q_DECLARE_METATYPE(HistorySpan)

namespace {

const qint64 Midnight = 1767225600;  // 2026-01-01T00:00:00Z

// "second:down:up", or "second:-" while the interface is down.
void feed(RateHistory &history, const QStringList &samples)
{
    for (const QString &s : samples) {
        const QStringList f = s.split(u':');
        MeterSample sample;
        sample.time = QDateTime::fromMSecsSinceEpoch(Midnight * 1000 + qRound64(f[0].toDouble() * 1000));
        sample.measuring = f[1] != u"-";
        sample.downKbit = sample.measuring ? f[1].toLongLong() : 0;
        sample.upKbit = sample.measuring ? f[2].toLongLong() : 0;
        history.add(sample, CaptureProblem::InterfaceDown);
    }
}

QStringList seconds(int count, const QString &rates)
{
    QStringList samples;
    for (int i = 0; i < count; ++i)
        samples << QString::number(i) + rates;
    return samples;
}

QString shown(const RatePoint &p)
{
    return p.measured ? QStringLiteral("%1/%2/%3").arg(p.down).arg(p.up).arg(p.downPeak)
                      : QStringLiteral("gap %1").arg(int(p.gap));
}

QDateTime at(const char *iso)
{
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODate);
}

} // namespace

class VerlaufTest : public QObject
{
    Q_OBJECT

private slots:
    void aggregation_data()
    {
        QTest::addColumn<QStringList>("samples");
        QTest::addColumn<HistorySpan>("span");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("first");  // the oldest points
        QTest::newRow("each second") << QStringList{"0:100:10", "1:200:20"} << HistorySpan::TwoMinutes << 2
                                     << QStringList{"100/10/100", "200/20/200"};
        QTest::newRow("two ticks in one second: each its own")
            << QStringList{"37.009:417:0", "37.968:587:0", "38.97:600:0"} << HistorySpan::TwoMinutes << 3
            << QStringList{"417/0/417", "587/0/587", "600/0/600"};
        QTest::newRow("10 s: measured seconds averaged")
            << QStringList{"0:100:0", "1:300:0", "2:-", "10:50:0"} << HistorySpan::OneHour << 2
            << QStringList{"200/0/300", "50/0/50"};
        QTest::newRow("minute: average and peak") << QStringList{"0:600:0", "30:0:0", "59:300:6"}
                                                  << HistorySpan::OneDay << 1 << QStringList{"300/2/600"};
        QTest::newRow("a minute down: gap with its reason")
            << QStringList{"0:-", "59:-", "60:8:0"} << HistorySpan::OneDay << 2 << QStringList{"gap 4", "8/0/8"};
        QTest::newRow("2 minutes: the last 120 seconds") << seconds(130, ":5:0") << HistorySpan::TwoMinutes << 120
                                                         << QStringList{"5/0/5"};
        QTest::newRow("24 h: 1440 minutes, no more") << seconds(25 * 3600, ":7:1") << HistorySpan::OneDay << 1440
                                                     << QStringList{"7/1/7"};
    }
    void aggregation()
    {
        QFETCH(QStringList, samples);
        QFETCH(HistorySpan, span);
        QFETCH(int, count);
        QFETCH(QStringList, first);
        RateHistory history;
        feed(history, samples);
        const std::vector<RatePoint> points = history.ring(span).points();
        QCOMPARE(int(points.size()), count);
        QStringList got;
        for (int i = 0; i < first.size(); ++i)
            got << shown(points[size_t(i)]);
        QCOMPARE(got, first);
    }

    // Local time is Europe/Berlin (see CMakeLists): the clocks change on
    // 2026-03-29 and 2026-10-25.  Volumes in GB.
    void allowance_data()
    {
        QTest::addColumn<int>("monthStart");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("used");
        // first day, last day, days left, budget GB, projection GB (-1: none), warning level
        QTest::addColumn<QStringList>("want");
        QTest::newRow("half way") << 1 << at("2026-04-16T00:00:00+02:00") << 30 << 15
                                  << QStringList{"2026-04-01", "2026-04-30", "15", "1", "30", "0"};
        QTest::newRow("80 %") << 1 << at("2026-04-16T00:00:00+02:00") << 30 << 24
                              << QStringList{"2026-04-01", "2026-04-30", "15", "0.4", "48", "80"};
        QTest::newRow("over") << 1 << at("2026-04-30T12:00:00+02:00") << 30 << 31
                              << QStringList{"2026-04-01", "2026-04-30", "1", "0", "31.5254", "100"};
        QTest::newRow("31st in February: its last day") << 31 << at("2026-02-28T00:00:00+01:00") << 31 << 0
                                                        << QStringList{"2026-02-28", "2026-03-30", "31", "1", "-1", "0"};
        QTest::newRow("31st, in March before it") << 31 << at("2026-03-15T00:00:00+01:00") << 0 << 0
                                                  << QStringList{"2026-02-28", "2026-03-30", "16", "0", "0", "0"};
        QTest::newRow("30th in a leap year's February") << 30 << at("2028-02-29T00:00:00+01:00") << 0 << 0
                                                        << QStringList{"2028-02-29", "2028-03-29", "30", "0", "-1", "0"};
        QTest::newRow("29th, 1 to 28 as always") << 29 << at("2026-01-29T00:00:00+01:00") << 0 << 0
                                                 << QStringList{"2026-01-29", "2026-02-27", "30", "0", "-1", "0"};
        QTest::newRow("March: 743 hours") << 1 << at("2026-03-29T12:00:00+02:00") << 1000 << 683
                                          << QStringList{"2026-03-01", "2026-03-31", "3", "105.667", "743", "0"};
        QTest::newRow("October: 745 hours") << 1 << at("2026-10-25T12:00:00+01:00") << 1000 << 589
                                            << QStringList{"2026-10-01", "2026-10-31", "7", "58.7143", "745", "0"};
    }
    void allowance()
    {
        QFETCH(int, monthStart);
        QFETCH(QDateTime, now);
        QFETCH(int, limit);
        QFETCH(int, used);
        QFETCH(QStringList, want);
        const uint64_t GB = 1000000000;
        const AllowanceFigures f = allowanceFigures(limit * GB, used * GB, now, monthStart);
        const QDate first = billingMonthStart(now.date(), monthStart);
        const QStringList got{first.toString(Qt::ISODate), billingMonthEnd(first, monthStart).toString(Qt::ISODate),
                              QString::number(f.daysLeft), QString::number(double(f.dailyBudget) / GB),
                              f.projected ? QString::number(double(*f.projected) / GB) : QStringLiteral("-1"),
                              QString::number(warningLevel(limit * GB, used * GB))};
        QCOMPARE(got, want);
    }

    void eventsFile_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("event");  // time, keyword, interface, detail
        QTest::addColumn<QByteArray>("first");   // the file's first and last line after
        QTest::addColumn<QByteArray>("last");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("summary");  // outages in the 30 days before the event, seconds off
        const QByteArray down = "2026-05-01T10:00:00+02:00,down,eth0,Schnittstelle nicht aktiv";
        QTest::newRow("into a new file") << QByteArray() << QStringList{"2026-05-01T10:00:00+02:00", "down", "eth0", "Schnittstelle nicht aktiv"}
                                         << down << down << 1 << QString("1 0");
        QTest::newRow("up after down; other lines kept") << "damaged\n" + down + '\n'
            << QStringList{"2026-05-01T10:00:05+02:00", "up", "eth0", "Messung wieder nach 5 s"} << QByteArray("damaged")
            << QByteArray("2026-05-01T10:00:05+02:00,up,eth0,Messung wieder nach 5 s") << 3 << QString("1 5");
        QTest::newRow("commas and quotes quoted")
            << QByteArray() << QStringList{"2026-05-01T10:00:00+02:00", "test-ok", "a,b", "sagt \"ja\""} << QByteArray()
            << QByteArray("2026-05-01T10:00:00+02:00,test-ok,\"a,b\",\"sagt \"\"ja\"\"\"") << 1 << QString("0 0");
        QTest::newRow("offset zero written as such") << QByteArray() << QStringList{"2026-05-01T08:00:00+00:00", "start", "", ""}
            << QByteArray("2026-05-01T08:00:00+00:00,start,,") << QByteArray() << 1 << QString("0 0");
        QTest::newRow("older than 400 days dropped") << QByteArray("2025-03-01T10:00:00+01:00,start,,x\n2025-04-01T10:00:00+02:00,start,,y\n")
            << QStringList{"2026-05-01T10:00:00+02:00", "stop", "", "z"} << QByteArray("2025-04-01T10:00:00+02:00,start,,y")
            << QByteArray("2026-05-01T10:00:00+02:00,stop,,z") << 2 << QString("0 0");
        QTest::newRow("the last 10,000 lines") << QByteArray("2026-05-01T09:00:00+02:00,start,,1\n").repeated(10000)
            << QStringList{"2026-05-01T10:00:00+02:00", "stop", "", "2"} << QByteArray("2026-05-01T09:00:00+02:00,start,,1")
            << QByteArray("2026-05-01T10:00:00+02:00,stop,,2") << 10000 << QString("0 0");
        QTest::newRow("30 days: from the window's start; two programs' downs once")
            << QByteArray("2026-03-31T10:00:00+02:00,down,eth0,\n2026-03-31T10:00:01+02:00,down,eth0,\n"
                          "2026-04-02T10:00:00+02:00,up,eth0,\n")
            << QStringList{"2026-05-01T10:00:00+02:00", "stop", "", ""} << QByteArray() << QByteArray() << 4
            << QString("1 86400");
    }
    void eventsFile()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, event);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, last);
        QFETCH(int, lines);
        QFETCH(QString, summary);
        const LineEvent e{at(event[0].toLatin1()), event[1], event[2], event[3]};
        const QByteArray after = appendEventLine(before, eventLine(e), e.time);
        const QList<QByteArray> got = after.split('\n');
        QCOMPARE(got.size() - 1, lines);
        if (!first.isEmpty())
            QCOMPARE(got.first(), first);
        if (!last.isEmpty())
            QCOMPARE(got[got.size() - 2], last);
        const auto back = parseEventLine(got[got.size() - 2]);
        QVERIFY(back && back->time == e.time && back->interface == e.interface && back->detail == e.detail);
        const OutageSummary s = outagesSince(parseEvents(after), e.time.addDays(-30), e.time);
        QCOMPARE(QStringLiteral("%1 %2").arg(s.outages).arg(s.offSeconds), summary);
    }
};

QTEST_GUILESS_MAIN(VerlaufTest)
#include "verlauf_test.moc"
