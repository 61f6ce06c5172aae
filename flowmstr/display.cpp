// SPDX-License-Identifier: MIT
#include "display.h"

#include "capturethread.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

int64_t rateKbit(uint64_t bytes, int64_t elapsedMs)
{
    // Bits per millisecond are kbit/s.
    return static_cast<int64_t>(bytes * 8 / static_cast<uint64_t>(std::max<int64_t>(elapsedMs, 1)));
}

std::array<int, 4> digitCells(int64_t rate)
{
    const int value = static_cast<int>(std::clamp<int64_t>(rate, 0, 9999));
    std::array<int, 4> cells = {value / 1000, value / 100 % 10, value / 10 % 10, value % 10};
    for (int i = 0, limit = 1000; i < 3 && value < limit; ++i, limit /= 10)
        cells[i] = BlankGlyph;
    return cells;
}

int nearestEven(double value)
{
    return static_cast<int>(std::nearbyint(value));  // the default rounding mode: to even
}

int markColumn(int width, int speed, int kbit)
{
    return nearestEven(double(width) / speed * kbit);
}

int barLength(int64_t rate, int width, int speed)
{
    // A bar beyond the control looks like a full one.
    return nearestEven(std::clamp(double(rate * width) / speed, 0.0, double(width)));
}

QString gaugeHint(int x, int width, int speed, const QString &current)
{
    if (x < 0 || x > width)
        return current;
    if (x < markColumn(width, speed, 56))
        return QStringLiteral("max. Speed mit Orba-Net: 56 kbit/s");
    if (x < markColumn(width, speed, 128))
        return QStringLiteral("max. Speed mit Orba-ISDN: 128 kbit/s");
    return QStringLiteral("max. Speed mit Orba-DSL: %1 kbit/s").arg(speed);
}

QString notMeasuringHint(CaptureProblem problem, const QString &subject, const QString &program)
{
    const QString settingsAdvice = QStringLiteral("\nBitte in den Einstellungen die Netzwerkschnittstelle wählen.");
    switch (problem) {
    case CaptureProblem::Starting:
        break;
    case CaptureProblem::NoPermission:
        return QStringLiteral("Keine Messung: FlowMeister darf den Netzwerkverkehr nicht mitlesen.\n"
                              "Das Recht dazu gibt ein Administrator mit:\n"
                              "sudo setcap cap_net_raw+ep %1").arg(program);
    case CaptureProblem::NoInterface:
        return QStringLiteral("Keine Messung: Die Netzwerkschnittstelle %1 gibt es nicht, "
                              "oder sie hat keine IPv4-Adresse.").arg(subject) + settingsAdvice;
    case CaptureProblem::OnlyIpv6:
        return QStringLiteral("Keine Messung: Die Netzwerkschnittstelle %1 hat nur IPv6-Adressen. "
                              "Der FlowMeister misst auf Schnittstellen mit einer IPv4-Adresse "
                              "(auch ihren IPv6-Verkehr).").arg(subject) + settingsAdvice;
    case CaptureProblem::InterfaceDown:
        return QStringLiteral("Keine Messung: Die Netzwerkschnittstelle %1 ist nicht aktiv.").arg(subject);
    case CaptureProblem::CaptureFailed:
        return QStringLiteral("Keine Messung: Der Mitschnitt auf der Netzwerkschnittstelle %1 "
                              "ist gescheitert.").arg(subject) + settingsAdvice;
    case CaptureProblem::SettingsUnreadable:
        return QStringLiteral("Keine Messung: Die Einstellungsdatei %1 ist nicht lesbar.").arg(subject);
    }
    return QString();
}

QString decimalBytes(uint64_t bytes)
{
    static const char *const units[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 999.5 && unit < 6) {  // what would round to 1000
        value /= 1000;
        ++unit;
    }
    const int decimals = unit == 0 || value >= 99.95 ? 0 : value >= 9.995 ? 1 : 2;
    return QLocale(QLocale::German).toString(value, 'f', decimals) + u' ' + QLatin1String(units[unit]);
}

QString volumeHint(DayVolume today, QDate monthStart, DayVolume month, int64_t peakKbit)
{
    return QStringLiteral("Heute: Download %1, Upload %2\n"
                          "Seit %3: Download %4, Upload %5\n"
                          "Spitze heute: %6 kbit/s Download")
        .arg(decimalBytes(today.down), decimalBytes(today.up), monthStart.toString(u"dd.MM."),
             decimalBytes(month.down), decimalBytes(month.up),
             QLocale(QLocale::German).toString(qlonglong(peakKbit)));
}
