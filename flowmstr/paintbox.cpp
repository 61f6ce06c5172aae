// SPDX-License-Identifier: MIT
#include "paintbox.h"

#include <QMouseEvent>
#include <QPainter>

PaintBox::PaintBox(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
}

void PaintBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    emit painting(painter);
}

void PaintBox::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    emit mouseMoved(at.x(), at.y());
}

void PaintBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}
