// SPDX-License-Identifier: MIT
#include "verlauf.h"

#include "allowance.h"
#include "display.h"
#include "linkevents.h"
#include "meter.h"
#include "safefile.h"
#include "verlaufform.h"
#include "warnings.h"

#include <QLocale>

const QString EventsFileName = QStringLiteral("flowmstr-ereignisse.csv");
const QString WarningsFileName = QStringLiteral("flowmstr-warnungen.csv");

static const FileRules warningRules{64 * 1024, Links::Refused};

// Why monitoring stopped, in a few words for the events' list.
static QString stopText(CaptureProblem reason)
{
    switch (reason) {
    case CaptureProblem::NoPermission:
        return QStringLiteral("Keine Berechtigung zum Mitschnitt");
    case CaptureProblem::NoInterface:
        return QStringLiteral("Schnittstelle fehlt oder hat keine IPv4-Adresse");
    case CaptureProblem::OnlyIpv6:
        return QStringLiteral("Schnittstelle hat nur IPv6-Adressen");
    case CaptureProblem::InterfaceDown:
        return QStringLiteral("Schnittstelle nicht aktiv");
    case CaptureProblem::CaptureFailed:
        return QStringLiteral("Mitschnitt gescheitert");
    case CaptureProblem::SettingsUnreadable:
        return QStringLiteral("Einstellungsdatei nicht lesbar");
    default:
        return QString();
    }
}

Verlauf::Verlauf(Meter &meter, Settings &settings, QWidget *mainWindow)
    : QObject(mainWindow), engine(meter), values(settings), mainWindow(mainWindow)
{
    connect(&engine, &Meter::sampled, this, &Verlauf::sampled);
    connect(&engine, &Meter::measuringStopped, this, &Verlauf::stopped);
    record("start", QString(), QStringLiteral("Programm gestartet"));
}

void Verlauf::showWindow()
{
    if (!window)
        window = new TVerlaufForm(*this, mainWindow);
    window->show();
    window->raise();
    window->activateWindow();
}

void Verlauf::connectionTested(bool succeeded)
{
    record(succeeded ? "test-ok" : "test-failed", engine.interfaceName(),
           succeeded ? QStringLiteral("Verbindungstest erfolgreich")
                     : QStringLiteral("Verbindungstest gescheitert"));
}

void Verlauf::programEnds()
{
    record("stop", QString(), QStringLiteral("Programm beendet"));
}

// Monitoring is back from the start of the first measured tick.
void Verlauf::sampled(const MeterSample &sample)
{
    rates.add(sample, engine.problem());
    if (sample.measuring && downSince) {
        const QDateTime back = sample.time.addMSecs(-sample.elapsedMs);
        record("up", engine.interfaceName(),
               QStringLiteral("Messung wieder nach %1").arg(durationText((downSince->msecsTo(back) + 500) / 1000)), back);
        downSince.reset();
    }
    if (window)
        window->sampled();
    checkAllowance(sample.time.date());
}

// A restart's short pause (Starting) is no outage.
void Verlauf::stopped(CaptureProblem reason)
{
    if (reason == CaptureProblem::Starting || downSince)
        return;
    downSince = QDateTime::currentDateTime();
    record("down", engine.interfaceName(), stopText(reason), *downSince);
}

void Verlauf::record(const char *keyword, const QString &interface, const QString &detail,
                     const QDateTime &time)
{
    appendEvent(EventsFileName, LineEvent{time, QLatin1String(keyword), interface, detail});
    if (window)
        window->eventsChanged();
}

// Each level once per billing month, however many programs share the file.
void Verlauf::checkAllowance(QDate today)
{
    const uint64_t limit = uint64_t(std::max(values.monthlimit, 0)) * 1000000;
    const QDate first = billingMonthStart(today, values.monthstart);
    if (first != warnedMonth) {
        warnedMonth = first;
        warnedLevel = 0;
    }
    const uint64_t used = [&] {
        const DayVolume month = engine.volume().month(today, values.monthstart);
        return month.down + month.up;
    }();
    const int level = warningLevel(limit, used);
    if (level <= warnedLevel)
        return;
    if (level == 100 && warnedLevel < 80)
        claimWarning(first, 80);  // passed at one go: only the higher warning is shown
    warnedLevel = level;
    if (!claimWarning(first, level))
        return;
    const AllowanceFigures f = allowanceFigures(limit, used, QDateTime::currentDateTime(), values.monthstart);
    const QLocale german(QLocale::German);
    showWarning(mainWindow,
                level == 100 ? QStringLiteral("Datenvolumen: Limit erreicht")
                             : QStringLiteral("Datenvolumen: 80 % erreicht"),
                QStringLiteral("Seit %1: %2 von %3 (%4 %). Übrig: %5, %6 pro Tag bis %7.")
                    .arg(first.toString(u"dd.MM."), decimalBytes(used), decimalBytes(limit),
                         german.toString(f.percent, 'f', 0), decimalBytes(f.remaining),
                         decimalBytes(f.dailyBudget),
                         billingMonthEnd(first, values.monthstart).toString(u"dd.MM.")));
}

// True when no program has warned of this level in this month yet; also
// when the record cannot be kept, so that the warning comes at least once.
bool Verlauf::claimWarning(QDate monthFirst, int level)
{
    bool fresh = true;
    const FileStatus status = updateSafeFile(WarningsFileName, warningRules, [&](const QByteArray &old) {
        fresh = !warned(old, monthFirst, level);
        return fresh ? withWarning(old, monthFirst, level) : old;
    });
    return fresh || status != FileStatus::Ok;
}
