// SPDX-License-Identifier: MIT
// Arithmetic of the main window's displays, kept apart from the widgets:
// rates, digit cells, gauge and scale geometry, the gauge's hints.
#ifndef DISPLAY_H
#define DISPLAY_H

#include "volume.h"

#include <QString>

#include <array>
#include <cstdint>

// kbit/s (k = 1000) of `bytes` counted over `elapsedMs` milliseconds; for
// exactly 1000 ms that is (bytes * 8) div 1000.
int64_t rateKbit(uint64_t bytes, int64_t elapsedMs);

// Glyph index per readout cell (thousands to units); 10 is a blank cell.
// Rates above 9999 show 9999, below 0 show 0.
constexpr int BlankGlyph = 10;
std::array<int, 4> digitCells(int64_t rate);

// Nearest integer, a half going to the even neighbour.
int nearestEven(double value);

// Column of the mark for `kbit` on a control `width` pixels wide.
int markColumn(int width, int speed, int kbit);

// Columns of the download bar on a control `width` pixels wide.
int barLength(int64_t rate, int width, int speed);

// The gauge's hint for the pointer at column x, or `current` outside it.
QString gaugeHint(int x, int width, int speed, const QString &current);

enum class CaptureProblem;

// The readouts' hint while nothing is measured: why, and what helps.
// `subject` is the interface (or, for an unreadable settings file, the
// file); `program` the program's path, for the command that grants the
// permission.
QString notMeasuringHint(CaptureProblem problem, const QString &subject, const QString &program);

// Bytes in decimal units (1 kB = 1000 B), three significant digits, German
// number format: "512 B", "1,23 GB", "45,6 MB".
QString decimalBytes(uint64_t bytes);

// The readouts' hint while measuring: today's volume, the volume since the
// billing month's first day, and today's highest download rate.
QString volumeHint(DayVolume today, QDate monthStart, DayVolume month, int64_t peakKbit);

#endif // DISPLAY_H
