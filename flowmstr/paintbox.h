// SPDX-License-Identifier: MIT
// A bare area that its owner paints: it hands each repaint, mouse move and
// click over as a signal, with the painter open on the whole area.
#ifndef PAINTBOX_H
#define PAINTBOX_H

#include <QWidget>

class PaintBox : public QWidget
{
    Q_OBJECT

public:
    explicit PaintBox(QWidget *parent = nullptr);

signals:
    void painting(QPainter &painter);
    void mouseMoved(int x, int y);
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};

#endif // PAINTBOX_H
