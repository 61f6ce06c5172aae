// The "Verlauf" window's history: memory and time for 24 hours of samples
// fed through the meter's signal, and a picture of each tab.
//   verlauf [DIR]   DIR: where verlauf-rate.png, -volumen.png, -ereignisse.png go
#include "meter.h"
#include "settingsfile.h"
#include "verlauf.h"
#include "verlaufform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
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

// A day of seconds up to now: a sine of traffic, an hour down in the middle.
static void feedDay(Meter &meter)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (qint64 s = now - 86400; s < now; ++s) {
        MeterSample sample;
        sample.time = QDateTime::fromSecsSinceEpoch(s);
        sample.elapsedMs = 1000;
        sample.measuring = !(s > now - 43200 && s < now - 39600);
        sample.downKbit = sample.measuring ? 300 + (s / 60 % 60) * 8 + (s % 97 == 0 ? 400 : 0) : 0;
        sample.upKbit = sample.measuring ? sample.downKbit / 8 : 0;
        emit meter.sampled(sample);
    }
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
    const QString shots = argc > 1 ? QDir(QString::fromLocal8Bit(argv[1])).absolutePath() : QString();
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
