#include "capturethread.h"

#include "interfaces.h"

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

LIBFMSINFO captureInfo;
std::atomic<uint32_t> downloadBytes{0};
std::atomic<uint32_t> uploadBytes{0};
std::atomic<int32_t> captureResult{0};

// A packet socket of protocol 0 is not registered with the network stack:
// creating one is a cheap test of the permission that capturing needs.
static bool mayOpenPacketSockets()
{
    const int fd = socket(AF_PACKET, SOCK_RAW, 0);
    if (fd >= 0)
        close(fd);
    return fd >= 0 || (errno != EPERM && errno != EACCES);
}

CaptureProblem captureProblem(const char *interface)
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

void CaptureCallback(PLIBFMSINFO info)
{
    (info->direction == 0 ? downloadBytes : uploadBytes)
        .fetch_add(info->nrbytes, std::memory_order_relaxed);
}

void TMyThread::Execute()
{
    captureResult = libfms_init(&captureInfo);
    // The capture is over: a cancellation arriving now must not strike the
    // thread's own clean-up, which cannot be unwound.
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    if (captureResult < 0)
        return;
    while (!isInterruptionRequested())
        msleep(100);
}
