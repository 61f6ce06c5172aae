// SPDX-License-Identifier: MIT
#include "meter.h"

#include "display.h"
#include "linkwatcher.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

// How long a cancelled capture may take to end before it is left to finish
// on its own, with its own record.
static constexpr int CaptureStopTimeoutMs = 2000;

// A capture that failed while its interface looked fine is tried again after
// this long.
static constexpr int CaptureRetryMs = 1000;

// The shortest period whose bytes give a capture's first figures: a few
// milliseconds' worth would show as a spike.
static constexpr qint64 ShortestFirstPeriodMs = 250;

// The volume is saved this often: a crash loses at most this much of it.
static constexpr qint64 VolumeSaveIntervalMs = 5 * 60 * 1000;

static qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

Meter::Meter(CaptureSource &source, QObject *parent)
    : QObject(parent), source(source), clock(monotonicMs), retryTimer(new QTimer(this))
{
    retryTimer->setInterval(CaptureRetryMs);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &Meter::restart);
    lastTickMs = lastVolumeSaveMs = clock();
}

// A capture still running after its stop timed out cannot be deleted: it
// is left to the end of the process, with its record.
Meter::~Meter()
{
    stopCapture();
    for (auto thread = threads.begin(); thread != threads.end();)
        thread = thread->second->wait(QDeadlineTimer(CaptureStopTimeoutMs)) ? deleteThread(thread)
                                                                            : std::next(thread);
}

// The one place where capture threads, with their captures, are deleted:
// only once QThread::wait has seen the thread end.
std::map<int, TMyThread *>::iterator Meter::deleteThread(std::map<int, TMyThread *>::iterator thread)
{
    delete thread->second;
    return threads.erase(thread);
}

void Meter::setClock(std::function<qint64()> clock)
{
    this->clock = std::move(clock);
    lastTickMs = lastVolumeSaveMs = this->clock();
}

void Meter::monitor(int32_t number, const QString &name, int verbose)
{
    this->number = number;
    this->name = name;
    this->verbose = verbose;
    restart();
}

// The readouts stay blank until the new capture has lasted until a tick,
// and its bytes are all that the tick counts.  A missing or inactive
// interface gets no capture: its return is a link event.
void Meter::restart()
{
    stopCapture();
    retryTimer->stop();
    lastTickMs = clock();
    setStopped(CaptureProblem::Starting);
    followLinks();
    const int32_t oldNumber = number;
    monitored = source.follow(number, name, verbose);
    if (number != oldNumber)
        emit interfaceMoved(number, name);
    if (!monitored.listed || !monitored.up) {
        setStopped(monitored.listed     ? CaptureProblem::InterfaceDown
                   : monitored.ipv6Only ? CaptureProblem::OnlyIpv6
                                        : CaptureProblem::NoInterface);
        return;
    }
    startCapture(monitored.resolved);
}

void Meter::stop(CaptureProblem reason)
{
    stopCapture();
    retryTimer->stop();
    setStopped(reason);
}

void Meter::linkChanged()
{
    if (!linkWatcher)
        return;  // nothing is monitored yet
    int32_t nowNumber = number;
    QString nowName = name;
    if (source.follow(nowNumber, nowName, 0) != monitored) {
        restart();
    } else if (nowNumber != number) {  // another interface was listed before it
        number = nowNumber;
        emit interfaceMoved(number, name);
    }
}

void Meter::followLinks()
{
    if (linkWatcher)
        return;
    linkWatcher = new LinkWatcher(this);
    connect(linkWatcher, &LinkWatcher::changed, this, &Meter::linkChanged);
}

void Meter::startCapture(const LIBFMSINFO &resolved)
{
    auto capture = std::make_unique<Capture>();
    capture->record = resolved;
    capture->record.cb = CaptureCallback;
    capture->record.verbose = verbose;
    capture->record.countall = 0;
    started = capture->record;
    const int generation = ++currentGeneration;
    auto *thread = new TMyThread(source, std::move(capture));
    threads[generation] = thread;
    connect(thread, &QThread::finished, this, [this, generation] { captureEnded(generation); });
    thread->start();
    if (!thread->isRunning() && !thread->isFinished())  // no thread could be made
        captureEnded(generation);
}

