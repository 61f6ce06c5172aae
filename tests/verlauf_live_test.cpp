// SPDX-License-Identifier: MIT
// The "Verlauf" window on a veth pair in the test's own network namespace:
// the rate graph's pixels after a step, an hour down in the day's span, the
// day bars of a planted volume file, the events of a link down for 5 s, and
// the allowance's warnings on a private session bus.  Needs root.
#include "capturethread.h"
#include "core.h"
#include "linkevents.h"
#include "meter.h"
#include "support.h"
#include "verlauf.h"
#include "verlaufform.h"

#include <QAction>
#include <QComboBox>
#include <QDBusConnection>
#include <QDoubleSpinBox>
#include <QMouseEvent>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>

#include <sys/prctl.h>

#include <csignal>

namespace {

const char *const Local = "fmsvl0";  // 192.0.2.1, as steadyframes sends to
const char *const Peer = "fmsvl1";
const int Speed = 768;
const QColor Hatch(128, 128, 128);

// `perSecond` download frames of `bytes` each, for `seconds`; its PID.
int sendDownload(int perSecond, int bytes, int seconds)
{
    return testnet::startProcess({STEADYFRAMES, Peer, Local, std::to_string(perSecond),
                                  std::to_string(bytes), std::to_string(seconds)});
}

TVerlaufForm *openVerlauf(TMainForm &form)
{
    child<QAction>(&form, "Verlauf1")->trigger();
    return form.findChild<TVerlaufForm *>();
}

// The download rate the graph's newest slot shows: the top of its bar.
int shownKbit(TVerlaufForm *window)
{
    const QImage graph = child<QWidget>(window, "RateGraph")->grab().toImage();
    const RateView view = window->rateView();
    const int x = rateColumn(view, graph.width(), view.points.back().start);
    for (int y = 0; y < graph.height(); ++y)
        if (graph.pixelColor(x, y) == DownloadColour)
            return (graph.height() - 1 - y) * Speed / (graph.height() - 1);
    return 0;
}

int pixelsOf(const QImage &image, int x, const QColor &colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        count += image.pixelColor(x, y) == colour;
    return count;
}

// A notification service that notes the summaries; in a thread of its own,
// as the program waits for the answer.
class Notifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries()
    {
        QMutexLocker lock(&mutex);
        return got;
    }

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &,
                const QStringList &, const QVariantMap &, int)
    {
        QMutexLocker lock(&mutex);
        got << summary;
        return uint(got.size());
    }

private:
    QMutex mutex;
    QStringList got;
};

} // namespace

class VerlaufLiveTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        testnet::addVeth(Local, "192.0.2.1/24", Peer, "");
    }

    // Each case in a directory of its own, monitoring the veth pair.
    void init()
    {
        QVERIFY(QDir(dir.path()).mkdir(QTest::currentTestFunction()));
        QVERIFY(QDir::setCurrent(dir.filePath(QTest::currentTestFunction())));
        writeIniFile("[settings]\nfirstrun=1\nspeed=768\ninterfacename=fmsvl0\n");
    }

    // Real traffic and a real link through the main window, over a planted
    // volume file: a step to 600 kbit/s, the day bars, a link down for 5 s.
    void rateStepDayBarsAndALinkDown()
    {
        const QDate today = QDate::currentDate(), first = billingMonthStart(today, 1);
        QByteArray planted = first.addDays(-1).toString(Qt::ISODate).toLatin1() + ",50000000000,0\n";
        for (QDate d = first; d <= today; d = d.addDays(1))
            planted += QStringLiteral("%1,%2,%3\n").arg(d.toString(Qt::ISODate)).arg((first.daysTo(d) + 1) * 1000000000)
                           .arg((first.daysTo(d) + 1) * 250000000).toLatin1();
        writeFile(VolumeFileName, planted);
        TMainForm form;
        TVerlaufForm *window = openVerlauf(form);
        testnet::PacketSocket peer(Peer);
        const testnet::Frame marker = testnet::ipv4Frame(testnet::macOf(Local), testnet::macOf(Peer),
                                                         "198.51.100.9", "192.0.2.1", 60);
        QVERIFY(testnet::sendUntilCounted(peer, marker, [&] {
            const Capture *capture = form.meter().capture();
            return capture && capture->down > 0;
        }));
        // Qt shifts a coarse timer by up to 5 % a tick until it has settled;
        // meanwhile two ticks can end in one second and share its slot.
        QSignalSpy ticks(&form.meter(), &Meter::sampled);
        QVERIFY(msUntil([&] {
            return !ticks.isEmpty() && qAbs(ticks.last()[0].value<MeterSample>().elapsedMs - 1000) < 10;
        }, 15000) >= 0);
        QCOMPARE(shownKbit(window), 0);

        QTest::qWait(300);  // into a tick: the next one sees part of the step
        const int sender = sendDownload(50, 1500, 4);
        const qint64 ms = msUntil([&] { return qAbs(shownKbit(window) - 600) <= 30; }, 3000);
        qInfo("600 kbit/s shown %lld ms after the step", ms);
        QVERIFY(ms >= 0 && ms <= 2000);
        testnet::stopProcess(sender);

        child<QTabWidget>(window, "Seiten")->setCurrentIndex(1);
        const QImage bars = child<QWidget>(window, "DayBars")->grab().toImage();
        const std::vector<DayVolume> days = window->monthDays();
        const int slot = bars.width() / int(days.size()), bar = std::max(1, (slot - 2) / 2);
        const double top = 1e9 * double(first.daysTo(today) + 1);
        for (int i = 0; i < int(days.size()); ++i) {
            const double down = i <= first.daysTo(today) ? 1e9 * (i + 1) : 0;
            const int x = i * slot + 1 + bar / 2;
            QVERIFY(qAbs(pixelsOf(bars, x, DownloadColour) - down * bars.height() / top) <= 1);
            QVERIFY(qAbs(pixelsOf(bars, x + bar, UploadColour) - down / 4 * bars.height() / top) <= 1);
        }

        testnet::setLinkUp(Local, false);
        QElapsedTimer down;
        down.start();
        QTest::qWait(5000);
        testnet::setLinkUp(Local, true);
        const qint64 truth = down.elapsed();
        QVERIFY(msUntil([&] { return form.meter().measuring(); }, 3000) >= 0);
        QList<LineEvent> outage;
        for (const LineEvent &e : readEvents(EventsFileName))
            if (e.keyword == "down" || e.keyword == "up")
                outage << e;
        QCOMPARE(outage.size(), 2);
        QCOMPARE(outage[0].keyword + outage[1].keyword, QStringLiteral("downup"));
        const qint64 told = outage[1].detail.section(u' ', -2, -2).toLongLong() * 1000;
        qInfo("down for %lld ms; the file says %s", truth, qPrintable(outage[1].detail));
        QVERIFY(qAbs(told - truth) <= 1000);
    }

    // A day's history through the meter's signal: its first ten minutes
    // before monitoring started, an hour with the interface down.
    void dayWithAnHourDown()
    {
        testnet::setLinkUp(Local, false);
        const auto up = qScopeGuard([] { testnet::setLinkUp(Local, true); });
        Meter meter;
        Settings values;
        QWidget host;
        Verlauf verlauf(meter, values, &host);
        const qint64 now = QDateTime::currentSecsSinceEpoch(), begin = now - 86400, gone = now - 43200;
        for (qint64 s = begin; s < now; ++s) {
            if (s == begin + 600)
                meter.monitor(testnet::interfaceNumber(Local), Local, 0);
            const bool measured = s >= begin + 600 && (s < gone || s >= gone + 3600);
            emit meter.sampled({QDateTime::fromSecsSinceEpoch(s), 1000, 0, 0, measured ? 500 : 0, 0, measured});
        }
        verlauf.showWindow();
        auto *window = host.findChild<TVerlaufForm *>();
        child<QComboBox>(window, "Zeitraum")->setCurrentIndex(2);
        QWidget *graph = child<QWidget>(window, "RateGraph");
        const QImage image = graph->grab().toImage();
        const RateView view = window->rateView();
        for (const qint64 at : {gone - 1800, gone + 1800, gone + 5400}) {
            const int x = rateColumn(view, image.width(), at), downPixels = pixelsOf(image, x, DownloadColour);
            const bool gap = at > gone && at < gone + 3600;
            QVERIFY2(gap ? downPixels == 0 && pixelsOf(image, x, Hatch) > 4 : downPixels > 4, qPrintable(QString::number(at - gone)));
        }
        const auto tipAt = [&](qint64 second) {
            const QPointF at(rateColumn(view, image.width(), second), 10);
            QMouseEvent move(QEvent::MouseMove, at, graph->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(graph, &move);
            return graph->toolTip().section(u' ', 1);
        };
        QCOMPARE(tipAt(gone + 1800), QStringLiteral("Keine Messung: Die Netzwerkschnittstelle fmsvl0 ist nicht aktiv."));
        QCOMPARE(tipAt(begin + 300), QStringLiteral("Keine Messung"));
    }

    // An allowance just above the month's volume: one warning at 80 %, one
    // at 100 %, none again after a restart.
    void allowanceWarnsOncePerLevel()
    {
        QProcess bus;
        bus.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        QVERIFY(bus.waitForReadyRead(5000));
        const QByteArray address = bus.readLine().trimmed();
        const auto stopBus = qScopeGuard([&] { bus.terminate(); bus.waitForFinished(); });
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QThread serviceThread;
        Notifications service;
        service.moveToThread(&serviceThread);
        serviceThread.start();
        const auto stopService = qScopeGuard([&] { serviceThread.quit(); serviceThread.wait(); });
        QDBusConnection connection = QDBusConnection::connectToBus(QString::fromLatin1(address), "notifications");
        QVERIFY(connection.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
        QVERIFY(connection.registerService("org.freedesktop.Notifications"));

        writeFile(VolumeFileName, QDate::currentDate().toString(Qt::ISODate).toLatin1() + ",750000,0\n");
        const QStringList both{"Datenvolumen: 80 % erreicht", "Datenvolumen: Limit erreicht"};
        {
            TMainForm form;
            child<QDoubleSpinBox>(openVerlauf(form), "Volumenlimit")->setValue(0.001);  // 1 MB
            QVERIFY(msUntil([&] { return form.meter().measuring(); }, 3000) >= 0);
            waitChild(sendDownload(100, 1000, 1));
            QTRY_COMPARE(service.summaries(), both.mid(0, 1));
            waitChild(sendDownload(200, 1000, 1));
            QTRY_COMPARE(service.summaries(), both);
            form.close();
        }
        TMainForm again;
        QTest::qWait(3000);
        QVERIFY(again.meter().volume().day(QDate::currentDate()).down > 1000000);
        QCOMPARE(service.summaries(), both);
    }
};

int main(int argc, char **argv)
{
    return qtTestMain<VerlaufLiveTest>(argc, argv);
}

#include "verlauf_live_test.moc"
