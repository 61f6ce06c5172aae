// SPDX-License-Identifier: MIT
#include "verlaufform.h"

#include "allowance.h"
#include "display.h"
#include "linkevents.h"
#include "meter.h"
#include "verlauf.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>
#include <QPainter>
#include <QToolTip>

static const QLocale German(QLocale::German);

TVerlaufForm::TVerlaufForm(Verlauf &verlauf, QWidget *parent)
    : QWidget(parent, Qt::Window), verlauf(verlauf)
{
    ui.setupUi(this);
    ui.Volumenlimit->setLocale(German);
    ui.Volumenlimit->setValue(verlauf.settings().monthlimit / 1000.0);
    ui.RateGraph->setAttribute(Qt::WA_OpaquePaintEvent);
    ui.DayBars->setAttribute(Qt::WA_OpaquePaintEvent);
    connect(ui.RateGraph, &PaintBox::painting, this, &TVerlaufForm::RateGraphPaint);
    connect(ui.RateGraph, &PaintBox::mouseMoved, this, &TVerlaufForm::RateGraphMouseMove);
    connect(ui.DayBars, &PaintBox::painting, this, &TVerlaufForm::DayBarsPaint);
    connect(ui.Zeitraum, &QComboBox::currentIndexChanged, ui.RateGraph, qOverload<>(&QWidget::update));
    connect(ui.Volumenlimit, &QDoubleSpinBox::valueChanged, this, &TVerlaufForm::VolumenlimitChanged);
    connect(ui.Kopieren, &QPushButton::clicked, this, &TVerlaufForm::KopierenClick);
    connect(ui.Seiten, &QTabWidget::currentChanged, this, &TVerlaufForm::showTab);
}

void TVerlaufForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    showTab();
}

// A minimized window counts as visible; its show event on restoring brings
// the tab up to date.
bool TVerlaufForm::inSight() const
{
    return isVisible() && !isMinimized();
}

// Only the tab in sight is brought up to date.
void TVerlaufForm::sampled()
{
    if (!inSight())
        return;
    if (ui.Seiten->currentWidget() == ui.Uebertragungsrate)
        ui.RateGraph->update();
    else if (ui.Seiten->currentWidget() == ui.Datenvolumen)
        showVolume();
}

void TVerlaufForm::eventsChanged()
{
    if (inSight() && ui.Seiten->currentWidget() == ui.Ereignisse)
        showEvents();
}

void TVerlaufForm::showTab()
{
    if (ui.Seiten->currentWidget() == ui.Datenvolumen)
        showVolume();
    else if (ui.Seiten->currentWidget() == ui.Ereignisse)
        showEvents();
}

RateView TVerlaufForm::rateView() const
{
    const auto span = HistorySpan(ui.Zeitraum->currentIndex());
    const RateRing &ring = verlauf.history().ring(span);
    RateView view;
    view.points = ring.points();
    view.slotSeconds = ring.slotSeconds();
    view.spanSeconds = RateHistory::seconds(span);
    view.nowSecond = QDateTime::currentSecsSinceEpoch() + 1;  // the current second shown whole
    view.speed = verlauf.settings().speed;
    return view;
}

void TVerlaufForm::RateGraphPaint(QPainter &painter)
{
    const RateView view = rateView();
    paintRateGraph(painter, ui.RateGraph->size(), view, palette().color(QPalette::Base));
    ui.Skala->setText(QStringLiteral("Skala bis %1 kbit/s").arg(German.toString(qlonglong(rateScale(view)))));
}

// Why nothing was measured; a start's pause has no reason of its own.
QString TVerlaufForm::gapText(CaptureProblem reason) const
{
    const QString why = notMeasuringHint(reason, verlauf.meter().interfaceName(), QString());
    return why.isEmpty() ? QStringLiteral("Keine Messung") : why.section(u'\n', 0, 0);
}

// The tool tip names the slot's rates, or why nothing was measured.
void TVerlaufForm::RateGraphMouseMove(int x, int)
{
    const RateView view = rateView();
    const RatePoint *p = pointAt(view, ui.RateGraph->width(), x);
    QString tip;
    if (p && p->measured)
        tip = QStringLiteral("%1: Download %2 kbit/s (Spitze %3), Upload %4 kbit/s")
                  .arg(QDateTime::fromSecsSinceEpoch(p->start).toString(u"HH:mm:ss"),
                       German.toString(p->down), German.toString(p->downPeak), German.toString(p->up));
    else if (p)
        tip = QDateTime::fromSecsSinceEpoch(p->start).toString(u"HH:mm:ss: ") + gapText(p->gap);
    ui.RateGraph->setToolTip(tip);
}

