// SPDX-License-Identifier: MIT
// The history window's pictures: the rates over a span, the bars per day of
// the billing month.  Geometry is kept in plain functions for the checks.
#ifndef VERLAUFPAINTING_H
#define VERLAUFPAINTING_H

#include "history.h"
#include "volume.h"

#include <QColor>
#include <QSize>

#include <cstdint>
#include <vector>

class QPainter;

extern const QColor DownloadColour;
extern const QColor UploadColour;

// What the graph shows: `points` of one ring over the `spanSeconds` up to
// `nowSecond` (seconds since the epoch).
struct RateView {
    std::vector<RatePoint> points;
    int slotSeconds = 1;
    int spanSeconds = 120;
    qint64 nowSecond = 0;
    int speed = 768;  // kbit/s, the scale unless a rate exceeds it
};

// The scale's top in kbit/s: the line speed, or the highest rate shown.
int64_t rateScale(const RateView &view);
// Column of the second `second` on a graph `width` pixels wide.
int rateColumn(const RateView &view, int width, qint64 second);
// Row of `kbit` on a graph `height` pixels high (0 on the bottom row).
int rateRow(int height, int64_t scale, int64_t kbit);
// The point shown at column x, or null.
const RatePoint *pointAt(const RateView &view, int width, int x);

void paintRateGraph(QPainter &painter, QSize size, const RateView &view, const QColor &background);

// Bar height in pixels of `bytes` on bars `height` pixels high, `top` bytes
// at the top.
int barHeight(uint64_t bytes, uint64_t top, int height);
// The bars' top in bytes: the largest day, or the allowance per day.
uint64_t barsTop(const std::vector<DayVolume> &days, uint64_t dayAllowance);

// Download and upload of each day side by side; a line at `dayAllowance`
// (bytes, 0: none).
void paintDayBars(QPainter &painter, QSize size, const std::vector<DayVolume> &days,
                  uint64_t dayAllowance, const QColor &background);

#endif // VERLAUFPAINTING_H
