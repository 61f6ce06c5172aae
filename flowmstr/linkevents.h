// SPDX-License-Identifier: MIT
// The line's life, kept for a letter to the provider: when monitoring
// stopped and why, when it started again, connection tests, program start
// and end.  The file holds one line per event,
//   time,keyword,interface,detail
// the time local ISO 8601 with its offset, fields with a comma or a quote
// quoted as in CSV.  It keeps the last 10,000 lines of the last 400 days.
#ifndef LINKEVENTS_H
#define LINKEVENTS_H

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

struct LineEvent {
    QDateTime time;
    QString keyword;  // start, stop, down, up, test-ok, test-failed
    QString interface;
    QString detail;   // German, for the reader
};

QByteArray eventLine(const LineEvent &event);
std::optional<LineEvent> parseEventLine(const QByteArray &line);
// The events of a file's text, oldest first; damaged lines are skipped.
QList<LineEvent> parseEvents(const QByteArray &text);

// `text` with `line` appended, without the lines beyond the last 10,000
// or older than 400 days before `now`.  Damaged lines are kept.
QByteArray appendEventLine(const QByteArray &text, const QByteArray &line, const QDateTime &now);

// Outages among `events` (oldest first) since `since`: each runs from a
// `down` to the next `up`, `start` or `stop`, or to `now`.
struct OutageSummary {
    int outages = 0;
    qint64 offSeconds = 0;
};
OutageSummary outagesSince(const QList<LineEvent> &events, const QDateTime &since, const QDateTime &now);

// "5 s", "2 min 05 s", "3 h 07 min".
QString durationText(qint64 seconds);

// The file beside the settings file; false when it can't be written.
bool appendEvent(const QString &path, const LineEvent &event);
QList<LineEvent> readEvents(const QString &path);

#endif // LINKEVENTS_H
