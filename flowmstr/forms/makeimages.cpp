// SPDX-License-Identifier: MIT
// Draws the program's pictures into a directory:
//   makeimages flowmstr/forms/images
// Magenta (255, 0, 255) is the transparent colour of every bitmap except the
// window icon; the digit glyphs keep it as their visible background.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <cstdio>

namespace {

const QColor Magenta(255, 0, 255);
const QColor DarkGrey(64, 64, 64);
const QColor Grey(128, 128, 128);

// Seven segments, a to g: top, top right, bottom right, bottom, bottom left,
// top left, middle.
using Segments = std::array<QRect, 7>;

const Segments LargeSegments = {QRect(4, 1, 8, 3),  QRect(12, 4, 3, 6), QRect(12, 13, 3, 6),
                                QRect(4, 19, 8, 3), QRect(1, 13, 3, 6), QRect(1, 4, 3, 6),
                                QRect(4, 10, 8, 3)};
const Segments SmallSegments = {QRect(3, 1, 4, 2), QRect(7, 3, 2, 3), QRect(7, 8, 2, 3),
                                QRect(3, 11, 4, 2), QRect(1, 8, 2, 3), QRect(1, 3, 2, 3),
                                QRect(3, 6, 4, 2)};

// Lit segments per digit, bit 0 = a ... bit 6 = g.
const int DigitSegments[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};

QImage canvas(int width, int height, const QColor &fill = Magenta)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}

QFont pixelFont(int pixels, int weight, bool italic = false)
{
    QFont font(QStringLiteral("helvetica"));
    font.setPixelSize(pixels);
    font.setWeight(QFont::Weight(weight));
    font.setItalic(italic);
    font.setStyleStrategy(QFont::NoAntialias);  // no pink fringe on magenta
    return font;
}

// Eleven glyphs side by side: digits 0 to 9, then a blank cell.
QImage digitStrip(QSize cell, const Segments &segments)
{
    QImage strip = canvas(cell.width() * 11, cell.height());
    QPainter p(&strip);
    for (int digit = 0; digit < 10; ++digit) {
        for (int s = 0; s < 7; ++s) {
            if (DigitSegments[digit] & (1 << s))
                p.fillRect(segments[s].translated(digit * cell.width(), 0), Qt::black);
        }
    }
    return strip;
}

QImage brandLogo()
{
    QImage image = canvas(57, 16);
    QPainter p(&image);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 70, 160));
    p.drawEllipse(1, 1, 14, 14);
    p.setBrush(QColor(255, 0, 85));
    p.drawEllipse(5, 5, 6, 6);
    p.setPen(QColor(0, 70, 160));
    p.setFont(pixelFont(13, QFont::Bold));
    p.drawText(QRect(17, 0, 40, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Orba"));
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

QImage productName()
{
    QImage image = canvas(89, 16);
    QPainter p(&image);
    p.setPen(DarkGrey);
    p.setFont(pixelFont(13, QFont::Bold, true));
    p.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("FlowMeister"));
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

// The window icon and product logo: a small meter with its bar, drawn on a
// 32-pixel grid and scaled to `size` (the desktop's icon is 64 pixels).
QImage meterIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(size / 32.0, size / 32.0);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(0, 70, 160));
    p.drawRoundedRect(QRectF(1.5, 5.5, 29, 21), 4, 4);
    p.fillRect(QRect(5, 10, 22, 4), QColor(160, 160, 160));
    p.fillRect(QRect(5, 10, 15, 4), QColor(255, 0, 85));
    p.fillRect(QRect(5, 17, 22, 6), Qt::black);
    p.fillRect(QRect(7, 19, 4, 2), QColor(255, 0, 255));
    p.fillRect(QRect(14, 19, 4, 2), QColor(255, 0, 255));
    p.fillRect(QRect(21, 19, 4, 2), QColor(255, 0, 255));
    return image;
}

void drawCross(QPainter &p, QPoint origin, const QColor &colour)
{
    p.setPen(QPen(colour, 3, Qt::SolidLine, Qt::SquareCap));
    p.drawLine(origin + QPoint(4, 4), origin + QPoint(13, 13));
    p.drawLine(origin + QPoint(13, 4), origin + QPoint(4, 13));
}

// The test button's four faces in a 2 x 2 grid of 18 x 18 cells: black
// symbol, grey symbol, grey on red, grey on green.
QImage buttonGlyphs()
{
    QImage image = canvas(36, 36);
    QPainter p(&image);
    p.fillRect(QRect(0, 18, 18, 18), QColor(220, 0, 0));
    p.fillRect(QRect(18, 18, 18, 18), QColor(0, 170, 0));
    drawCross(p, QPoint(0, 0), Qt::black);
    drawCross(p, QPoint(18, 0), Grey);
    drawCross(p, QPoint(0, 18), Grey);
    drawCross(p, QPoint(18, 18), Grey);
    return image;
}

void drawComputer(QPainter &p, QPoint origin)
{
    p.setPen(Qt::black);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRect(origin, QSize(11, 9)));
    p.fillRect(QRect(origin + QPoint(2, 2), QSize(8, 6)), QColor(0, 70, 160));
    p.drawRect(QRect(origin + QPoint(3, 10), QSize(5, 1)));
}

QImage networkIcon()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    drawComputer(p, QPoint(1, 3));
    drawComputer(p, QPoint(19, 17));
    p.setPen(QPen(DarkGrey, 2));
    p.drawPolyline(QPolygon({QPoint(6, 15), QPoint(6, 24), QPoint(18, 24)}));
    return image;
}

QImage adapterIcon()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    p.setPen(Qt::black);
    p.setBrush(QColor(0, 130, 60));
    p.drawRect(QRect(2, 7, 27, 16));
    for (int x = 6; x < 26; x += 3)
        p.fillRect(QRect(x, 24, 2, 4), QColor(220, 180, 0));
    p.fillRect(QRect(6, 11, 8, 7), Qt::black);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRect(18, 10, 8, 8));
    p.fillRect(QRect(20, 12, 5, 5), DarkGrey);
    return image;
}

bool save(const QImage &image, const QDir &dir, const char *name)
{
    const QString path = dir.filePath(QLatin1String(name));
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: makeimages DIRECTORY\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    bool ok = save(digitStrip(QSize(16, 22), LargeSegments), dir, "largenumbers.png") &&
              save(digitStrip(QSize(10, 14), SmallSegments), dir, "smallnumbers.png") &&
              save(brandLogo(), dir, "logo.png") && save(productName(), dir, "productname.png") &&
              save(meterIcon(32), dir, "icon.png") &&
              save(meterIcon(64), dir, "icon64.png") && save(buttonGlyphs(), dir, "glyphs.png") &&
              save(networkIcon(), dir, "network.png") && save(adapterIcon(), dir, "adapter.png");
    return ok ? 0 : 1;
}
