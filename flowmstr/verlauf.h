// SPDX-License-Identifier: MIT
// What the "Verlauf" window shows, gathered from the meter's signals while
// the window is closed too: the rates since the program started, the line's
// events in their file, and the allowance's warnings.
#ifndef VERLAUF_H
#define VERLAUF_H

#include "history.h"
#include "settingsfile.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <optional>

class Meter;
class QWidget;
class TVerlaufForm;

// The line's events and the warnings already given, beside the settings file.
extern const QString EventsFileName;
extern const QString WarningsFileName;

class Verlauf : public QObject
{
    Q_OBJECT

public:
    // Records the program's start.
    Verlauf(Meter &meter, Settings &settings, QWidget *mainWindow);

    // Opens the one window, or raises it.
    void showWindow();
    void connectionTested(bool succeeded);
    // Records the program's end.
    void programEnds();

    const RateHistory &history() const { return rates; }
    const Meter &meter() const { return engine; }
    Settings &settings() const { return values; }

private:
    void sampled(const MeterSample &sample);
    void stopped(CaptureProblem reason);
    void record(const char *keyword, const QString &interface, const QString &detail,
                const QDateTime &time = QDateTime::currentDateTime());
    void checkAllowance(QDate today);
    bool claimWarning(QDate monthFirst, int level);

    Meter &engine;
    Settings &values;
    QWidget *mainWindow;
    QPointer<TVerlaufForm> window;
    RateHistory rates;
    std::optional<QDateTime> downSince;  // monitoring stopped for a reason of its own
    QDate warnedMonth;
    int warnedLevel = 0;
};

#endif // VERLAUF_H
