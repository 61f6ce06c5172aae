#include "forms.h"

#include <QBitmap>
#include <QFontMetrics>
#include <QMessageBox>
#include <QWidget>

const QString ApplicationTitle = QStringLiteral("Orba-DSL FlowMeister");

void applyFormFont(QWidget *window, int height)
{
    // The height is the text line's, ascent plus descent, as the layout
    // was designed with: the largest size whose line fits.
    QFont font(QStringLiteral("helvetica"));
    for (int size = height; size > 1; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).height() <= height)
            break;
    }
    window->setFont(font);
}

QPixmap transparentPixmap(const QString &path)
{
    QPixmap pixmap(path);
    pixmap.setMask(pixmap.createMaskFromColor(QColor(255, 0, 255)));
    return pixmap;
}

QList<QPixmap> imageList(const QString &path, QSize cell, bool transparent)
{
    const QPixmap all = transparent ? transparentPixmap(path) : QPixmap(path);
    QList<QPixmap> images;
    for (int y = 0; y + cell.height() <= all.height(); y += cell.height())
        for (int x = 0; x + cell.width() <= all.width(); x += cell.width())
            images.append(all.copy(QRect(QPoint(x, y), cell)));
    return images;
}

void showError(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, ApplicationTitle, text + u'.');
}
