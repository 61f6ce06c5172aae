// SPDX-License-Identifier: MIT
// Reads the main window's readouts back from their pixels.
#pragma once

#include <QImage>
#include <QList>
#include <QWidget>

// The glyph each of the readout's four cells shows (10: blank), or -1 where
// a cell matches no glyph of its list.
inline QList<int> readoutGlyphs(QWidget *box)
{
    const bool large = box->objectName() == QLatin1String("LargeBox");
    const QSize cell = large ? QSize(16, 22) : QSize(10, 14);
    const QImage list = QImage(large ? QStringLiteral(":/images/largenumbers.png")
                                     : QStringLiteral(":/images/smallnumbers.png"))
                            .convertToFormat(QImage::Format_RGB32);
    const QImage shown = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QList<int> glyphs;
    for (int i = 0; i < 4; ++i) {
        const QImage got = shown.copy(QRect(QPoint(i * cell.width(), 0), cell));
        int match = -1;
        for (int g = 0; g * cell.width() < list.width() && match < 0; ++g)
            if (list.copy(QRect(QPoint(g * cell.width(), 0), cell)) == got)
                match = g;
        glyphs << match;
    }
    return glyphs;
}

// Whether the readout shows figures (a single 0 at least), not blanks.
inline bool showsNumbers(QWidget *box)
{
    return readoutGlyphs(box).last() != 10;
}
