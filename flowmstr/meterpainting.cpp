// SPDX-License-Identifier: MIT
#include "meterpainting.h"

#include "display.h"

#include <QPainter>

#include <algorithm>

static const QColor Zone1Colour(64, 64, 64);     // up to 56 kbit/s
static const QColor Zone2Colour(128, 128, 128);  // up to 128 kbit/s
static const QColor Zone3Colour(160, 160, 160);  // up to `speed`
static const QColor BarColour(255, 0, 85);

void paintReadout(QPainter &painter, const QList<QPixmap> &glyphs, int64_t rate, bool measuring)
{
    std::array<int, 4> cells = digitCells(rate);
    if (!measuring)
        cells.fill(BlankGlyph);
    for (int i = 0; i < 4; ++i)
        painter.drawPixmap(i * qRound(glyphs[0].deviceIndependentSize().width()), 0, glyphs[cells[i]]);
}

void paintGauge(QPainter &painter, QSize size, int speed, int64_t rate, const QColor &background)
{
    const int width = size.width(), height = size.height();
    painter.fillRect(QRect(QPoint(0, 0), size), background);
    painter.fillRect(markColumn(width, speed, 56) - 2, 0, 1, height, Zone1Colour);
    painter.fillRect(markColumn(width, speed, 128) - 2, 0, 1, height, Zone2Colour);
    const int bar = barLength(rate, width, speed);
    if (bar > 0)
        painter.fillRect(0, 0, bar, height, BarColour);
}

void paintScale(QPainter &painter, QSize size, int speed)
{
    const int width = size.width(), height = size.height();
    const int m56 = std::min(markColumn(width, speed, 56), width);
    const int m128 = std::min(markColumn(width, speed, 128), width);
    painter.fillRect(0, 0, m56, height, Zone1Colour);
    if (m128 > m56)
        painter.fillRect(m56, 0, m128 - m56, height, Zone2Colour);
    if (width > m128)
        painter.fillRect(m128, 0, width - m128, height, Zone3Colour);
}
