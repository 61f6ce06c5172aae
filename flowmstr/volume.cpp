#include "volume.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <set>

// Far more than a line per day for centuries: a larger file is not ours and
// is neither read nor replaced.
static constexpr qint64 MaxFileSize = 4 * 1024 * 1024;

QDate billingMonthStart(QDate today, int monthStart)
{
    if (monthStart < 1 || monthStart > 28)
        monthStart = 1;
    const QDate thisMonth(today.year(), today.month(), monthStart);
    return today >= thisMonth ? thisMonth : thisMonth.addMonths(-1);
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

static bool isRegularFile(int fd, QString *problem)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        return true;
    *problem = QStringLiteral("is no regular file");
    return false;
}

static bool readAll(int fd, QByteArray *text, QString *problem)
{
    text->resize(MaxFileSize + 1);
    qint64 got = 0;
    while (got < text->size()) {
        const ssize_t n = read(fd, text->data() + got, text->size() - got);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *problem = QStringLiteral("cannot be read");
            return false;
        }
        got += n;
    }
    text->truncate(got);
    if (got <= MaxFileSize)
        return true;
    *problem = QStringLiteral("is too large");
    return false;
}

// The file's text, empty when it is missing; false unless it is a regular
// file of at most MaxFileSize bytes.  Symbolic links are not followed.
static bool readVolumeFile(const QByteArray &name, QByteArray *text, QString *problem)
{
    text->clear();
    const int fd = open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return true;
    if (fd < 0) {
        *problem = errno == ELOOP ? QStringLiteral("is a symbolic link") : QStringLiteral("cannot be opened");
        return false;
    }
    const bool ok = isRegularFile(fd, problem) && readAll(fd, text, problem);
    close(fd);
    return ok;
}

bool VolumeBook::load(const QString &path, QString *problem, QList<int> *damaged)
{
    QByteArray text;
    if (!readVolumeFile(QFile::encodeName(path), &text, problem))
        return false;
    saved = parseVolumeText(text, damaged);
    return true;
}

// Saves of all programs take turns through a lock on the file's directory,
// which, unlike the file, is never replaced.  The descriptor holding the
// lock, or -1.
static int lockDirectory(const QString &path)
{
    const QByteArray directory = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int result;
    do
        result = flock(fd, LOCK_EX);
    while (result != 0 && errno == EINTR);
    if (result == 0)
        return fd;
    close(fd);
    return -1;
}

static bool writeAll(int fd, const QByteArray &text)
{
    for (qint64 done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.constData() + done, text.size() - done);
        if (n < 0 && errno != EINTR)
            return false;
        done += std::max<ssize_t>(n, 0);
    }
    return true;
}

// Gives the new file the old one's owner (when allowed: only root can give
// a file away) and mode.
static bool takeOwnerAndMode(int fd, const QByteArray &name)
{
    struct stat old;
    if (lstat(name.constData(), &old) != 0 || !S_ISREG(old.st_mode))
        return true;
    return (fchown(fd, old.st_uid, old.st_gid) == 0 || errno == EPERM)
           && fchmod(fd, old.st_mode & 07777) == 0;
}

// Writes the text into "<name>.new" and renames that over the file: a kill
// at any moment leaves one of the two whole.  A rename never follows a
// symbolic link, and O_EXCL never opens one.
static bool replaceFile(const QByteArray &name, const QByteArray &text)
{
    const QByteArray temporary = name + ".new";
    unlink(temporary.constData());  // left by a save that was killed
    const int fd = open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = takeOwnerAndMode(fd, name) && writeAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok && rename(temporary.constData(), name.constData()) == 0;
    if (!ok)
        unlink(temporary.constData());
    return ok;
}

bool VolumeBook::save(const QString &path, QString *problem)
{
    if (unsaved.empty())
        return true;
    const int lock = lockDirectory(path);
    if (lock < 0) {
        *problem = QStringLiteral("cannot be locked");
        return false;
    }
    const QByteArray name = QFile::encodeName(path);
    QByteArray text;
    bool ok = readVolumeFile(name, &text, problem);
    if (ok) {
        text = mergeVolumeText(text, unsaved);
        ok = replaceFile(name, text);
        if (!ok)
            *problem = QStringLiteral("cannot be written");
    }
    close(lock);
    if (ok) {
        saved = parseVolumeText(text);
        unsaved.clear();
    }
    return ok;
}
