// Monitoring: the capture record, the byte accumulators and the thread that
// runs the library's capture loop.
#ifndef CAPTURETHREAD_H
#define CAPTURETHREAD_H

#include "externals.h"

#include <QThread>

#include <atomic>
#include <cstdint>

// The program's one capture record, shared with the library for the whole run.
extern LIBFMSINFO captureInfo;

// Bytes counted since the last tick, towards this PC and from it.  The capture
// thread adds; the tick takes them with exchange(0), so no byte is lost.
extern std::atomic<uint32_t> downloadBytes;
extern std::atomic<uint32_t> uploadBytes;

// Result of the last libfms_init that returned.
extern std::atomic<int32_t> captureResult;

// Why no capture runs on an interface.
enum class CaptureProblem {
    NoPermission,        // packet sockets are not allowed (no CAP_NET_RAW)
    NoInterface,         // no such interface, or it has no IPv4 address
    InterfaceDown,
    CaptureFailed,
    SettingsUnreadable,
};

// Asks the system why a capture on `interface` cannot run (or has ended).
CaptureProblem captureProblem(const char *interface);

// Adds the current frame's bytes to the accumulator of its direction.
extern "C" void CaptureCallback(PLIBFMSINFO info);

// Runs the capture on captureInfo until the thread is cancelled or the
// capture fails.
class TMyThread : public QThread
{
    Q_OBJECT

public:
    using QThread::QThread;

protected:
    void run() override { Execute(); }

private:
    void Execute();
};

#endif // CAPTURETHREAD_H