// Cancels the current capture, blocked in the library's wait for frames, and
// books what it counted since the last tick.  One that does not end in time
// keeps its capture until it does; captureEnded deletes it then.
void Meter::stopCapture()
{
    const auto current = threads.find(currentGeneration);
    ++currentGeneration;  // an end notification from now on is an old one
    if (current == threads.end())
        return;
    TMyThread *thread = current->second;
    thread->terminate();  // POSIX cancellation of the thread
    thread->requestInterruption();
    const bool ended = thread->wait(QDeadlineTimer(CaptureStopTimeoutMs));
    Capture &counts = thread->capture();
    book.addTick(QDateTime::currentDateTime(), counts.down.exchange(0), counts.up.exchange(0), 0);
    if (ended)
        deleteThread(current);
}

// End notification of a capture thread: it is deleted, and unless a newer
// capture has replaced it, the reason is asked.  A capture that failed on an
// interface that is up is tried again.
void Meter::captureEnded(int generation)
{
    if (const auto ended = threads.find(generation); ended != threads.end()) {
        ended->second->wait();  // the thread is past its last step
        deleteThread(ended);
    }
    if (generation != currentGeneration)
        return;
    const CaptureProblem problem = source.problem(started.interface);
    setStopped(problem);
    if (problem == CaptureProblem::CaptureFailed)
        retryTimer->start();
}

Capture *Meter::capture() const
{
    const auto current = threads.find(currentGeneration);
    return current == threads.end() ? nullptr : &current->second->capture();
}

// The tick: takes both byte counts and turns them into rates over the time
// that really passed.
void Meter::tick()
{
    const qint64 now = clock();
    if (!isMeasuring && now - lastTickMs < ShortestFirstPeriodMs)
        return;  // a capture that has just started shows its figures at the next tick
    MeterSample sample;
    sample.time = QDateTime::currentDateTime();
    sample.elapsedMs = now - lastTickMs;
    lastTickMs = now;
    if (Capture *counts = capture()) {
        sample.downBytes = counts->down.exchange(0);
        sample.upBytes = counts->up.exchange(0);
        if (!isMeasuring && threads.at(currentGeneration)->isRunning()) {
            isMeasuring = true;
            emit measuringStarted();
        }
    }
    sample.measuring = isMeasuring;
    downKbit = sample.downKbit = isMeasuring ? rateKbit(sample.downBytes, sample.elapsedMs) : 0;
    upKbit = sample.upKbit = isMeasuring ? rateKbit(sample.upBytes, sample.elapsedMs) : 0;
    book.addTick(sample.time, sample.downBytes, sample.upBytes, downKbit);
    if (now - lastVolumeSaveMs >= VolumeSaveIntervalMs)
        saveVolume();
    emit sampled(sample);
}

void Meter::bookUntickedBytes()
{
    if (Capture *counts = capture())
        book.addTick(QDateTime::currentDateTime(), counts->down.exchange(0), counts->up.exchange(0), 0);
}

void Meter::setStopped(CaptureProblem why)
{
    isMeasuring = false;
    downKbit = upKbit = 0;
    reason = why;
    emit measuringStopped(why);
}

// Damaged lines are skipped, and told of at a debug level.
void Meter::loadVolume(const QString &path, int debuglevel)
{
    volumePath = path;
    QString problem;
    QList<int> damaged;
    volumeFailed = !book.load(path, &problem, &damaged);
    if (debuglevel == 0)
        return;
    for (int line : std::as_const(damaged))
        std::fprintf(stderr, "%s: line %d damaged, skipped\n", qPrintable(path), line);
    if (volumeFailed)
        std::fprintf(stderr, "%s %s\n", qPrintable(path), qPrintable(problem));
}

// Whatever other programs have added to the file meanwhile stays.
bool Meter::saveVolume(QString *problem)
{
    lastVolumeSaveMs = clock();
    if (volumePath.isEmpty())
        return true;
    QString why;
    volumeFailed = !book.save(volumePath, &why);
    if (volumeFailed && verbose != 0)
        std::fprintf(stderr, "%s %s, volume not saved\n", qPrintable(volumePath), qPrintable(why));
    if (problem)
        *problem = why;
    return !volumeFailed;
}
