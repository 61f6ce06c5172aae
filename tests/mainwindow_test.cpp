// SPDX-License-Identifier: MIT
// The main window in-process (offscreen): start-up and closing with their
// settings files, the readouts, the gauge, the scale and their hints.
#include "capturethread.h"
#include "core.h"
#include "meter.h"
#include "quitsignals.h"
#include "support.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

namespace {

const QColor Fuchsia(255, 0, 255);
const QColor Zone1(64, 64, 64), Zone2(128, 128, 128), Zone3(160, 160, 160);
const QColor Bar(255, 0, 85);

QImage grabbed(QWidget *form, const char *name)
{
    return child<QWidget>(form, name)->grab().toImage();
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ModalCloser> closer;
    std::unique_ptr<TMainForm> form;
    qint64 now = 0;

    // A main window started in a fresh directory holding `ini` (if any), with
    // a clock that the test moves; by default it monitors the loopback
    // interface.
    void start(const QByteArray &ini = QByteArray("[settings]\nfirstrun=1\ninterface=0\n"))
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        if (!ini.isNull())
            writeIniFile(ini);
        closer = std::make_unique<ModalCloser>();
        form = std::make_unique<TMainForm>();
        child<QTimer>(form.get(), "Timer1")->stop();
        form->meter().setClock([this] { return now; });
        form->show();
    }

    // One tick after `ms` milliseconds in which `down` and `up` bytes came.
    void tick(uint32_t down, uint32_t up, qint64 ms = 1000)
    {
        count(down, up);
        now += ms;
        QMetaObject::invokeMethod(child<QTimer>(form.get(), "Timer1"), "timeout");
    }

    // Bytes as the running capture would count them.
    void count(uint32_t down, uint32_t up = 0)
    {
        Capture *capture = form->meter().capture();
        QVERIFY(capture);
        capture->down = down;
        capture->up = up;
    }

    void compareReadout(const char *box, QList<int> digits)
    {
        QCOMPARE(readoutGlyphs(child<QWidget>(form.get(), box)), digits);
    }

private slots:
    void cleanup()
    {
        form.reset();
        closer.reset();
        QDir::setCurrent(QDir::tempPath());
        dir.reset();
    }

    void firstStartInAnEmptyDirectory()
    {
        start(QByteArray());
        QCOMPARE(closer->seen, QStringList({"Orba-DSL FlowMeister - Features",
                                            "Orba-DSL FlowMeister - Einstellungen"}));
        QCOMPARE(settings.location, 0);
        QCOMPARE(settings.firstrun, 1);  // (`interface` is what the dialog found)
        QCOMPARE(settings.speed, 768);
        QCOMPARE(settings.debuglevel, 0);
        QCOMPARE(form->pos(), QPoint(639, 459));
        QVERIFY(child<QAction>(form.get(), "OnTop")->isChecked());
        QVERIFY(form->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!QFile::exists(QStringLiteral("flowmstr.ini")));

        form->move(100, 50);
        QVERIFY(form->close());
        QCOMPARE(readFile(QStringLiteral("flowmstr.ini")),
                 QByteArray("[settings]\nlocation=0\ninterface=" +
                            QByteArray::number(settings.interface) + "\ninterfacename=" +
                            settings.interfacename.toLatin1() +
                            "\nfirstrun=1\ntop=50\nleft=100\nstayontop=1\n\n"));
    }

    void settingsFromTheFile()
    {
        start("[settings]\nfirstrun=1\nstayontop=0\nspeed=-5\ntop=33\nleft=44\n");
        QVERIFY(closer->seen.isEmpty());
        QVERIFY(!child<QAction>(form.get(), "OnTop")->isChecked());
        QVERIFY(!(form->windowFlags() & Qt::WindowStaysOnTopHint));
        QCOMPARE(settings.speed, 768);
        QCOMPARE(form->pos(), QPoint(44, 33));
    }

    void sizeIsFixed()
    {
        start();
        QCOMPARE(form->size(), QSize(156, 87));
        form->resize(300, 200);
        QCOMPARE(form->size(), QSize(156, 87));
    }

