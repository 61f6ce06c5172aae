// SPDX-License-Identifier: MIT
#include "volume.h"

#include "safefile.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>

// Far more than a line per day for centuries: a larger file is not ours and
// is neither read nor replaced.  Symbolic links are never followed.
static const FileRules volumeRules{4 * 1024 * 1024, Links::Refused};

// Day `monthStart` of the month that holds `date`, or the month's last day
// when it is shorter.
static QDate startInMonth(QDate date, int monthStart)
{
    const QDate first(date.year(), date.month(), 1);
    return first.addDays(std::min(monthStart, first.daysInMonth()) - 1);
}

QDate billingMonthStart(QDate today, int monthStart)
{
    if (monthStart < 1 || monthStart > 31)
        monthStart = 1;
    const QDate thisMonth = startInMonth(today, monthStart);
    return today >= thisMonth ? thisMonth : startInMonth(today.addMonths(-1), monthStart);
}

static bool isNumber(const QByteArray &field)
{
    return !field.isEmpty() && std::all_of(field.begin(), field.end(),
                                           [](char c) { return c >= '0' && c <= '9'; });
}

// "YYYY-MM-DD", or an invalid date.
static QDate parseDate(const QByteArray &text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return QDate();
    const QByteArray year = text.left(4), month = text.mid(5, 2), day = text.mid(8, 2);
    if (!isNumber(year) || !isNumber(month) || !isNumber(day))
        return QDate();
    return QDate(year.toInt(), month.toInt(), day.toInt());
}

// "YYYY-MM-DD,download,upload", the line feed taken off; a carriage return
// before it is allowed.
static std::optional<std::pair<QDate, DayVolume>> parseDayLine(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    const QList<QByteArray> fields = line.split(',');
    if (fields.size() != 3 || !isNumber(fields[1]) || !isNumber(fields[2]))
        return std::nullopt;
    const QDate date = parseDate(fields[0]);
    bool downOk = false, upOk = false;
    const DayVolume volume{fields[1].toULongLong(&downOk), fields[2].toULongLong(&upOk)};
    if (!date.isValid() || !downOk || !upOk)
        return std::nullopt;
    return std::make_pair(date, volume);
}

static QByteArray dayLine(QDate date, DayVolume volume)
{
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%04d-%02d-%02d,%llu,%llu\n", date.year(),
                                     date.month(), date.day(), qulonglong(volume.down), qulonglong(volume.up));
    return QByteArray(line, length);
}

static QList<QByteArray> linesOf(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (lines.constLast().isEmpty())
        lines.removeLast();  // after the last line feed
    return lines;
}

static bool isBlank(const QByteArray &line)
{
    return line.trimmed().isEmpty();
}

VolumeDays parseVolumeText(const QByteArray &text, QList<int> *damaged)
{
    VolumeDays days;
    const QList<QByteArray> lines = linesOf(text);
    for (int i = 0; i < lines.size(); ++i) {
        const auto day = parseDayLine(lines[i]);
        const bool taken = day && days.insert(*day).second;
        if (!taken && !isBlank(lines[i]) && damaged)
            damaged->append(i + 1);
    }
    return days;
}

QByteArray mergeVolumeText(const QByteArray &text, const VolumeDays &counts)
{
    VolumeDays added = counts;
    std::set<QDate> written;
    QByteArray merged;
    for (const QByteArray &line : linesOf(text)) {
        const auto day = parseDayLine(line);
        if (day && written.insert(day->first).second) {
            DayVolume volume = day->second;
            if (const auto counted = added.find(day->first); counted != added.end()) {
                volume += counted->second;
                added.erase(counted);
            }
            merged += dayLine(day->first, volume);
        } else if (!isBlank(line)) {
            merged += line + '\n';  // damaged lines are kept for their owner
        }
    }
    for (const auto &[date, volume] : added)
        merged += dayLine(date, volume);
    return merged;
}

static DayVolume sum(const VolumeDays &days, QDate first, QDate last)
{
    DayVolume total;
    for (auto it = days.lower_bound(first); it != days.end() && it->first <= last; ++it)
        total += it->second;
    return total;
}

void VolumeBook::addTick(const QDateTime &end, uint64_t down, uint64_t up, int64_t downloadKbit)
{
    const QDate date = end.toLocalTime().date();
    if (date != peakDate) {
        peakDate = date;
        peak = 0;
    }
    peak = std::max(peak, downloadKbit);
    if (down != 0 || up != 0)
        unsaved[date] += DayVolume{down, up};
}

DayVolume VolumeBook::between(QDate first, QDate last) const
{
    DayVolume total = sum(saved, first, last);
    total += sum(unsaved, first, last);
    return total;
}

DayVolume VolumeBook::day(QDate date) const
{
    return between(date, date);
}

DayVolume VolumeBook::month(QDate today, int monthStart) const
{
    return between(billingMonthStart(today, monthStart), today);
}

int64_t VolumeBook::peakKbit(QDate date) const
{
    return date == peakDate ? peak : 0;
}

static QString problemOf(FileStatus status)
{
    switch (status) {
    case FileStatus::NotFollowed:
        return QStringLiteral("is a symbolic link");
    case FileStatus::NotRegular:
        return QStringLiteral("is no regular file");
    case FileStatus::TooLarge:
        return QStringLiteral("is too large");
    case FileStatus::CannotOpen:
        return QStringLiteral("cannot be opened");
    case FileStatus::CannotRead:
        return QStringLiteral("cannot be read");
    case FileStatus::CannotLock:
        return QStringLiteral("cannot be locked");
    default:
        return QStringLiteral("cannot be written");
    }
}

bool VolumeBook::load(const QString &path, QString *problem, QList<int> *damaged)
{
    const FileText file = readSafeFile(path, volumeRules);
    if (file.status != FileStatus::Ok && file.status != FileStatus::Missing) {
        *problem = problemOf(file.status);
        return false;
    }
    saved = parseVolumeText(file.bytes, damaged);
    return true;
}

bool VolumeBook::save(const QString &path, QString *problem)
{
    if (unsaved.empty())
        return true;
    QByteArray text;
    const FileStatus status = updateSafeFile(path, volumeRules, [&](const QByteArray &old) {
        return text = mergeVolumeText(old, unsaved);
    });
    if (status != FileStatus::Ok) {
        *problem = problemOf(status);
        return false;
    }
    saved = parseVolumeText(text);
    unsaved.clear();
    return true;
}