std::vector<DayVolume> TVerlaufForm::monthDays() const
{
    const int monthStart = verlauf.settings().monthstart;
    const QDate first = billingMonthStart(QDate::currentDate(), monthStart);
    std::vector<DayVolume> days;
    for (QDate d = first; d <= billingMonthEnd(first, monthStart); d = d.addDays(1))
        days.push_back(verlauf.meter().volume().day(d));
    return days;
}

uint64_t TVerlaufForm::limitBytes() const
{
    return uint64_t(std::max(verlauf.settings().monthlimit, 0)) * 1000000;
}

void TVerlaufForm::DayBarsPaint(QPainter &painter)
{
    const std::vector<DayVolume> days = monthDays();
    paintDayBars(painter, ui.DayBars->size(), days, limitBytes() / days.size(),
                 palette().color(QPalette::Base));
}

// The allowance is kept in MB, as the settings file has it.
void TVerlaufForm::VolumenlimitChanged(double gigabytes)
{
    verlauf.settings().monthlimit = int32_t(qRound64(gigabytes * 1000));
    showVolume();
}

void TVerlaufForm::showVolume()
{
    ui.DayBars->update();
    const Settings &s = verlauf.settings();
    const QDate today = QDate::currentDate();
    const VolumeBook &book = verlauf.meter().volume();
    const DayVolume month = book.month(today, s.monthstart);
    const uint64_t limit = limitBytes();
    QString text = QStringLiteral("Seit %1: %2").arg(billingMonthStart(today, s.monthstart).toString(u"dd.MM."),
                                                     decimalBytes(month.down + month.up));
    if (limit > 0) {
        const AllowanceFigures f =
            allowanceFigures(limit, month.down + month.up, QDateTime::currentDateTime(), s.monthstart);
        text += QStringLiteral(" (%1 %), übrig %2, %3 pro Tag für %4 Tage, Prognose %5")
                    .arg(German.toString(f.percent, 'f', 1), decimalBytes(f.remaining),
                         decimalBytes(f.dailyBudget), QString::number(f.daysLeft),
                         f.projected ? decimalBytes(*f.projected) : QStringLiteral("–"));
    }
    ui.Limitstand->setText(text);
    ui.Monate->setRowCount(12);
    QDate first = billingMonthStart(today, s.monthstart);
    for (int row = 0; row < 12; ++row, first = billingMonthStart(first.addDays(-1), s.monthstart)) {
        const DayVolume v = book.month(std::min(billingMonthEnd(first, s.monthstart), today), s.monthstart);
        const QString cells[] = {first.toString(u"dd.MM.yyyy"), decimalBytes(v.down), decimalBytes(v.up)};
        for (int column = 0; column < 3; ++column)
            ui.Monate->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    ui.Monate->resizeColumnsToContents();
}

static QString eventText(const LineEvent &e)
{
    QString text = e.time.toString(u"dd.MM.yyyy HH:mm:ss") + QStringLiteral("  ") + e.detail;
    if (!e.interface.isEmpty())
        text += QStringLiteral(" (%1)").arg(e.interface);
    return text;
}

void TVerlaufForm::showEvents()
{
    const QList<LineEvent> events = readEvents(EventsFileName);
    const QDateTime now = QDateTime::currentDateTime();
    const OutageSummary last30 = outagesSince(events, now.addDays(-30), now);
    ui.Zusammenfassung->setText(QStringLiteral("Letzte 30 Tage: %1 Ausfälle, zusammen %2 ohne Messung")
                                    .arg(last30.outages)
                                    .arg(durationText(last30.offSeconds)));
    ui.EreignisListe->clear();
    for (auto e = events.crbegin(); e != events.crend(); ++e)
        ui.EreignisListe->addItem(eventText(*e));
}

void TVerlaufForm::KopierenClick()
{
    QStringList lines{ui.Zusammenfassung->text()};
    for (int i = 0; i < ui.EreignisListe->count(); ++i)
        lines.append(ui.EreignisListe->item(i)->text());
    QGuiApplication::clipboard()->setText(lines.join(u'\n') + u'\n');
}
