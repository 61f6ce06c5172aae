// SPDX-License-Identifier: MIT
// The "Verlauf" window's history: memory and time for 24 hours of samples
// fed through the meter's signal, a picture of each tab, and the CPU time
// the window takes while the meter ticks.
//   verlauf [DIR]             DIR: where verlauf-rate.png, -volumen.png, -ereignisse.png go
//   verlauf --idle [SECONDS]  a tick a second for SECONDS (60) each: without the
//                             window, with it closed again, with it open
// Without a display: QT_QPA_PLATFORM=offscreen.
#include "meter.h"
#include "settingsfile.h"
#include "verlauf.h"
#include "verlaufform.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

// Resident memory in kB, from /proc.
static long residentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// The tick that ends in second `s`: a saw of traffic with spikes.
static MeterSample sampleAt(qint64 s, bool measuring)
{
    MeterSample sample;
    sample.time = QDateTime::fromSecsSinceEpoch(s);
    sample.elapsedMs = 1000;
    sample.measuring = measuring;
    sample.downKbit = measuring ? 300 + (s / 60 % 60) * 8 + (s % 97 == 0 ? 400 : 0) : 0;
    sample.upKbit = sample.downKbit / 8;
    return sample;
}

// A day of seconds up to now, an hour down in the middle.
static void feedDay(Meter &meter)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (qint64 s = now - 86400; s < now; ++s)
        emit meter.sampled(sampleAt(s, !(s > now - 43200 && s < now - 39600)));
}

static double cpuMs(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// A tick a second for `seconds`; prints the process's CPU time meanwhile and
// the time a tick's handlers took.  A window just shown is painted first.
static void tickFor(Meter &meter, int seconds, const char *what)
{
    QApplication::processEvents();
    QEventLoop loop;
    QTimer timer;
    double handlersMs = 0;
    int left = seconds;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const double before = cpuMs(CLOCK_THREAD_CPUTIME_ID);
        emit meter.sampled(sampleAt(QDateTime::currentSecsSinceEpoch(), true));
        handlersMs += cpuMs(CLOCK_THREAD_CPUTIME_ID) - before;
        if (--left == 0)
            loop.quit();
    });
    const double start = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    timer.start(1000);
    loop.exec();
    std::printf("%-26s CPU %8.2f ms in %d s; the tick's handlers %7.1f us a tick\n", what,
                cpuMs(CLOCK_PROCESS_CPUTIME_ID) - start, seconds, handlersMs * 1e3 / seconds);
}

// The same ticks with no window, with the window closed, minimized, and open
// on the 24-hour span.
static void idleFigures(Meter &meter, Verlauf &verlauf, QWidget &main, int seconds)
{
    tickFor(meter, seconds, "no window");
    verlauf.showWindow();
    auto *form = main.findChild<TVerlaufForm *>();
    form->findChild<QComboBox *>(QStringLiteral("Zeitraum"))->setCurrentIndex(2);
    form->close();
    tickFor(meter, seconds, "window closed");
    form->showMinimized();
    tickFor(meter, seconds, "window minimized");
    form->showNormal();
    tickFor(meter, seconds, "window open, 24 hours");
}

// Some days of this billing month in the volume file.
static void plantVolume(Meter &meter)
{
    QFile file(QStringLiteral("flowmstr.csv"));
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QDate first = billingMonthStart(QDate::currentDate(), 1);
    for (QDate d = first; d <= QDate::currentDate(); d = d.addDays(1))
        file.write(QStringLiteral("%1,%2,%3\n").arg(d.toString(Qt::ISODate)).arg(300000000 + d.day() * 20000000)
                       .arg(40000000 + d.day() % 3 * 10000000).toLatin1());
    file.close();
    meter.loadVolume(file.fileName(), 0);
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool idle = argc > 1 && qstrcmp(argv[1], "--idle") == 0;
    const QString shots = argc > 1 && !idle ? QDir(QString::fromLocal8Bit(argv[1])).absolutePath() : QString();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    Settings settings;
    settings.monthlimit = 20000;
    Meter meter;
    QWidget main;
    Verlauf verlauf(meter, settings, &main);
    const long before = residentKb();
    QElapsedTimer clock;
    clock.start();
    feedDay(meter);
    std::printf("24 h of samples: %lld ms, %.2f us each; resident memory %+ld kB\n", clock.elapsed(),
                clock.nsecsElapsed() / 86400e3, residentKb() - before);
    if (idle)
        idleFigures(meter, verlauf, main, argc > 2 ? std::atoi(argv[2]) : 60);
    if (shots.isEmpty())
        return 0;
    plantVolume(meter);
    verlauf.showWindow();
    auto *form = main.findChild<TVerlaufForm *>();
    auto *tabs = form->findChild<QTabWidget *>(QStringLiteral("Seiten"));
    form->findChild<QComboBox *>(QStringLiteral("Zeitraum"))->setCurrentIndex(2);
    const char *names[] = {"rate", "volumen", "ereignisse"};
    for (int tab = 0; tab < 3; ++tab) {
        tabs->setCurrentIndex(tab);
        QApplication::processEvents();
        form->grab().save(shots + QStringLiteral("/verlauf-%1.png").arg(QLatin1String(names[tab])));
    }
    return 0;
}
