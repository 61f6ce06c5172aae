#include "capturethread.h"

#include <pthread.h>

LIBFMSINFO captureInfo;
std::atomic<uint32_t> downloadBytes{0};
std::atomic<uint32_t> uploadBytes{0};
std::atomic<int32_t> captureResult{0};

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