    // A file that can't be read stops the start (no first-run flow, no
    // capture); one that is refused is left alone, and the start goes on
    // with the defaults.
    void unusableSettingsFile_data()
    {
        QTest::addColumn<bool>("directory");
        QTest::addColumn<QStringList>("seen");
        QTest::newRow("unreadable") << false << QStringList{"Cannot open file flowmstr.ini."};
        QTest::newRow("directory")
            << true << QStringList{"Die Einstellungsdatei flowmstr.ini ist keine gewöhnliche Datei.\n"
                                   "Der FlowMeister startet mit den Voreinstellungen und schreibt "
                                   "nichts in diese Datei.",
                                   "Orba-DSL FlowMeister - Features", "Orba-DSL FlowMeister - Einstellungen"};
    }
    void unusableSettingsFile()
    {
        QFETCH(bool, directory);
        QFETCH(QStringList, seen);
        start(QByteArray());
        form.reset();
        closer->seen.clear();
        if (directory) {
            QVERIFY(QDir().mkdir(QStringLiteral("flowmstr.ini")));
        } else {
            writeIniFile("[settings]\nfirstrun=1\n");
            QVERIFY(QFile::setPermissions(QStringLiteral("flowmstr.ini"), {}));
            filesAsNobody(true);
        }
        settings.firstrun = 0;
        form = std::make_unique<TMainForm>();
        filesAsNobody(false);
        QCOMPARE(closer->seen, seen);
        QCOMPARE(settings.firstrun, directory ? 1 : 0);  // the first-run flow ran

        // Mended meanwhile, the file is still never written: closing says so.
        const QByteArray mended("[settings]\nfirstrun=1\nspeed=1000\n");
        QVERIFY(directory ? QDir().rmdir(QStringLiteral("flowmstr.ini"))
                          : QFile::remove(QStringLiteral("flowmstr.ini")));
        writeIniFile(mended);
        closer->seen.clear();
        QVERIFY(!form->close());
        QCOMPARE(closer->seen, QStringList{"Die Einstellungsdatei flowmstr.ini war beim Start nicht "
                                           "lesbar und wird nicht überschrieben."});
        QCOMPARE(readFile(QStringLiteral("flowmstr.ini")), mended);
    }

    // A failed save on closing: the window stays open unless the user
    // chooses to close it without saving.
    void unwritableSettingsFile_data()
    {
        QTest::addColumn<bool>("closeAnyway");
        QTest::addColumn<bool>("counted");  // a volume to save as well
        QTest::newRow("kept open") << false << false;
        QTest::newRow("closed without saving") << true << false;
        QTest::newRow("volume, kept open") << false << true;
        QTest::newRow("volume, closed without saving") << true << true;
    }
    void unwritableSettingsFile()
    {
        QFETCH(bool, closeAnyway);
        QFETCH(bool, counted);
        start();
        if (counted)
            tick(1000, 0);
        QVERIFY(QDir::setCurrent(QStringLiteral("/proc")));  // nobody creates files here
        closer = std::make_unique<ModalCloser>([closeAnyway](QWidget *box) {
            for (QAbstractButton *button : static_cast<QMessageBox *>(box)->buttons())
                if (closeAnyway && button->text() == QStringLiteral("Ohne Speichern schließen"))
                    button->click();
        });
        QCOMPARE(form->close(), closeAnyway);
        QStringList seen;
        if (counted)
            seen << "Das Datenvolumen lässt sich nicht in flowmstr.csv speichern (cannot be written).";
        if (closeAnyway || !counted)
            seen << "Cannot create file flowmstr.ini.";
        QCOMPARE(closer->seen, seen);
        QCOMPARE(form->isVisible(), !closeAnyway);
    }

