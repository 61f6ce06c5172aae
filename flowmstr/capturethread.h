// SPDX-License-Identifier: MIT
// One capture: its record and byte counts, the thread that runs the
// library's capture loop on it, and what the meter asks of the system.
#ifndef CAPTURETHREAD_H
#define CAPTURETHREAD_H

#include "interfaces.h"

#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>

// Why no capture runs on an interface.
enum class CaptureProblem {
    Starting,            // a new capture has not yet lasted until a tick
    NoPermission,        // packet sockets are not allowed (no CAP_NET_RAW)
    NoInterface,         // no such interface, or it has no IPv4 address
    OnlyIpv6,            // the interface has IPv6 addresses only
    InterfaceDown,
    CaptureFailed,
    SettingsUnreadable,
};

// A capture's record and the bytes counted since the last tick, towards this
// PC and from it.  The capture thread adds; the tick takes them with
// exchange(0), so no byte is lost.  Each capture has its own: one that
// outlives its stop keeps writing only here.
struct Capture {
    LIBFMSINFO record{};  // first, so that the callback finds the counts from it
    std::atomic<uint32_t> down{0};
    std::atomic<uint32_t> up{0};
    std::atomic<int32_t> result{0};  // of libfms_init, once it has returned
};

// Adds the current frame's bytes to its capture's count of its direction.
extern "C" void CaptureCallback(PLIBFMSINFO info);

// What monitoring needs of the system; the tests put a fake in its place.
class CaptureSource
{
public:
    virtual ~CaptureSource() = default;
    // Resolves the followed interface as followInterface does.
    virtual InterfaceState follow(int32_t &number, QString &name, int verbose) = 0;
    // Runs on the capture thread: captures on `record` until the thread is
    // cancelled or the capture fails (libfms_init's contract).
    virtual int capture(PLIBFMSINFO record) = 0;
    // Why a capture on `interface` cannot run, or has ended.
    virtual CaptureProblem problem(const char *interface) = 0;
};

// The capture library and the kernel.
CaptureSource &systemCaptureSource();

// Runs one capture until the thread is cancelled or the capture fails; the
// thread owns the capture.
class TMyThread : public QThread
{
    Q_OBJECT

public:
    TMyThread(CaptureSource &source, std::unique_ptr<Capture> capture);

    Capture &capture() const { return *counts; }

protected:
    void run() override { Execute(); }

private:
    void Execute();

    CaptureSource &source;
    const std::unique_ptr<Capture> counts;
};

#endif // CAPTURETHREAD_H
