// SPDX-License-Identifier: MIT
// The download and upload rates since the program started, at three
// resolutions: the last two minutes second by second, the last hour in
// 10-second averages, the last day in minute averages with each minute's
// peak.  Each lives in a ring of fixed size, so a day of history takes the
// same memory as a minute's.
#ifndef HISTORY_H
#define HISTORY_H

#include "capturethread.h"
#include "meter.h"

#include <cstdint>
#include <vector>

enum class HistorySpan { TwoMinutes, OneHour, OneDay };

// One slot of a span: the average of its measured seconds, its highest
// second, or why nothing was measured.
struct RatePoint {
    qint64 start = 0;  // seconds since the epoch
    int32_t down = 0;  // kbit/s
    int32_t up = 0;
    int32_t downPeak = 0;
    int32_t upPeak = 0;
    bool measured = false;
    CaptureProblem gap = CaptureProblem::Starting;  // the last reason, when not measured
};

class RateRing
{
public:
    RateRing(int slotSeconds, int slotCount);

    void add(qint64 second, int64_t down, int64_t up, bool measured, CaptureProblem reason);
    // Oldest first; the slot still filling last.
    std::vector<RatePoint> points() const;
    int slotSeconds() const { return seconds; }

private:
    void close();

    int seconds;
    std::vector<RatePoint> ring;  // sized once
    size_t next = 0;
    size_t used = 0;
    RatePoint open;
    bool opened = false;
    int64_t downSum = 0;
    int64_t upSum = 0;
    int measuredSeconds = 0;
};

class RateHistory
{
public:
    RateHistory();

    // A tick's rates; `reason` says why nothing is measured, if not.
    void add(const MeterSample &sample, CaptureProblem reason);
    const RateRing &ring(HistorySpan span) const;

    // How long a span lasts, in seconds.
    static int seconds(HistorySpan span);

private:
    RateRing perSecond;
    RateRing perTenSeconds;
    RateRing perMinute;
};

#endif // HISTORY_H
