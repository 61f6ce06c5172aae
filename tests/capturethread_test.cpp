// SPDX-License-Identifier: MIT
// Monitoring through the main window's RestartCapture on real veth pairs in
// the test's own network namespace, and how it follows its interface through
// link and address changes.  Needs root.
#include "capturethread.h"
#include "core.h"
#include "meter.h"
#include "support.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QToolButton>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;

namespace {

const char *const Remote = "198.51.100.7";

// A sanitizer keeps freed memory back and finds leaks itself: resident
// memory is then no measure of them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool ResidentMemoryShowsLeaks = false;
#else
constexpr bool ResidentMemoryShowsLeaks = true;
#endif

// Ethernet frames to (download) or from (upload) our end of a veth pair.
struct Link {
    const char *local;
    const char *localIp;
    const char *peer;

    testnet::Frame download(size_t size) const
    {
        return testnet::ipv4Frame(testnet::macOf(local), testnet::macOf(peer), Remote, localIp,
                                  size);
    }
    testnet::Frame upload(size_t size) const
    {
        return testnet::ipv4Frame(testnet::macOf(peer), testnet::macOf(local), localIp, Remote,
                                  size);
    }
};

const Link First{"fmsct0", "192.0.2.1", "fmsct1"};
const Link Second{"fmsct2", "192.0.2.129", "fmsct3"};

// Points the settings at the interface, as the settings dialog does.
void choose(const char *interface)
{
    settings.interface = testnet::interfaceNumber(interface);
    settings.interfacename = interface;
}

// The running capture's counts since the last look.
void takeCounts(const TMainForm &form, uint32_t &down, uint32_t &up)
{
    Capture *capture = form.meter().capture();
    down = capture ? capture->down.exchange(0) : 0;
    up = capture ? capture->up.exchange(0) : 0;
}

uint32_t downloadCount(const TMainForm &form)
{
    Capture *capture = form.meter().capture();
    return capture ? capture->down.load() : 0;
}

// Sends download frames on the link until the running capture counts them,
// then clears the counts.
bool waitUntilCounting(const TMainForm &form, const Link &link)
{
    testnet::PacketSocket peer(link.peer);
    const bool counting =
        testnet::sendUntilCounted(peer, link.download(100), [&] { return downloadCount(form) > 0; });
    uint32_t down, up;
    takeCounts(form, down, up);
    return counting;
}

bool captureOpen(const TMainForm &form)
{
    Capture *capture = form.meter().capture();
    return capture && __atomic_load_n(&capture->record.pd, __ATOMIC_ACQUIRE) != nullptr;
}

// Waits, at most two seconds, for the running capture to open its handle.
bool captureOpened(const TMainForm &form)
{
    for (int i = 0; i < 2000; i++) {
        if (captureOpen(form))
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

} // namespace

class CaptureThreadTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        testnet::addVeth(First.local, "192.0.2.1/25", First.peer, "");
        testnet::addVeth(Second.local, "192.0.2.129/25", Second.peer, "");
        QVERIFY(QDir::setCurrent(dir.path()));
    }

    // Each window starts monitoring the loopback interface.
    void init()
    {
        writeIniFile("[settings]\nfirstrun=1\ninterface=0\n");
    }

    void countsBothDirectionsByteExact()
    {
        TMainForm form;
        choose(First.local);
        form.RestartCapture();
        QVERIFY(waitUntilCounting(form, First));

        testnet::PacketSocket peer(First.peer), local(First.local);
        uint32_t sent = 0;
        for (size_t size : {60, 577, 1514, 1514, 1514}) {
            peer.send(First.download(size));
            local.send(First.upload(size));
            sent += size;
        }
        std::this_thread::sleep_for(200ms);
        uint32_t down, up;
        takeCounts(form, down, up);
        QCOMPARE(down, sent);
        QCOMPARE(up, sent);
        QCOMPARE(form.meter().record().countall, 0);
        QVERIFY(form.meter().record().cb == CaptureCallback);
    }

    void restartMovesCountingToTheNewInterface()
    {
        TMainForm form;
        choose(First.local);
        form.RestartCapture();
        QVERIFY(waitUntilCounting(form, First));

        choose(Second.local);
        form.RestartCapture();
        QCOMPARE(form.meter().record().interface, Second.local);
        QVERIFY(waitUntilCounting(form, Second));

        testnet::PacketSocket(First.peer).send(First.download(1000));
        testnet::PacketSocket(Second.peer).send(Second.download(700));
        std::this_thread::sleep_for(200ms);
        QCOMPARE(downloadCount(form), 700u);
    }

