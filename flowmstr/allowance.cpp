// SPDX-License-Identifier: MIT
#include "allowance.h"

#include "volume.h"

#include <QList>

#include <algorithm>

// A year's warnings, and more.
static constexpr int KeptWarnings = 48;

QDate billingMonthEnd(QDate first, int monthStart)
{
    const QDate nextMonth = QDate(first.year(), first.month(), 1).addMonths(1);
    const QDate lastOfNext = nextMonth.addDays(nextMonth.daysInMonth() - 1);
    return billingMonthStart(lastOfNext, monthStart).addDays(-1);
}

AllowanceFigures allowanceFigures(uint64_t limit, uint64_t used, const QDateTime &now, int monthStart)
{
    AllowanceFigures f;
    f.limit = limit;
    f.used = used;
    f.percent = limit == 0 ? 0 : 100.0 * double(used) / double(limit);
    f.remaining = used < limit ? limit - used : 0;
    const QDate today = now.date();
    const QDate first = billingMonthStart(today, monthStart);
    const QDate last = billingMonthEnd(first, monthStart);
    f.daysLeft = int(today.daysTo(last)) + 1;
    f.dailyBudget = f.remaining / uint64_t(f.daysLeft);
    // Local midnights: a day with a clock change has 23 or 25 hours.
    const QDateTime begin(first, QTime(0, 0));
    const QDateTime end(last.addDays(1), QTime(0, 0));
    const qint64 elapsed = begin.secsTo(now);
    if (elapsed >= 3600)
        f.projected = uint64_t(double(used) * double(begin.secsTo(end)) / double(elapsed) + 0.5);
    return f;
}

int warningLevel(uint64_t limit, uint64_t used)
{
    if (limit == 0)
        return 0;
    return used >= limit ? 100 : used * 5 >= limit * 4 ? 80 : 0;
}

static QByteArray warningLine(QDate monthFirst, int level)
{
    return monthFirst.toString(Qt::ISODate).toLatin1() + ',' + QByteArray::number(level);
}

bool warned(const QByteArray &record, QDate monthFirst, int level)
{
    return record.split('\n').contains(warningLine(monthFirst, level));
}

QByteArray withWarning(const QByteArray &record, QDate monthFirst, int level)
{
    QList<QByteArray> lines = record.split('\n');
    lines.removeAll(QByteArray());
    lines.append(warningLine(monthFirst, level));
    QByteArray text;
    for (qsizetype i = std::max<qsizetype>(0, lines.size() - KeptWarnings); i < lines.size(); ++i)
        text += lines[i] + '\n';
    return text;
}
