// SPDX-License-Identifier: MIT
#include "forms.h"

#include <QApplication>
#include <QBitmap>
#include <QMessageBox>
#include <QPushButton>
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

// The picture at the screens' device pixel ratio, every pixel a block of
// device pixels (nearest neighbour): pixel art stays crisp in scaled windows.
static QPixmap crispPixmap(const QImage &image, bool transparent)
{
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(image.size() * ratio, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    if (transparent)
        pixmap.setMask(pixmap.createMaskFromColor(QColor(255, 0, 255)));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QPixmap transparentPixmap(const QString &path)
{
    return crispPixmap(QImage(path), true);
}

QList<QPixmap> imageList(const QString &path, QSize cell, bool transparent)
{
    const QImage all(path);
    QList<QPixmap> images;
    for (int y = 0; y + cell.height() <= all.height(); y += cell.height())
        for (int x = 0; x + cell.width() <= all.width(); x += cell.width())
            images.append(crispPixmap(all.copy(QRect(QPoint(x, y), cell)), transparent));
    return images;
}

void showError(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, ApplicationTitle, text + u'.');
}

bool askCloseWithoutSaving(QWidget *parent, const QString &error, const QString &consequence)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle, error + u'.', QMessageBox::NoButton, parent);
    box.setInformativeText(consequence);
    const QPushButton *closeAnyway =
        box.addButton(QStringLiteral("Ohne Speichern schließen"), QMessageBox::DestructiveRole);
    box.setDefaultButton(box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == closeAnyway;
}
