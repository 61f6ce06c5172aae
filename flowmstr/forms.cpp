#include "forms.h"

#include <QBitmap>
#include <QMessageBox>
#include <QWidget>

const QString ApplicationTitle = QStringLiteral("Orba-DSL FlowMeister");

void applyFormFont(QWidget *window, int height)
{
    // The layout was designed with text lines `height` pixels high, ascent
    // plus descent, which in Helvetica are 1.1 of the font's em.
    constexpr double LinePerEm = 1.1;
    QFont font(QStringLiteral("helvetica"));
    font.setPixelSize(qRound(height / LinePerEm));
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