    // SIGTERM and SIGHUP close the window as a close does, settings saved,
    // and ask nothing when the save fails.
    void quitSignals_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("writable");
        QTest::newRow("SIGTERM") << SIGTERM << true;
        QTest::newRow("SIGHUP") << SIGHUP << true;
        QTest::newRow("SIGTERM, save fails") << SIGTERM << false;
    }
    void quitSignals()
    {
        QFETCH(int, signal);
        QFETCH(bool, writable);
        start();
        onQuitSignals(form.get(), [this] { form->quitOnSignal(); });
        form->move(30, 40);
        if (!writable)
            QVERIFY(QDir::setCurrent(QStringLiteral("/proc")));
        raise(signal);
        QTRY_VERIFY(!form->isVisible());
        QVERIFY(closer->seen.isEmpty());
        QCOMPARE(readFile(dir->filePath(QStringLiteral("flowmstr.ini"))).contains("top=40\nleft=30\n"), writable);
    }

    void readouts_data()
    {
        QTest::addColumn<uint>("down");
        QTest::addColumn<uint>("up");
        QTest::addColumn<QList<int>>("large");
        QTest::addColumn<QList<int>>("small");
        QTest::newRow("0") << 0u << 0u << QList<int>{10, 10, 10, 0} << QList<int>{10, 10, 10, 0};
        QTest::newRow("7 and 10") << 7u << 10u << QList<int>{10, 10, 10, 7}
                                  << QList<int>{10, 10, 1, 0};
        QTest::newRow("768 and 96") << 768u << 96u << QList<int>{10, 7, 6, 8}
                                    << QList<int>{10, 10, 9, 6};
        QTest::newRow("100 and 1000") << 100u << 1000u << QList<int>{10, 1, 0, 0}
                                      << QList<int>{1, 0, 0, 0};
        QTest::newRow("9999 and 12000") << 9999u << 12000u << QList<int>{9, 9, 9, 9}
                                        << QList<int>{9, 9, 9, 9};
    }
    void readouts()
    {
        QFETCH(uint, down);
        QFETCH(uint, up);
        QFETCH(QList<int>, large);
        QFETCH(QList<int>, small);
        start();
        tick(down * 125, up * 125);  // bytes that make exactly that many kbit/s
        compareReadout("LargeBox", large);
        compareReadout("SmallBox", small);
        QCOMPARE(form->meter().capture()->down.load(), 0u);
        QCOMPARE(form->meter().capture()->up.load(), 0u);
    }

    void readoutsEndAtOneColumn()
    {
        start();
        QWidget *large = child<QWidget>(form.get(), "LargeBox");
        QWidget *small = child<QWidget>(form.get(), "SmallBox");
        QCOMPARE(large->mapTo(form.get(), QPoint(63, 0)).x(), 78);
        QCOMPARE(small->mapTo(form.get(), QPoint(39, 0)).x(), 78);
        const QImage shown = grabbed(form.get(), "SmallBox");
        QCOMPARE(shown.pixelColor(39, 13), Fuchsia);  // units cell, bottom right
        QVERIFY(shown.pixelColor(40, 0) != Fuchsia);  // the strip is not drawn
    }

    void tickMeasuresTheTimeThatPassed()
    {
        start();
        tick(192000, 0, 2000);  // a tick held up for two seconds
        compareReadout("LargeBox", {10, 7, 6, 8});
    }

    // A capture that began 10 ms before a tick shows its first figures a
    // tick later, over the whole time: a few milliseconds make no spike.
    void firstFiguresOfANewCapture()
    {
        start();
        form->RestartCapture();
        tick(1250, 0, 10);
        compareReadout("LargeBox", {10, 10, 10, 10});
        tick(1250, 0, 990);
        compareReadout("LargeBox", {10, 10, 1, 0});
    }

    void repaintBetweenTicksKeepsTheFigures()
    {
        start();
        tick(768 * 125, 0);
        count(500 * 125);  // counted since the tick
        form->repaint();
        compareReadout("LargeBox", {10, 7, 6, 8});
        QCOMPARE(grabbed(form.get(), "Gauge").pixelColor(149, 3), Bar);
    }

    void gauge_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<uint>("rate");
        QTest::addColumn<int>("bar");
        QTest::addColumn<int>("mark56");  // column, or -1 when off the gauge
        QTest::addColumn<int>("mark128");
        QTest::newRow("768, idle") << 768 << 0u << 0 << 9 << 23;
        QTest::newRow("768, 64") << 768 << 64u << 12 << 9 << 23;
        QTest::newRow("768, 192") << 768 << 192u << 38 << 9 << 23;
        QTest::newRow("768, 384") << 768 << 384u << 75 << 9 << 23;
        QTest::newRow("768, full") << 768 << 768u << 150 << 9 << 23;
        QTest::newRow("768, beyond") << 768 << 12000u << 150 << 9 << 23;
        QTest::newRow("100") << 100 << 0u << 0 << 82 << -1;
        QTest::newRow("6000") << 6000 << 0u << 0 << -1 << 1;
    }
    void gauge()
    {
        QFETCH(int, speed);
        QFETCH(uint, rate);
        QFETCH(int, bar);
        QFETCH(int, mark56);
        QFETCH(int, mark128);
        start(QStringLiteral("[settings]\nfirstrun=1\ninterface=0\nspeed=%1\n").arg(speed).toLatin1());
        tick(rate * 125, 0);
        const QImage gauge = grabbed(form.get(), "Gauge");
        QCOMPARE(gauge.size(), QSize(150, 7));
        const QColor background = form->palette().color(QPalette::Window);
        for (int x = 0; x < 150; ++x) {
            QColor want = background;
            if (x < bar)
                want = Bar;
            else if (x == mark56)
                want = Zone1;
            else if (x == mark128)
                want = Zone2;
            QCOMPARE(gauge.pixelColor(x, 0), want);
            QCOMPARE(gauge.pixelColor(x, 6), want);
        }
    }

    void scale_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("end1");  // first column after each zone
        QTest::addColumn<int>("end2");
        QTest::newRow("768") << 768 << 11 << 25;
        QTest::newRow("100") << 100 << 85 << 152;
        QTest::newRow("6000") << 6000 << 1 << 3;
    }
    void scale()
    {
        QFETCH(int, speed);
        QFETCH(int, end1);
        QFETCH(int, end2);
        start(QStringLiteral("[settings]\nfirstrun=1\ninterface=0\nspeed=%1\n").arg(speed).toLatin1());
        const QImage scale = grabbed(form.get(), "Scale");
        QCOMPARE(scale.size(), QSize(152, 3));
        for (int x = 0; x < 152; ++x) {
            const QColor want = x < end1 ? Zone1 : x < end2 ? Zone2 : Zone3;
            QCOMPARE(scale.pixelColor(x, 1), want);
        }
    }

    void onTopTwiceRestoresTheWindow()
    {
        start();
        QAction *onTop = child<QAction>(form.get(), "OnTop");
        onTop->trigger();
        QCOMPARE(settings.stayontop, 0);
        QVERIFY(!onTop->isChecked());
        QVERIFY(!(form->windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(form->isVisible());
        onTop->trigger();
        QCOMPARE(settings.stayontop, 1);
        QVERIFY(form->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(form->isVisible());
    }

    // "Schliessen" saves through the ordinary close path; hand-made lines stay.
    void schliessenSavesTheSettings()
    {
        start("[settings]\nspeed=1024\nfirstrun=1\n; mine\n[other]\nkey=value\n");
        child<QAction>(form.get(), "OnTop")->trigger();
        form->move(70, 80);
        child<QAction>(form.get(), "Schliessen")->trigger();
        QVERIFY(!form->isVisible());
        QCOMPARE(readFile(QStringLiteral("flowmstr.ini")),
                 QByteArray("[settings]\nspeed=1024\nfirstrun=1\n; mine\nlocation=0\ninterface=1\n"
                            "top=80\nleft=70\nstayontop=0\n\n[other]\nkey=value\n\n"));
    }

    // A click on the download readout shows both dialogs again, no restart.
    void largeBoxClick()
    {
        start();
        const int generation = form->meter().generation();
        QTest::mouseClick(child<QWidget>(form.get(), "LargeBox"), Qt::LeftButton);
        QCOMPARE(closer->seen, QStringList({"Orba-DSL FlowMeister - Features",
                                            "Orba-DSL FlowMeister - Einstellungen"}));
        QCOMPARE(form->meter().generation(), generation);
    }

    // While measuring, the readouts' hint shows the data volume; it is saved
    // every five minutes and when the window closes.
    void volume()
    {
        start("[settings]\nfirstrun=1\ninterface=0\nmonthstart=32\n");
        tick(125000, 2500);
        tick(0, 500, 300000);
        const QDate today = QDate::currentDate();
        const QByteArray day = today.toString(Qt::ISODate).toLatin1();
        QCOMPARE(readFile(QStringLiteral("flowmstr.csv")), day + ",125000,3000\n");
        QCOMPARE(child<QWidget>(form.get(), "LargeBox")->toolTip(),
                 QStringLiteral("Heute: Download 125 kB, Upload 3,00 kB\nSeit 01.%1.: Download 125 kB, "
                                "Upload 3,00 kB\nSpitze heute: 1.000 kbit/s Download")
                     .arg(today.month(), 2, 10, QLatin1Char('0')));
        tick(1000, 0);
        count(7);  // counted after the last tick
        QVERIFY(form->close());
        QCOMPARE(readFile(QStringLiteral("flowmstr.csv")), day + ",126007,3000\n");
    }

    void gaugeHints()
    {
        start();
        QWidget *gauge = child<QWidget>(form.get(), "Gauge");
        QVERIFY(gauge->toolTip().isEmpty());
        const struct {
            int x;
            const char *hint;
        } moves[] = {{5, "max. Speed mit Orba-Net: 56 kbit/s"},
                     {11, "max. Speed mit Orba-ISDN: 128 kbit/s"},
                     {-3, "max. Speed mit Orba-ISDN: 128 kbit/s"},
                     {140, "max. Speed mit Orba-DSL: 768 kbit/s"}};
        for (const auto &move : moves) {
            QMouseEvent event(QEvent::MouseMove, QPointF(move.x, 3), gauge->mapToGlobal(QPointF(move.x, 3)),
                              Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(gauge, &event);
            QCOMPARE(gauge->toolTip(), QString::fromUtf8(move.hint));
        }
    }
};

int main(int argc, char **argv)
{
    return qtTestMain<MainWindowTest>(argc, argv);
}

#include "mainwindow_test.moc"
