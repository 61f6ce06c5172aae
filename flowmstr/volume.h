// SPDX-License-Identifier: MIT
// Data volume per local calendar day: every tick's byte counts go to the day
// in which the tick ends.  The days are kept in a text file, one line
// "YYYY-MM-DD,download_bytes,upload_bytes" per day, that several running
// programs may share: each save merges this program's unsaved counts into
// what the file holds at that moment.
#ifndef VOLUME_H
#define VOLUME_H

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>

struct DayVolume {
    uint64_t down = 0;
    uint64_t up = 0;

    DayVolume &operator+=(const DayVolume &other)
    {
        down += other.down;
        up += other.up;
        return *this;
    }
};

using VolumeDays = std::map<QDate, DayVolume>;

// First day of the billing month that holds `today`, the month starting on
// day `monthStart` (1 to 31, in shorter months on their last day; any other
// value counts as 1).
QDate billingMonthStart(QDate today, int monthStart);

// The days of a volume file's text; `damaged` gets the numbers (from 1) of
// lines that are no day line, or repeat a day already read.
VolumeDays parseVolumeText(const QByteArray &text, QList<int> *damaged = nullptr);

// The file's text with `counts` added: day lines are updated in place, other
// lines are kept as they are, new days are appended in date order.
QByteArray mergeVolumeText(const QByteArray &text, const VolumeDays &counts);

class VolumeBook
{
public:
    // Adds a tick's bytes and its download rate to the day in which it ended.
    void addTick(const QDateTime &end, uint64_t down, uint64_t up, int64_t downloadKbit);

    DayVolume day(QDate date) const;
    // From the billing month's first day up to `today`.
    DayVolume month(QDate today, int monthStart) const;
    // Highest download rate of a tick that ended on `date`, in this run.
    int64_t peakKbit(QDate date) const;

    // Reads the file's days (none when it is missing); false with a reason
    // when it can't be used.  `damaged` as for parseVolumeText.
    bool load(const QString &path, QString *problem, QList<int> *damaged);
    // Merges the unsaved counts into the file and writes it atomically,
    // under a lock that other programs' saves respect; false with a reason
    // when the file can't be used (the counts then stay unsaved).
    bool save(const QString &path, QString *problem);

private:
    DayVolume between(QDate first, QDate last) const;

    VolumeDays saved;    // as the file held them at the last load or save
    VolumeDays unsaved;  // counted since
    QDate peakDate;
    int64_t peak = 0;
};

#endif // VOLUME_H
