// SPDX-License-Identifier: MIT
// The main window's pictures of what the meter measured: the readouts'
// digit cells, the gauge's bar and marks, the scale's zones.
#ifndef METERPAINTING_H
#define METERPAINTING_H

#include <QColor>
#include <QList>
#include <QPixmap>

#include <cstdint>

class QPainter;

// Four cells of `rate`, right-aligned, from a readout's glyph list; blank
// cells while nothing is measured.
void paintReadout(QPainter &painter, const QList<QPixmap> &glyphs, int64_t rate, bool measuring);

// The download bar over the 56 and 128 kbit/s marks, on `background`.
void paintGauge(QPainter &painter, QSize size, int speed, int64_t rate, const QColor &background);

// The zones up to 56 kbit/s, up to 128 kbit/s and up to `speed`.
void paintScale(QPainter &painter, QSize size, int speed);

#endif // METERPAINTING_H