    void notMeasuringShowsBlanksAndTheReason_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("hint");
        QTest::newRow("without CAP_NET_RAW") << "no permission" << "sudo setcap cap_net_raw+ep ";
        QTest::newRow("number beyond the list")
            << "number 99" << "Die Netzwerkschnittstelle Nr. 99 gibt es nicht";
        QTest::newRow("interface down") << "down" << "Netzwerkschnittstelle fmsct4 ist nicht aktiv";
        QTest::newRow("interface gone while measuring")
            << "deleted" << "Die Netzwerkschnittstelle fmsct4 gibt es nicht";
        QTest::newRow("settings unreadable")
            << "unreadable settings" << "Die Einstellungsdatei flowmstr.ini ist nicht lesbar";
    }

    // No capture: blank cells, no bar, the reason as the readouts' hint,
    // however many bytes the tick finds.
    void notMeasuringShowsBlanksAndTheReason()
    {
        QFETCH(QString, situation);
        QFETCH(QString, hint);
        testnet::addVeth("fmsct4", "192.0.2.65/26", "fmsct5", "");
        const auto removeLink = qScopeGuard([] { std::system("ip link del fmsct4 2>/dev/null"); });
        writeIniFile("[settings]\nfirstrun=1\ninterface=" +
                     QByteArray::number(situation == "number 99" ? 99 : testnet::interfaceNumber("fmsct4")));
        if (situation == "down")
            testnet::run("ip link set fmsct4 down");
        if (situation == "unreadable settings") {
            QVERIFY(QDir().mkdir(QStringLiteral("elsewhere")) && QDir::setCurrent("elsewhere"));
            writeIniFile("[settings]\nfirstrun=1\n");
            QVERIFY(QFile::setPermissions(QStringLiteral("flowmstr.ini"), {}));
        }
        const auto back = qScopeGuard([this] { QDir::setCurrent(dir.path()); });
        QVERIFY(setNetRaw(situation != "no permission"));
        const auto netRawBack = qScopeGuard([] { setNetRaw(true); });
        ModalCloser closer;
        filesAsNobody(situation == "unreadable settings");
        TMainForm form;
        filesAsNobody(false);
        if (situation == "deleted") {
            QTest::qWait(100);
            testnet::run("ip link del fmsct4");
        }
        QWidget *large = child<QWidget>(&form, "LargeBox");
        QTRY_VERIFY(large->toolTip().contains(hint));
        QVERIFY(large->toolTip().startsWith("Keine Messung: "));
        QCOMPARE(child<QWidget>(&form, "SmallBox")->toolTip(), large->toolTip());

        if (Capture *capture = form.meter().capture())
            capture->down = 96000;
        QMetaObject::invokeMethod(child<QTimer>(&form, "Timer1"), "timeout");
        QCOMPARE(readoutGlyphs(large), QList<int>({10, 10, 10, 10}));
        QCOMPARE(readoutGlyphs(child<QWidget>(&form, "SmallBox")), QList<int>({10, 10, 10, 10}));
        QCOMPARE(child<QWidget>(&form, "Gauge")->grab().toImage().pixelColor(0, 3),
                 form.palette().color(QPalette::Window));
    }

    // Restarts that meet a capture thread at any point of failing and ending.
    void restartsOfAFailingCapture()
    {
        TMainForm form;
        choose(First.local);
        QVERIFY(setNetRaw(false));
        for (int i = 0; i < 300; i++) {
            form.RestartCapture();
            std::this_thread::sleep_for(std::chrono::microseconds(i % 50 * 20));
        }
        QVERIFY(setNetRaw(true));
        QTRY_COMPARE(form.meter().threadCount(), size_t(0));  // every failed capture's thread deleted
    }

    void restartsLeaveNothingBehind()
    {
        TMainForm form;
        choose(First.local);
        for (int i = 0; i < 20; i++)
            form.RestartCapture();
        QTest::qWait(100);
        const int threads = testnet::threadCount();
        const int fds = testnet::openFdCount();
        const long rss = testnet::residentKiB();

        // Each restart cancels a capture that has opened its handle.
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000; i++) {
            form.RestartCapture();
            QVERIFY(captureOpened(form));
        }
        const double ms = std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now() - start).count();
        QTest::qWait(100);
        qInfo("1000 restarts: %.1f ms each; threads %d -> %d, fds %d -> %d, RSS %ld -> %ld KiB",
              ms / 1000, threads, testnet::threadCount(), fds, testnet::openFdCount(), rss,
              testnet::residentKiB());
        QCOMPARE(testnet::threadCount(), threads);
        QCOMPARE(testnet::openFdCount(), fds);
        QVERIFY(!ResidentMemoryShowsLeaks || testnet::residentKiB() - rss < 2048);
        QVERIFY(waitUntilCounting(form, First));
    }

    void followsTheInterface_data()
    {
        QTest::addColumn<QString>("gone");     // takes the interface away, if anything
        QTest::addColumn<QString>("back");     // after this it is to be measured again
        QTest::addColumn<QString>("localIp");  // its address then
        QTest::addColumn<QString>("remote");   // far end of the test traffic
        // A remote inside the old subnet is counted only with the new address.
        const QString anew = "ip link add fmsrc0 type veth peer name fmsrc1 && "
                             "ip link set fmsrc1 up && ip addr add 198.51.100.1/24 dev fmsrc0 && "
                             "ip link set fmsrc0 up";
        QTest::newRow("down and up")
            << "ip link set fmsrc0 down" << "ip link set fmsrc0 up" << "192.0.2.1" << "203.0.113.7";
        QTest::newRow("made anew: new index, new address")
            << "ip link del fmsrc0" << anew << "198.51.100.1" << "192.0.2.100";
        QTest::newRow("new address while up")
            << "" << "ip addr del 192.0.2.1/24 dev fmsrc0 && ip addr add 198.51.100.1/24 dev fmsrc0"
            << "198.51.100.1" << "192.0.2.100";
        QTest::newRow("number moves: an interface before it gets an address")
            << "" << "ip addr add 10.1.1.1/24 dev fmsrc9" << "192.0.2.1" << "203.0.113.7";
    }

    // Monitoring follows the interface by itself: blanks while it is gone,
    // figures within two seconds, then exact bytes in the right direction.
    void followsTheInterface()
    {
        QFETCH(QString, gone);
        QFETCH(QString, back);
        QFETCH(QString, localIp);
        QFETCH(QString, remote);
        const QByteArray here = localIp.toLatin1(), far = remote.toLatin1();
        testnet::addVeth("fmsrc9", "", "fmsrc8", "");  // listed before fmsrc0 once addressed
        testnet::addVeth("fmsrc0", "192.0.2.1/24", "fmsrc1", "");
        const auto remove =
            qScopeGuard([] { std::system("ip link del fmsrc0; ip link del fmsrc9"); });
        writeIniFile("[settings]\nfirstrun=1\ninterface=0\ninterfacename=fmsrc0\n");
        TMainForm form;
        QWidget *large = child<QWidget>(&form, "LargeBox");
        QVERIFY(msUntil([&] { return showsNumbers(large); }, 3000) >= 0);
        if (!gone.isEmpty()) {
            testnet::run(gone.toStdString());
            QTRY_VERIFY(large->toolTip().startsWith("Keine Messung: "));
            QVERIFY(!showsNumbers(large));
        }
        testnet::run(back.toStdString());
        const uint32_t ip = ntohl(inet_addr(here));
        const qint64 ms = msUntil([&] {
            return showsNumbers(large) && form.meter().record().ownip == ip &&
                   settings.interface == testnet::interfaceNumber("fmsrc0");
        });
        qInfo("figures again after %lld ms", ms);
        QVERIFY(ms >= 0);

        child<QTimer>(&form, "Timer1")->stop();  // the counts stay for the test
        uint32_t down, up;
        takeCounts(form, down, up);
        const testnet::Mac localMac = testnet::macOf("fmsrc0"), peerMac = testnet::macOf("fmsrc1");
        testnet::PacketSocket local("fmsrc0"), peer("fmsrc1");
        for (int i = 0; i < 10; ++i) {
            peer.send(testnet::ipv4Frame(localMac, peerMac, far, here, 1514));
            local.send(testnet::ipv4Frame(peerMac, localMac, here, far, 500));
        }
        QTest::qWait(200);
        takeCounts(form, down, up);
        QCOMPARE(down, 15140u);
        QCOMPARE(up, 5000u);
    }

    // A connection test right after a redial, before its events were
    // handled, already sends from the new interface's hardware address.
    void connectionTestAfterARedial()
    {
        testnet::addVeth("fmsrc0", "192.0.2.1/24", "fmsrc1", "");
        const auto remove = qScopeGuard([] { std::system("ip link del fmsrc0"); });
        writeIniFile("[settings]\nfirstrun=1\ninterfacename=fmsrc0\n");
        ModalCloser closer;
        TMainForm form;
        testnet::run("ip link del fmsrc0 && ip link add fmsrc0 type veth peer name fmsrc1 && "
                     "ip addr add 192.0.2.1/24 dev fmsrc0 && ip link set fmsrc0 up && "
                     "ip link set fmsrc1 up");
        testnet::FrameRecorder padis("fmsrc1", 0x8863);
        child<QToolButton>(&form, "ConnectionCheck")->click();
        const testnet::Mac mac = testnet::macOf("fmsrc0");
        const std::vector<testnet::Frame> sent = padis.frames();
        QCOMPARE(sent.size(), size_t(1));
        QVERIFY(std::equal(mac.begin(), mac.end(), sent[0].begin() + 6));
    }

    // Router advertisements that only refresh a prefix restart nothing; a new
    // prefix (its address first tentative, then valid) restarts once.
    void followsIpv6PrefixesFromRouterAdvertisements()
    {
        testnet::addVeth("fmsra0", "192.0.2.1/24", "fmsra1", "");
        const auto remove = qScopeGuard([] { std::system("ip link del fmsra0"); });
        testnet::run("sysctl -qw net.ipv6.conf.all.forwarding=1 net.ipv6.conf.fmsra0.accept_ra=2 "
                     "net.ipv6.conf.fmsra1.accept_dad=0 net.ipv6.conf.fmsra0.disable_ipv6=0 "
                     "net.ipv6.conf.fmsra1.disable_ipv6=0");
        const QString config = dir.filePath("radvd.conf");
        const auto advertise = [&](const char *prefix) {
            writeFile(config, QByteArray("interface fmsra1 { AdvSendAdvert on; MinRtrAdvInterval 3; "
                                         "MaxRtrAdvInterval 4; prefix ") + prefix + " { }; };\n");
            return testnet::startProcess({"radvd", "-n", "-m", "stderr", "-C", config.toStdString(),
                                          "-p", dir.filePath("radvd.pid").toStdString()});
        };
        const auto hasAddress = [](const char *prefix) {
            return msUntil([&] { return std::system(("ip -6 addr show dev fmsra0 | grep -v tentative | grep -q "
                                                      + std::string(prefix)).c_str()) == 0; }, 8000) >= 0;
        };
        int radvd = advertise("2001:db8:1::/64");
        const auto stop = qScopeGuard([&] { testnet::stopProcess(radvd); });
        QVERIFY(hasAddress("2001:db8:1:"));
        Meter meter;
        meter.monitor(testnet::interfaceNumber("fmsra0"), "fmsra0", 0);
        const int generation = meter.generation();
        QTest::qWait(10000);  // three advertisements or more
        QCOMPARE(meter.generation(), generation);

        testnet::stopProcess(radvd);
        radvd = advertise("2001:db8:2::/64");
        const qint64 ms = msUntil([&] { return meter.generation() != generation; }, 8000);
        qInfo("restarted %lld ms after the new prefix's first advertisement was sent for", ms);
        QVERIFY(hasAddress("2001:db8:2:"));
        QTest::qWait(2000);
        QCOMPARE(meter.generation(), generation + 2);  // one stop, one start

        // The new capture knows the new prefix: LAN traffic in it is not counted.
        QVERIFY(msUntil([&] { return meter.capture() && __atomic_load_n(&meter.capture()->record.pd,
                                                                         __ATOMIC_ACQUIRE); }) >= 0);
        const testnet::Mac local = testnet::macOf("fmsra0"), peer = testnet::macOf("fmsra1");
        testnet::PacketSocket sender("fmsra1");
        sender.send(testnet::ipv6Frame(local, peer, "2001:db8:2::99", "2001:db8:2::1", 700));
        sender.send(testnet::ipv6Frame(local, peer, "2001:db8:77::1", "2001:db8:2::1", 500));
        QTRY_COMPARE(meter.capture()->down.load(), 500u);
    }

    // The link goes down and up 1000 times, each time until a capture is open
    // again: threads, descriptors and memory stay as they were.
    void downAndUpCycles()
    {
        testnet::addVeth("fmsrc0", "192.0.2.1/24", "fmsrc1", "");
        const auto remove = qScopeGuard([] { std::system("ip link del fmsrc0"); });
        writeIniFile("[settings]\nfirstrun=1\ninterfacename=fmsrc0\n");
        TMainForm form;
        const auto open = [&form] { return captureOpen(form); };
        QVERIFY(msUntil(open) >= 0);
        const int threads = testnet::threadCount(), fds = testnet::openFdCount();
        const long rss = testnet::residentKiB();
        QList<qint64> opened;
        for (int i = 0; i < 1000; ++i) {
            testnet::setLinkUp("fmsrc0", false);
            QVERIFY(msUntil([&] { return !open(); }) >= 0);
            testnet::setLinkUp("fmsrc0", true);
            opened << msUntil(open);
            QVERIFY(opened.last() >= 0);
        }
        std::sort(opened.begin(), opened.end());
        qInfo("1000 cycles: capture open after link up: median %lld ms, max %lld ms; "
              "threads %d -> %d, fds %d -> %d, RSS %ld -> %ld KiB", opened[500], opened.last(),
              threads, testnet::threadCount(), fds, testnet::openFdCount(), rss,
              testnet::residentKiB());
        QCOMPARE(testnet::threadCount(), threads);
        QCOMPARE(testnet::openFdCount(), fds);
        QVERIFY(!ResidentMemoryShowsLeaks || testnet::residentKiB() - rss < 2048);
    }
};

int main(int argc, char **argv)
{
    return qtTestMain<CaptureThreadTest>(argc, argv);
}

#include "capturethread_test.moc"
