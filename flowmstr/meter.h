// SPDX-License-Identifier: MIT
// The meter: monitors one interface, without any window.  It runs one
// capture at a time on the followed interface, follows the interface through
// link and address events, turns the counted bytes into rates once a tick and
// books them to the data volume.  Windows subscribe to its signals and draw.
#ifndef METER_H
#define METER_H

#include "capturethread.h"
#include "volume.h"

#include <QDateTime>
#include <QObject>

#include <functional>
#include <map>

class LinkWatcher;
class QTimer;

// What one tick measured.
struct MeterSample {
    QDateTime time;        // when the tick ended
    qint64 elapsedMs = 0;  // since the tick before
    uint32_t downBytes = 0;
    uint32_t upBytes = 0;
    int64_t downKbit = 0;  // 0 while not measuring
    int64_t upKbit = 0;
    bool measuring = false;
};
Q_DECLARE_METATYPE(MeterSample)

class Meter : public QObject
{
    Q_OBJECT

public:
    explicit Meter(CaptureSource &source = systemCaptureSource(), QObject *parent = nullptr);
    ~Meter() override;

    // The monotonic clock, in milliseconds, that the tick measures with.
    void setClock(std::function<qint64()> clock);

    // Monitors the interface called `name` (while empty, the one at
    // `number`) from now on, starting afresh.
    void monitor(int32_t number, const QString &name, int verbose);
    // Stops monitoring and resolves the followed interface again; starts a
    // new capture on it if it is up.
    void restart();
    // Stops monitoring for a reason of the caller's.
    void stop(CaptureProblem reason);
    // Link and address events: when the followed interface has gone, gone
    // down, come back or got another address, monitoring starts afresh.
    void linkChanged();
    // Takes the counts since the last tick and emits the sample.
    void tick();
    // Books the bytes counted since the last tick to the volume without
    // showing them (when closing).
    void bookUntickedBytes();

    // Reads the volume of earlier runs from `path`; later saves go there.
    void loadVolume(const QString &path, int debuglevel);
    // Merges this run's unsaved volume into the file; false with a reason.
    bool saveVolume(QString *problem = nullptr);
    bool volumeFileFailed() const { return volumeFailed; }
    const VolumeBook &volume() const { return book; }

    bool measuring() const { return isMeasuring; }
    CaptureProblem problem() const { return reason; }
    int64_t downloadRate() const { return downKbit; }
    int64_t uploadRate() const { return upKbit; }
    // The followed interface; its number follows its name.
    int32_t interfaceNumber() const { return number; }
    QString interfaceName() const { return name; }
    // The record the current (or last) capture was started with.
    const LIBFMSINFO &record() const { return started; }
    // The running capture, or null; counts on it go to the next tick.
    Capture *capture() const;
    // Bumped by every start and every stop of a capture.
    int generation() const { return currentGeneration; }
    // Capture threads not yet ended and deleted.
    size_t threadCount() const { return threads.size(); }

signals:
    void sampled(const MeterSample &sample);
    // A new capture has lasted until a tick: its figures are shown from now.
    void measuringStarted();
    // No figures from now on, and why.
    void measuringStopped(CaptureProblem reason);
    // The followed interface's number changed with its name.
    void interfaceMoved(int32_t number, const QString &name);

private:
    void startCapture(const LIBFMSINFO &resolved);
    void stopCapture();
    std::map<int, TMyThread *>::iterator deleteThread(std::map<int, TMyThread *>::iterator thread);
    void captureEnded(int generation);
    void setStopped(CaptureProblem why);
    void followLinks();

    CaptureSource &source;
    std::function<qint64()> clock;
    QTimer *retryTimer;
    LinkWatcher *linkWatcher = nullptr;  // from the first start on

    int32_t number = 0;
    QString name;
    int verbose = 0;
    InterfaceState monitored;  // as the last start found it
    LIBFMSINFO started{};

    std::map<int, TMyThread *> threads;  // by the generation that started them
    int currentGeneration = 0;
    bool isMeasuring = false;
    CaptureProblem reason = CaptureProblem::Starting;
    qint64 lastTickMs = 0;
    int64_t downKbit = 0;
    int64_t upKbit = 0;

    VolumeBook book;
    QString volumePath;
    qint64 lastVolumeSaveMs = 0;
    bool volumeFailed = false;
};

#endif // METER_H
