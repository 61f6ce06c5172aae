// SPDX-License-Identifier: MIT
// The month's allowance: how much of it is used, what is left per day, and
// where the billing month will end at the pace so far.  Units are decimal
// (1 GB = 10^9 bytes).  The warnings at 80 % and 100 % come once per
// billing month; a small record beside the volume file keeps which came.
#ifndef ALLOWANCE_H
#define ALLOWANCE_H

#include <QByteArray>
#include <QDate>
#include <QDateTime>

#include <cstdint>
#include <optional>

// Last day of the billing month that starts on `first`.
QDate billingMonthEnd(QDate first, int monthStart);

struct AllowanceFigures {
    uint64_t limit = 0;
    uint64_t used = 0;
    double percent = 0;
    uint64_t remaining = 0;    // 0 once used up
    int daysLeft = 0;          // today included
    uint64_t dailyBudget = 0;  // remaining / daysLeft
    // The month's volume at its end, at the pace since its first midnight;
    // none in its first hour, which says little.
    std::optional<uint64_t> projected;
};

AllowanceFigures allowanceFigures(uint64_t limit, uint64_t used, const QDateTime &now, int monthStart);

// The highest warning level (0, 80 or 100) that `used` has reached.
int warningLevel(uint64_t limit, uint64_t used);

// The warnings record: lines "YYYY-MM-DD,level", the billing month's first
// day and a level warned of in it.
bool warned(const QByteArray &record, QDate monthFirst, int level);
// The record with the line added, only the last lines kept.
QByteArray withWarning(const QByteArray &record, QDate monthFirst, int level);

#endif // ALLOWANCE_H
