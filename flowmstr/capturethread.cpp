// SPDX-License-Identifier: MIT
#include "capturethread.h"

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <type_traits>

static_assert(std::is_standard_layout_v<Capture> && offsetof(Capture, record) == 0,
              "the callback turns a record's address into its capture's");

// A packet socket of protocol 0 is not registered with the network stack:
// creating one is a cheap test of the permission that capturing needs.
static bool mayOpenPacketSockets()
{
    const int fd = socket(AF_PACKET, SOCK_RAW, 0);
    if (fd >= 0)
        close(fd);
    return fd >= 0 || (errno != EPERM && errno != EACCES);
}

namespace {

class SystemCaptureSource : public CaptureSource
{
public:
    InterfaceState follow(int32_t &number, QString &name, int verbose) override
    {
        return followInterface(number, name, verbose);
    }

    int capture(PLIBFMSINFO record) override { return libfms_init(record); }

    CaptureProblem problem(const char *interface) override
    {
        if (!mayOpenPacketSockets())
            return CaptureProblem::NoPermission;
        switch (interfaceUp(interface)) {
        case -1:
            return CaptureProblem::NoInterface;
        case 0:
            return CaptureProblem::InterfaceDown;
        }
        return CaptureProblem::CaptureFailed;
    }
};

} // namespace

CaptureSource &systemCaptureSource()
{
    static SystemCaptureSource source;
    return source;
}

void CaptureCallback(PLIBFMSINFO info)
{
    Capture *capture = reinterpret_cast<Capture *>(info);
    (info->direction == 0 ? capture->down : capture->up)
        .fetch_add(info->nrbytes, std::memory_order_relaxed);
}

TMyThread::TMyThread(CaptureSource &source, std::unique_ptr<Capture> capture)
    : source(source), counts(std::move(capture))
{
}

void TMyThread::Execute()
{
    const int result = source.capture(&counts->record);
    // The capture is over: a cancellation arriving now must not strike the
    // thread's own clean-up, which cannot be unwound.
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    counts->result = result;
    if (result < 0)
        return;
    while (!isInterruptionRequested())
        msleep(100);
}
