// SPDX-License-Identifier: MIT
#include "linkevents.h"

#include "safefile.h"

#include <cstdlib>

static constexpr int KeptLines = 10000;
static constexpr int KeptDays = 400;

// 10,000 lines of a few dozen bytes: far more is not ours.
static const FileRules eventRules{8 * 1024 * 1024, Links::Refused};

static QByteArray field(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\n', ' ');
    if (!bytes.contains(',') && !bytes.contains('"'))
        return bytes;
    return '"' + bytes.replace("\"", "\"\"") + '"';
}

QByteArray eventLine(const LineEvent &event)
{
    // The offset always, also where it is zero ("+00:00", never "Z").
    const int offset = event.time.offsetFromUtc() / 60;
    const QString time = event.time.toString(u"yyyy-MM-ddTHH:mm:ss")
                         + QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 60,
                                             std::abs(offset) % 60);
    return time.toLatin1() + ',' + field(event.keyword) + ',' + field(event.interface) + ',' + field(event.detail)
           + '\n';
}

// The line's fields, quotes taken off.
static QList<QByteArray> fieldsOf(const QByteArray &line)
{
    QList<QByteArray> fields(1);
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"')
            fields.last() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields.append(QByteArray());
        else
            fields.last() += c;
    }
    return fields;
}

std::optional<LineEvent> parseEventLine(const QByteArray &line)
{
    const QList<QByteArray> fields = fieldsOf(line.endsWith('\r') ? line.chopped(1) : line);
    if (fields.size() != 4)
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODate);
    if (!time.isValid() || fields[1].isEmpty())
        return std::nullopt;
    return LineEvent{time, QString::fromUtf8(fields[1]), QString::fromUtf8(fields[2]),
                     QString::fromUtf8(fields[3])};
}

static QList<QByteArray> linesOf(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

QList<LineEvent> parseEvents(const QByteArray &text)
{
    QList<LineEvent> events;
    for (const QByteArray &line : linesOf(text))
        if (const auto event = parseEventLine(line))
            events.append(*event);
    return events;
}

QByteArray appendEventLine(const QByteArray &text, const QByteArray &line, const QDateTime &now)
{
    QList<QByteArray> lines = linesOf(text);
    lines.append(line.chopped(line.endsWith('\n') ? 1 : 0));
    const QDateTime oldest = now.addDays(-KeptDays);
    qsizetype first = std::max<qsizetype>(0, lines.size() - KeptLines);
    for (; first < lines.size(); ++first) {
        const auto event = parseEventLine(lines[first]);
        if (!event || event->time >= oldest)
            break;
    }
    QByteArray kept;
    for (qsizetype i = first; i < lines.size(); ++i)
        kept += lines[i] + '\n';
    return kept;
}

OutageSummary outagesSince(const QList<LineEvent> &events, const QDateTime &since, const QDateTime &now)
{
    OutageSummary summary;
    std::optional<QDateTime> down;
    const auto end = [&](const QDateTime &at) {
        const QDateTime from = std::max(*down, since);
        if (at > since) {
            ++summary.outages;
            summary.offSeconds += from.secsTo(at);
        }
        down.reset();
    };
    for (const LineEvent &event : events) {
        if (event.keyword == QLatin1String("down") && !down)
            down = event.time;
        else if (down && (event.keyword == QLatin1String("up") || event.keyword == QLatin1String("start")
                          || event.keyword == QLatin1String("stop")))
            end(event.time);
    }
    if (down)
        end(now);
    return summary;
}

QString durationText(qint64 seconds)
{
    const qint64 h = seconds / 3600, min = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1 h %2 min").arg(h).arg(min, 2, 10, QLatin1Char('0'));
    if (min > 0)
        return QStringLiteral("%1 min %2 s").arg(min).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 s").arg(s);
}

bool appendEvent(const QString &path, const LineEvent &event)
{
    const QByteArray line = eventLine(event);
    const QDateTime now = QDateTime::currentDateTime();
    return updateSafeFile(path, eventRules, [&](const QByteArray &old) {
               return appendEventLine(old, line, now);
           }) == FileStatus::Ok;
}

QList<LineEvent> readEvents(const QString &path)
{
    return parseEvents(readSafeFile(path, eventRules).bytes);
}
