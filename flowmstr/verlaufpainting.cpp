// SPDX-License-Identifier: MIT
#include "verlaufpainting.h"

#include <QPainter>

#include <algorithm>

const QColor DownloadColour(255, 0, 85);  // the gauge's bar
const QColor UploadColour(0, 85, 255);
static const QColor PeakColour(255, 160, 190);
static const QColor GapColour(128, 128, 128);
static const QColor Mark56Colour(64, 64, 64);    // as the gauge's marks
static const QColor Mark128Colour(128, 128, 128);
static const QColor AllowanceColour(0, 0, 0);

int64_t rateScale(const RateView &view)
{
    int64_t top = std::max(view.speed, 1);
    for (const RatePoint &p : view.points)
        top = std::max<int64_t>({top, p.downPeak, p.upPeak});
    return top;
}

int rateColumn(const RateView &view, int width, qint64 second)
{
    const qint64 first = view.nowSecond - view.spanSeconds;
    return int((second - first) * width / view.spanSeconds);
}

int rateRow(int height, int64_t scale, int64_t kbit)
{
    return int(kbit * (height - 1) / scale);
}

const RatePoint *pointAt(const RateView &view, int width, int x)
{
    for (const RatePoint &p : view.points)
        if (x >= rateColumn(view, width, p.start) && x < rateColumn(view, width, p.start + view.slotSeconds))
            return &p;
    return nullptr;
}

// A column from the bottom up to `kbit`.
static void fillUpTo(QPainter &painter, int x, int w, int height, int64_t scale, int64_t kbit,
                     const QColor &colour)
{
    const int rows = rateRow(height, scale, kbit) + (kbit > 0 ? 1 : 0);
    painter.fillRect(x, height - rows, w, rows, colour);
}

void paintRateGraph(QPainter &painter, QSize size, const RateView &view, const QColor &background)
{
    const int width = size.width(), height = size.height();
    const int64_t scale = rateScale(view);
    painter.fillRect(QRect(QPoint(0, 0), size), background);
    for (const RatePoint &p : view.points) {
        const int x = std::max(0, rateColumn(view, width, p.start));
        const int w = std::min(width, rateColumn(view, width, p.start + view.slotSeconds)) - x;
        if (w <= 0)
            continue;
        if (!p.measured) {
            painter.fillRect(x, 0, w, height, QBrush(GapColour, Qt::BDiagPattern));
            continue;
        }
        if (view.slotSeconds > 1)
            fillUpTo(painter, x, w, height, scale, p.downPeak, PeakColour);
        fillUpTo(painter, x, w, height, scale, p.down, DownloadColour);
        painter.fillRect(x, height - 1 - rateRow(height, scale, p.up), w, 2, UploadColour);
    }
    painter.fillRect(0, height - 1 - rateRow(height, scale, 56), width, 1, Mark56Colour);
    painter.fillRect(0, height - 1 - rateRow(height, scale, 128), width, 1, Mark128Colour);
}

int barHeight(uint64_t bytes, uint64_t top, int height)
{
    return top == 0 ? 0 : int(double(bytes) * height / double(top) + 0.5);
}

uint64_t barsTop(const std::vector<DayVolume> &days, uint64_t dayAllowance)
{
    uint64_t top = dayAllowance;
    for (const DayVolume &day : days)
        top = std::max({top, day.down, day.up});
    return top;
}

void paintDayBars(QPainter &painter, QSize size, const std::vector<DayVolume> &days,
                  uint64_t dayAllowance, const QColor &background)
{
    const int width = size.width(), height = size.height();
    painter.fillRect(QRect(QPoint(0, 0), size), background);
    if (days.empty())
        return;
    const uint64_t top = barsTop(days, dayAllowance);
    const int slot = width / int(days.size()), bar = std::max(1, (slot - 2) / 2);
    for (size_t i = 0; i < days.size(); ++i) {
        const int x = int(i) * slot + 1;
        const int down = barHeight(days[i].down, top, height), up = barHeight(days[i].up, top, height);
        painter.fillRect(x, height - down, bar, down, DownloadColour);
        painter.fillRect(x + bar, height - up, bar, up, UploadColour);
    }
    if (dayAllowance > 0)
        painter.fillRect(0, height - barHeight(dayAllowance, top, height), width, 1, AllowanceColour);
}
