// Monitoring through the main window's RestartCapture on real veth pairs in
// the test's own network namespace.  Needs root.
#include "capturethread.h"
#include "core.h"
#include "qttestmain.h"
#include "testnet.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

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

void takeCounts(uint32_t &down, uint32_t &up)
{
    down = downloadBytes.exchange(0);
    up = uploadBytes.exchange(0);
}

// Sends download frames on the link until the running capture counts them.
bool waitUntilCounting(const Link &link)
{
    testnet::PacketSocket peer(link.peer);
    for (int i = 0; i < 100 && downloadBytes == 0; i++) {
        peer.send(link.download(100));
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(50ms);
    uint32_t down, up;
    takeCounts(down, up);
    return down > 0;
}

// Waits, at most two seconds, for the running capture to open its handle.
bool captureOpened()
{
    for (int i = 0; i < 2000; i++) {
        if (__atomic_load_n(&captureInfo.pd, __ATOMIC_ACQUIRE))
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// Switches CAP_NET_RAW in this thread's effective set; threads it starts
// inherit the set.
bool setNetRaw(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2];
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    if (on)
        data[0].effective |= 1u << CAP_NET_RAW;
    else
        data[0].effective &= ~(1u << CAP_NET_RAW);
    return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

void writeSettingsFile(const QByteArray &text)
{
    QFile file(QStringLiteral("flowmstr.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

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
        writeSettingsFile("[settings]\nfirstrun=1\ninterface=0\n");
        downloadBytes = 0;
        uploadBytes = 0;
    }

    void countsBothDirectionsByteExact()
    {
        TMainForm form;
        settings.interface = testnet::interfaceNumber(First.local);
        form.RestartCapture();
        QVERIFY(waitUntilCounting(First));

        testnet::PacketSocket peer(First.peer), local(First.local);
        uint32_t sent = 0;
        for (size_t size : {60, 577, 1514, 1514, 1514}) {
            peer.send(First.download(size));
            local.send(First.upload(size));
            sent += size;
        }
        std::this_thread::sleep_for(200ms);
        uint32_t down, up;
        takeCounts(down, up);
        QCOMPARE(down, sent);
        QCOMPARE(up, sent);
        QCOMPARE(captureInfo.countall, 0);
        QVERIFY(captureInfo.cb == CaptureCallback);
    }

    void restartMovesCountingToTheNewInterface()
    {
        TMainForm form;
        settings.interface = testnet::interfaceNumber(First.local);
        form.RestartCapture();
        QVERIFY(waitUntilCounting(First));

        settings.interface = testnet::interfaceNumber(Second.local);
        form.RestartCapture();
        QCOMPARE(captureInfo.interface, Second.local);
        QVERIFY(waitUntilCounting(Second));

        testnet::PacketSocket(First.peer).send(First.download(1000));
        testnet::PacketSocket(Second.peer).send(Second.download(700));
        std::this_thread::sleep_for(200ms);
        QCOMPARE(downloadBytes.load(), 700u);
    }

    void failedCaptureStoresItsResult_data()
    {
        QTest::addColumn<bool>("withNetRaw");
        QTest::addColumn<int>("interfaceNumber");
        QTest::newRow("without CAP_NET_RAW") << false << testnet::interfaceNumber(First.local);
        QTest::newRow("number beyond the list, first start") << true << 99;
    }

    // Start-up whose capture cannot open: the result is stored, nothing counts.
    void failedCaptureStoresItsResult()
    {
        QFETCH(bool, withNetRaw);
        QFETCH(int, interfaceNumber);

        writeSettingsFile("[settings]\nfirstrun=1\ninterface=" + QByteArray::number(interfaceNumber));
        std::memset(&captureInfo, 0, sizeof captureInfo);
        captureResult = 0;
        QVERIFY(setNetRaw(withNetRaw));
        TMainForm form;
        QVERIFY(setNetRaw(true));
        QTRY_COMPARE(captureResult.load(), -4);

        testnet::PacketSocket(First.peer).send(First.download(1000));
        std::this_thread::sleep_for(100ms);
        QCOMPARE(downloadBytes.load(), 0u);
    }

    // Restarts that meet a capture thread at any point of failing and ending.
    void restartsOfAFailingCapture()
    {
        TMainForm form;
        settings.interface = testnet::interfaceNumber(First.local);
        QVERIFY(setNetRaw(false));
        for (int i = 0; i < 300; i++) {
            form.RestartCapture();
            std::this_thread::sleep_for(std::chrono::microseconds(i % 50 * 20));
        }
        QVERIFY(setNetRaw(true));
        QTRY_COMPARE(captureResult.load(), -4);
    }

    void restartsLeaveNothingBehind()
    {
        TMainForm form;
        settings.interface = testnet::interfaceNumber(First.local);
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
            QVERIFY(captureOpened());
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
        QVERIFY(waitUntilCounting(First));
    }
};

int main(int argc, char **argv)
{
    return qtTestMain<CaptureThreadTest>(argc, argv);
}

#include "capturethread_test.moc"
