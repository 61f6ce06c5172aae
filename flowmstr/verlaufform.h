// SPDX-License-Identifier: MIT
// The "Verlauf" window: the rates over a span, the billing month's volume
// with its allowance, and the line's events.  Non-modal, one per run; it
// keeps its size and tab while closed.
#ifndef VERLAUFFORM_H
#define VERLAUFFORM_H

#include "ui_verlaufform.h"
#include "verlaufpainting.h"

#include <QWidget>

class Verlauf;

class TVerlaufForm : public QWidget
{
    Q_OBJECT

public:
    TVerlaufForm(Verlauf &verlauf, QWidget *parent);

    // A new second: the visible tab follows it.
    void sampled();
    void eventsChanged();

    RateView rateView() const;
    std::vector<DayVolume> monthDays() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool inSight() const;
    void RateGraphPaint(QPainter &painter);
    void RateGraphMouseMove(int x, int y);
    QString gapText(CaptureProblem reason) const;
    void DayBarsPaint(QPainter &painter);
    void VolumenlimitChanged(double gigabytes);
    void KopierenClick();
    void showTab();
    void showVolume();
    void showEvents();
    uint64_t limitBytes() const;

    Ui::TVerlaufForm ui;
    Verlauf &verlauf;
};

#endif // VERLAUFFORM_H
