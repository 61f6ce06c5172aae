// SPDX-License-Identifier: MIT
// The connection-test button: its three states, the glyph timer, and the
// explanations after a failure, with interfaces named like PPP links, and a
// success against pppoe-server.  Runs in the test's own network namespace;
// needs root.
#include "capturethread.h"
#include "core.h"
#include "meter.h"
#include "support.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstring>
#include <memory>

namespace {

const QString TestImpossible = QStringLiteral(
    "Orba-DSL Verbindungstest nicht möglich.\n"
    "Der Orba-DSL Verbindungstest kann nur durchgeführt\n"
    "werden, wenn keine aktive Verbindung zum Internet besteht.");
const QString TestFailedStart = QStringLiteral("Der Orba-DSL Verbindungstest ist gescheitert!\n");

QColor pixelOf(const QIcon &icon, QIcon::Mode mode, int x, int y)
{
    return icon.pixmap(QSize(18, 18), mode).toImage().pixelColor(x, y);
}

} // namespace

class ConnectionCheckTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<ModalCloser> closer;
    std::unique_ptr<TMainForm> form;
    QToolButton *button = nullptr;
    QTimer *glyphTimer = nullptr;
    bool timerRanAtBox = true;

    // A window monitoring interface `number` with the given connection type.
    void start(int number, int location = 0)
    {
        writeIniFile(QStringLiteral("[settings]\nfirstrun=1\ninterface=%1\nlocation=%2\n")
                         .arg(number).arg(location).toLatin1());
        closer = std::make_unique<ModalCloser>([this](QWidget *) {
            timerRanAtBox = timerRanAtBox && glyphTimer->isActive();
        });
        form = std::make_unique<TMainForm>();
        button = child<QToolButton>(form.get(), "ConnectionCheck");
        glyphTimer = child<QTimer>(form.get(), "GlyphTimer");
    }

private slots:
    void initTestCase()
    {
        testnet::addVeth("fmscc0", "192.0.2.1/24", "fmscc1", "");
        QVERIFY(QDir::setCurrent(dir.path()));
    }

    void cleanup()
    {
        form.reset();
        closer.reset();
    }

    void states_data()
    {
        QTest::addColumn<int>("location");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QColor>("disabledCentre");
        QTest::addColumn<QColor>("disabledCorner");
        const QColor grey(128, 128, 128), clear(0, 0, 0, 0);
        const QColor red(220, 0, 0), green(0, 170, 0);
        const QString ready = QStringLiteral("Verbindungstest durchführen");
        for (int location : {0, 1, 2}) {
            const QByteArray l = QByteArray::number(location);
            QTest::newRow("ready, location " + l)
                << location << 1 << ready << (location != 1) << grey << clear;
            QTest::newRow("failed, location " + l)
                << location << 2 << QStringLiteral("Verbindungstest gescheitert") << false << grey
                << red;
            QTest::newRow("succeeded, location " + l)
                << location << 3 << QStringLiteral("Verbindungstest erfolgreich") << false << grey
                << green;
        }
    }
    void states()
    {
        QFETCH(int, location);
        QFETCH(int, state);
        QFETCH(QString, hint);
        QFETCH(bool, enabled);
        QFETCH(QColor, disabledCentre);
        QFETCH(QColor, disabledCorner);
        start(99, location);
        form->SetCheckState(state);
        QCOMPARE(button->toolTip(), hint);
        QCOMPARE(button->isEnabled(), enabled);
        const QIcon icon = button->icon();
        QCOMPARE(pixelOf(icon, QIcon::Normal, 9, 9), QColor(Qt::black));
        QCOMPARE(pixelOf(icon, QIcon::Normal, 1, 1).alpha(), 0);
        QCOMPARE(pixelOf(icon, QIcon::Disabled, 9, 9), disabledCentre);
        QCOMPARE(pixelOf(icon, QIcon::Disabled, 1, 1), disabledCorner);
    }

    // A failed test (the record names no interface): red state, the timer
    // running before the box opens, box B alone, ready again after 5 s.
    void failureWithoutPppLink()
    {
        start(99);
        QVERIFY(button->isEnabled());
        QElapsedTimer waited;
        waited.start();
        button->click();
        QCOMPARE(closer->seen.size(), 1);
        QVERIFY(closer->seen[0].startsWith(TestFailedStart));
        QVERIFY(closer->seen[0].endsWith(QStringLiteral("Rufnummer 0800 000 0001.")));
        QCOMPARE(closer->seen[0].count(u'\n'), 7);
        QVERIFY(timerRanAtBox);
        QCOMPARE(button->toolTip(), QStringLiteral("Verbindungstest gescheitert"));
        QVERIFY(!button->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 6000);
        QVERIFY(waited.elapsed() >= 5000);
        QCOMPARE(button->toolTip(), QStringLiteral("Verbindungstest durchführen"));
        QVERIFY(!glyphTimer->isActive());
    }

    // One box A for each interface named like a PPP link, and no box B.
    void failureWithPppLinks()
    {
        testnet::addVeth("ppp0", "198.51.100.1/32", "xppp0", "198.51.100.2/32");
        testnet::addVeth("PPP1", "198.51.100.3/32", "pp0", "198.51.100.4/32");
        start(99);
        button->click();
        testnet::run("ip link del ppp0 && ip link del PPP1");
        QCOMPARE(closer->seen, QStringList({TestImpossible, TestImpossible}));
        QVERIFY(timerRanAtBox);
    }

    void success()
    {
        const int server = testnet::startProcess(
            {"pppoe-server", "-F", "-I", "fmscc1", "-C", "fms-test-ac", "-S", "fms-test"});
        start(testnet::interfaceNumber("fmscc0"));
        for (int i = 0; i < 50; ++i) {  // until the server answers
            LIBFMSINFO probe = form->meter().record();
            if (libfms_testodsl(&probe) == 0)
                break;
        }
        button->click();
        testnet::stopProcess(server);
        QCOMPARE(button->toolTip(), QStringLiteral("Verbindungstest erfolgreich"));
        QVERIFY(!button->isEnabled());
        QVERIFY(glyphTimer->isActive());
        QVERIFY(closer->seen.isEmpty());
    }
};

int main(int argc, char **argv)
{
    return qtTestMain<ConnectionCheckTest>(argc, argv);
}

#include "connectioncheck_test.moc"
