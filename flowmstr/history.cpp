// SPDX-License-Identifier: MIT
#include "history.h"

#include <algorithm>

// The slot still filling is one of the span's.
RateRing::RateRing(int slotSeconds, int slotCount) : seconds(slotSeconds), ring(size_t(slotCount - 1)) {}

void RateRing::add(qint64 second, int64_t down, int64_t up, bool measured, CaptureProblem reason)
{
    qint64 start = second - second % seconds;
    // Ticks come about a second apart, not on the second: one that lands in
    // the second the tick before took goes to the next one, so that no two
    // ticks are averaged and no second stays empty.
    if (seconds == 1 && opened && start <= open.start)
        start = open.start + 1;
    if (opened && start != open.start)
        close();
    if (!opened) {
        open = RatePoint();
        open.start = start;
        opened = true;
        downSum = upSum = measuredSeconds = 0;
    }
    if (measured) {
        downSum += down;
        upSum += up;
        ++measuredSeconds;
        open.measured = true;
        open.down = int32_t(downSum / measuredSeconds);
        open.up = int32_t(upSum / measuredSeconds);
        open.downPeak = int32_t(std::max<int64_t>(open.downPeak, down));
        open.upPeak = int32_t(std::max<int64_t>(open.upPeak, up));
    } else {
        open.gap = reason;
    }
}

void RateRing::close()
{
    ring[next] = open;
    next = (next + 1) % ring.size();
    used = std::min(used + 1, ring.size());
    opened = false;
}

std::vector<RatePoint> RateRing::points() const
{
    std::vector<RatePoint> all;
    all.reserve(used + 1);
    for (size_t i = 0; i < used; ++i)
        all.push_back(ring[(next + ring.size() - used + i) % ring.size()]);
    if (opened)
        all.push_back(open);
    return all;
}

RateHistory::RateHistory()
    : perSecond(1, seconds(HistorySpan::TwoMinutes)), perTenSeconds(10, seconds(HistorySpan::OneHour) / 10),
      perMinute(60, seconds(HistorySpan::OneDay) / 60)
{
}

void RateHistory::add(const MeterSample &sample, CaptureProblem reason)
{
    const qint64 second = sample.time.toSecsSinceEpoch();
    for (RateRing *ring : {&perSecond, &perTenSeconds, &perMinute})
        ring->add(second, sample.downKbit, sample.upKbit, sample.measuring, reason);
}

const RateRing &RateHistory::ring(HistorySpan span) const
{
    switch (span) {
    case HistorySpan::TwoMinutes:
        return perSecond;
    case HistorySpan::OneHour:
        return perTenSeconds;
    default:
        return perMinute;
    }
}

int RateHistory::seconds(HistorySpan span)
{
    switch (span) {
    case HistorySpan::TwoMinutes:
        return 2 * 60;
    case HistorySpan::OneHour:
        return 60 * 60;
    default:
        return 24 * 60 * 60;
    }
}
