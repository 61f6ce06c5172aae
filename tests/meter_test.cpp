// SPDX-License-Identifier: MIT
// The meter's state machine through a fake capture source: no root, no
// window, no network.
#include "meter.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <cstring>
#include <functional>

#include <pthread.h>
#include <time.h>

namespace {

// How a fake capture behaves once started.
enum class Run {
    Count,    // counts the bytes put into `pending` until it is stopped
    Fail,     // returns at once, as a capture that could not open
    Outlive,  // ignores its cancellation for 2.5 s, counting all the while
};

void sleepMs(long ms)
{
    const timespec pause{ms / 1000, ms % 1000 * 1000000};
    nanosleep(&pause, nullptr);
}

void countFrame(PLIBFMSINFO record, uint32_t bytes)
{
    record->direction = 0;
    record->nrbytes = bytes;
    record->cb(record);
}

class FakeSource : public CaptureSource
{
public:
    InterfaceState state;
    Run run = Run::Count;
    CaptureProblem afterEnd = CaptureProblem::CaptureFailed;
    std::atomic<uint32_t> pending{0};
    std::atomic<int> starts{0};

    FakeSource()
    {
        state.listed = state.up = true;
        std::strcpy(state.resolved.interface, "eth0");
        state.resolved.ownip = 0xc0000201;
    }

    InterfaceState follow(int32_t &number, QString &name, int) override
    {
        number = state.resolved.index;
        name = QString::fromLatin1(state.resolved.interface);
        return state;
    }

    int capture(PLIBFMSINFO record) override
    {
        const Run mode = run;
        ++starts;
        if (mode == Run::Fail)
            return -4;
        if (mode == Run::Outlive) {
            pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
            for (int i = 0; i < 2500; ++i, sleepMs(1))
                countFrame(record, 1);
            return 0;
        }
        // Ends when asked to rather than by cancellation, whose end
        // ThreadSanitizer cannot see.
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        for (; !QThread::currentThread()->isInterruptionRequested(); sleepMs(1))
            if (const uint32_t bytes = pending.exchange(0))
                countFrame(record, bytes);
        return 0;
    }

    CaptureProblem problem(const char *) override { return afterEnd; }
};

struct Fixture {
    FakeSource source;
    Meter meter{source};
    qint64 now = 0;
    QSignalSpy samples{&meter, &Meter::sampled};

    Fixture() { meter.setClock([this] { return now; }); }

    void tick(qint64 ms = 1000)
    {
        now += ms;
        meter.tick();
    }
    // Waits until the running capture has counted what the fake was given.
    bool counted(uint32_t bytes)
    {
        source.pending += bytes;
        return QTest::qWaitFor([&] { return meter.capture() && meter.capture()->down == bytes; });
    }
};

struct Case {
    const char *name;
    std::function<void(Fixture &)> prepare;  // before monitoring starts
    std::function<void(Fixture &)> act;      // then, before the last tick
    bool measuring;
    CaptureProblem problem;  // when not measuring
    int starts;
};

const Case cases[] = {
    {"up: measures from the first tick", {}, {}, true, {}, 1},
    {"missing", [](Fixture &f) { f.source.state.listed = false; }, {}, false,
     CaptureProblem::NoInterface, 0},
    {"down", [](Fixture &f) { f.source.state.up = false; }, {}, false, CaptureProblem::InterfaceDown, 0},
    {"failed capture on a fine interface: tried again after a second",
     [](Fixture &f) { f.source.run = Run::Fail; },
     [](Fixture &f) { QVERIFY(QTest::qWaitFor([&] { return f.source.starts == 2; })); }, false,
     CaptureProblem::CaptureFailed, 2},
    {"no permission: not tried again",
     [](Fixture &f) { f.source.run = Run::Fail; f.source.afterEnd = CaptureProblem::NoPermission; },
     [](Fixture &) { QTest::qWait(1300); }, false, CaptureProblem::NoPermission, 1},
    {"link gone", {}, [](Fixture &f) { f.source.state.listed = false; f.meter.linkChanged(); },
     false, CaptureProblem::NoInterface, 1},
    {"link back", [](Fixture &f) { f.source.state.up = false; },
     [](Fixture &f) { f.source.state.up = true; f.meter.linkChanged(); }, true, {}, 1},
    {"new address", {},
     [](Fixture &f) {
         f.source.state.resolved.ownip = 0xc6336401; f.meter.linkChanged();
         QCOMPARE(f.meter.record().ownip, 0xc6336401u);
     },
     true, {}, 2},
    {"another interface listed before it: its number follows, no restart", {},
     [](Fixture &f) {
         f.source.state.resolved.index = 3;
         f.meter.linkChanged();
         QCOMPARE(f.meter.interfaceNumber(), 3);
     },
     true, {}, 1},
    {"IPv6 only", [](Fixture &f) { f.source.state.listed = false; f.source.state.ipv6Only = true; }, {},
     false, CaptureProblem::OnlyIpv6, 0},
    {"a new IPv6 prefix", {},
     [](Fixture &f) {
         f.source.state.prefixes.insert({{0x20, 0x01, 0x0d, 0xb8}, 64});
         f.meter.linkChanged();
     },
     true, {}, 2},
    {"an event that changes nothing", {}, [](Fixture &f) { f.meter.linkChanged(); }, true, {}, 1},
    {"a restart 10 ms before a tick: figures a tick later",
     {}, [](Fixture &f) { f.meter.restart(); f.tick(10); QCOMPARE(f.samples.count(), 0); }, true, {}, 2},
    {"restart books the unticked bytes to the volume, not to the rates", {},
     [](Fixture &f) {
         QVERIFY(f.counted(5000));
         f.meter.restart();
         QCOMPARE(f.meter.volume().day(QDate::currentDate()).down, 5000u);
         f.tick();
         QCOMPARE(f.samples.last().at(0).value<MeterSample>().downBytes, 0u);
     },
     true, {}, 2},
    {"a capture that outlives its stop keeps its own record", [](Fixture &f) { f.source.run = Run::Outlive; },
     [](Fixture &f) {
         f.source.run = Run::Count;
         f.meter.restart();
         QCOMPARE(f.meter.threadCount(), size_t(2));
         QVERIFY(f.counted(1000));  // exactly: none of the old capture's bytes
         QVERIFY(QTest::qWaitFor([&] { return f.meter.threadCount() == 1; }));
         QCOMPARE(f.meter.capture()->down.load(), 1000u);
     },
     true, {}, 2},
};

} // namespace

class MeterTest : public QObject
{
    Q_OBJECT

private slots:
    void stateMachine_data()
    {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(cases)); ++row)
            QTest::newRow(cases[row].name) << row;
    }
    void stateMachine()
    {
        QFETCH(int, row);
        const Case &c = cases[row];
        Fixture f;
        if (c.prepare)
            c.prepare(f);
        const int first = f.source.state.listed && f.source.state.up ? 1 : 0;
        f.meter.monitor(0, QString(), 0);
        QVERIFY(QTest::qWaitFor([&] { return f.source.starts == first; }));
        if (c.act)
            c.act(f);
        // Every ended capture's thread is deleted.
        QVERIFY(QTest::qWaitFor([&] { return f.meter.threadCount() == size_t(c.measuring ? 1 : 0); }));
        f.tick();
        QCOMPARE(f.meter.measuring(), c.measuring);
        if (!c.measuring)
            QCOMPARE(int(f.meter.problem()), int(c.problem));
        QVERIFY(QTest::qWaitFor([&] { return f.source.starts == c.starts; }));
    }
};

QTEST_GUILESS_MAIN(MeterTest)
#include "meter_test.moc"
