// SPDX-License-Identifier: MIT
#include "core.h"

#include "capturethread.h"
#include "connectiontest.h"
#include "display.h"
#include "featuresform.h"
#include "forms.h"
#include "meter.h"
#include "meterpainting.h"
#include "platform.h"
#include "settings.h"
#include "SimpleHTMLHelp.h"
#include "verlauf.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTimer>

#include <cstdio>

const QString SettingsFileName = QStringLiteral("flowmstr.ini");
const QString VolumeFileName = QStringLiteral("flowmstr.csv");
Settings settings;

TMainForm::TMainForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      Popup(new QMenu(this)), Timer1(new QTimer(this)), GlyphTimer(new QTimer(this)),
      engine(new Meter(systemCaptureSource(), this)), verlauf(new Verlauf(*engine, settings, this)),
      Glyphs(imageList(QStringLiteral(":/images/glyphs.png"), QSize(18, 18), true)),
      LargeNumbers(imageList(QStringLiteral(":/images/largenumbers.png"), QSize(16, 22))),
      SmallNumbers(imageList(QStringLiteral(":/images/smallnumbers.png"), QSize(10, 14)))
{
    ui.setupUi(this);
    move(scaledPixels(storedPosition));
    applyFormFont(this);
    ui.Image1->setPixmap(transparentPixmap(QStringLiteral(":/images/logo.png")));
    ui.Image2->setPixmap(transparentPixmap(QStringLiteral(":/images/productname.png")));
    Popup->addActions({ui.OnTop, ui.Einstellungen, ui.Verlauf1, ui.Hilfe1, ui.N1, ui.Schliessen});
    // Under Wayland alone the item has no effect; its hint says why.
    if (const QString hint = onTopHint(QGuiApplication::platformName()); !hint.isEmpty()) {
        ui.OnTop->setToolTip(hint);
        ui.OnTop->setStatusTip(hint);
        Popup->setToolTipsVisible(true);
    }
    // The gauge and the scale paint every pixel themselves: nothing is
    // erased first.  The readouts leave a strip that shows the panel.
    ui.Gauge->setAttribute(Qt::WA_OpaquePaintEvent);
    ui.Scale->setAttribute(Qt::WA_OpaquePaintEvent);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    Timer1->setTimerType(Qt::PreciseTimer);  // ticks keep their place in the second
    GlyphTimer->setObjectName(QStringLiteral("GlyphTimer"));
    GlyphTimer->setInterval(5000);
    GlyphTimer->setTimerType(Qt::PreciseTimer);  // five seconds, not 4.75
    connectHandlers();

    Timer1->start();
    FormCreate();
}

void TMainForm::connectHandlers()
{
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](QPoint at) { Popup->popup(mapToGlobal(at)); });
    connect(ui.OnTop, &QAction::triggered, this, &TMainForm::OnTopClick);
    connect(ui.Einstellungen, &QAction::triggered, this, &TMainForm::EinstellungenClick);
    connect(ui.Verlauf1, &QAction::triggered, this, &TMainForm::Verlauf1Click);
    connect(ui.Hilfe1, &QAction::triggered, this, &TMainForm::Hilfe1Click);
    connect(ui.Schliessen, &QAction::triggered, this, &TMainForm::SchliessenClick);
    connect(ui.LargeBox, &PaintBox::clicked, this, &TMainForm::LargeBoxClick);
    connect(ui.LargeBox, &PaintBox::painting, this,
            [this](QPainter &p) { BoxPaint(ui.LargeBox, p); });
    connect(ui.SmallBox, &PaintBox::painting, this,
            [this](QPainter &p) { BoxPaint(ui.SmallBox, p); });
    connect(ui.Gauge, &PaintBox::painting, this, &TMainForm::GaugePaint);
    connect(ui.Scale, &PaintBox::painting, this, &TMainForm::ScalePaint);
    connect(ui.Gauge, &PaintBox::mouseMoved, this, &TMainForm::GaugeMouseMove);
    connect(ui.ConnectionCheck, &QToolButton::clicked, this, &TMainForm::ConnectionCheckClick);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::SecondTimer);
    connect(GlyphTimer, &QTimer::timeout, this, &TMainForm::GlyphTimerTimer);
    connect(qApp, &QCoreApplication::aboutToQuit, engine, [this] { engine->saveVolume(); });
    connect(qApp, &QCoreApplication::aboutToQuit, verlauf, &Verlauf::programEnds);
    connect(engine, &Meter::sampled, this, [this] {
        if (engine->measuring()) {
            showMeasuring();
            tellReadouts(QStringLiteral("Download %1 kbit/s").arg(engine->downloadRate()),
                         QStringLiteral("Upload %1 kbit/s").arg(engine->uploadRate()));
        }
        DrawNumbers();
        ui.Gauge->repaint();
    });
    connect(engine, &Meter::measuringStopped, this, &TMainForm::showProblem);
    connect(engine, &Meter::interfaceMoved, this, &TMainForm::InterfaceMoved);
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate()
{
    settings = Settings();
    try {
        LoadSettings();
    } catch (const SettingsFileRefused &e) {
        settingsUnread = true;
        showError(this, QString::fromStdString(e.what()) +
                            QStringLiteral(".\nDer FlowMeister startet mit den Voreinstellungen "
                                           "und schreibt nichts in diese Datei"));
    } catch (const SettingsFileError &e) {
        settingsUnread = true;
        showError(this, QString::fromStdString(e.what()));
        engine->stop(CaptureProblem::SettingsUnreadable);
        return;
    }
    if (settings.speed <= 0)
        settings.speed = 768;
    engine->loadVolume(VolumeFileName, settings.debuglevel);
    ui.OnTop->setChecked(settings.stayontop != 0);
    setWindowFlag(Qt::WindowStaysOnTopHint, ui.OnTop->isChecked());
    try {
        if (settings.firstrun == 0)
            runFirstRun();
        RestartCapture();
    } catch (...) {
        // Errors of the first-run dialogs are dropped; a capture that did
        // not start is shown by the readouts.
    }
    SetCheckState(1);
    // The layout fixes the window's size (156 x 87) once and for all.
}

// The features, then the settings dialog, whose help gets a help window of
// its own for the while.
void TMainForm::runFirstRun()
{
    settings.firstrun = 1;
    TFeatForm(this).exec();
    const auto help = std::make_unique<TFormSimpleHTMLHelpViewer>(this);
    FormSimpleHTMLHelpViewer = help.get();
    const auto forget = qScopeGuard([] { FormSimpleHTMLHelpViewer = nullptr; });
    TSetForm(this, settings, [this] { SaveSettings(); }).exec();
}

void TMainForm::LargeBoxClick()
{
    TFeatForm(this).exec();
    TSetForm(this, settings, [this] { SaveSettings(); }).exec();
}

// OK in the settings dialog restarts monitoring on the chosen interface.
void TMainForm::EinstellungenClick()
{
    if (TSetForm(this, settings, [this] { SaveSettings(); }).exec() != QDialog::Accepted)
        return;
    RestartCapture();
    SetCheckState(1);
}

void TMainForm::OnTopClick()
{
    const bool onTop = ui.OnTop->isChecked();  // the item has toggled itself
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    show();  // new window flags hide the window
    settings.stayontop = onTop ? 1 : 0;
}

void TMainForm::Verlauf1Click()
{
    verlauf->showWindow();
}

void TMainForm::Hilfe1Click()
{
    HelpSystem::instance().showHelp(QStringLiteral("help/help.html"), this);
}

void TMainForm::SchliessenClick()
{
    if (close())
        QApplication::quit();
}

// A save that failed on closing keeps the window open unless the user
// chooses to close without saving.
void TMainForm::closeEvent(QCloseEvent *event)
{
    engine->bookUntickedBytes();
    QString problem;
    if (!engine->saveVolume(&problem)
        && !closeUnsaved(QStringLiteral("Das Datenvolumen lässt sich nicht in %1 speichern (%2)")
                             .arg(VolumeFileName, problem),
                         QStringLiteral("Das Datenvolumen dieses Laufs wurde nicht gespeichert."))) {
        event->ignore();
        return;
    }
    try {
        SaveSettings();
    } catch (const SettingsFileError &e) {
        if (!closeUnsaved(QString::fromStdString(e.what()),
                          QStringLiteral("Die Einstellungen wurden nicht gespeichert.")))
            event->ignore();
    }
}

// Unattended, the error goes to standard error and the window closes.
bool TMainForm::closeUnsaved(const QString &error, const QString &consequence)
{
    if (!unattended)
        return askCloseWithoutSaving(this, error, consequence);
    std::fprintf(stderr, "flowmstr: %s: %s\n", qPrintable(consequence), qPrintable(error));
    return true;
}

void TMainForm::quitOnSignal()
{
    unattended = true;
    close();
    QApplication::quit();
}

void TMainForm::LoadSettings()
{
    const IniText ini(readSettingsFile(SettingsFileName));
    readSettings(ini, settings, storedPosition);
    move(scaledPixels(storedPosition));
    placedPosition = pos();
}

void TMainForm::SaveSettings()
{
    if (settingsUnread)
        throw SettingsFileError("Die Einstellungsdatei " + SettingsFileName.toStdString()
                                + " war beim Start nicht lesbar und wird nicht überschrieben");
    const QPoint position = pos() == placedPosition ? storedPosition : screenPixels(pos());
    updateSettingsFile(SettingsFileName, [&](IniText &ini) { writeSettings(ini, settings, position); });
}

QPoint TMainForm::screenPixels(QPoint scaled) const
{
    return (QPointF(scaled) * devicePixelRatio()).toPoint();
}

QPoint TMainForm::scaledPixels(QPoint screen) const
{
    return (QPointF(screen) / devicePixelRatio()).toPoint();
}

void TMainForm::SecondTimer()
{
    engine->tick();
}

void TMainForm::DrawNumbers()
{
    ui.LargeBox->repaint();
    ui.SmallBox->repaint();
}

void TMainForm::BoxPaint(const PaintBox *sender, QPainter &painter)
{
    const bool large = sender == ui.LargeBox;
    paintReadout(painter, large ? LargeNumbers : SmallNumbers,
                 large ? engine->downloadRate() : engine->uploadRate(), engine->measuring());
}

void TMainForm::GaugePaint(QPainter &painter)
{
    paintGauge(painter, ui.Gauge->size(), settings.speed, engine->downloadRate(),
               palette().color(QPalette::Window));
}

void TMainForm::ScalePaint(QPainter &painter)
{
    paintScale(painter, ui.Scale->size(), settings.speed);
}

void TMainForm::GaugeMouseMove(int x, int)
{
    ui.Gauge->setToolTip(gaugeHint(x, ui.Gauge->width(), settings.speed, ui.Gauge->toolTip()));
}

// The button's face while it can be pressed is image 0; while it can't, the
// image of the state.
void TMainForm::SetCheckState(int State)
{
    static const char *const hints[] = {"Verbindungstest durchführen",
                                        "Verbindungstest gescheitert",
                                        "Verbindungstest erfolgreich"};
    QIcon glyph(Glyphs[0]);
    glyph.addPixmap(Glyphs[State], QIcon::Disabled);
    ui.ConnectionCheck->setIcon(glyph);
    ui.ConnectionCheck->setToolTip(QString::fromUtf8(hints[State - 1]));
    ui.ConnectionCheck->setEnabled(State == 1 && settings.location != 1);
}

void TMainForm::ConnectionCheckClick()
{
    engine->linkChanged();  // a redial not yet followed: the test uses the new record
    LIBFMSINFO record = engine->record();
    const int result = libfms_testodsl(&record);
    verlauf->connectionTested(result == 0);
    SetCheckState(result == 0 ? 3 : 2);
    GlyphTimer->start();  // the five seconds run from now, message boxes or not
    if (result == 0)
        return;

    // An active PPP link makes the test impossible; explain that instead.
    const int pppLinks = pppLinksUp(settings.debuglevel);
    for (int i = 0; i < pppLinks; ++i)
        QMessageBox::information(this, ApplicationTitle, TestImpossibleText);
    if (pppLinks == 0)
        QMessageBox::critical(this, ApplicationTitle, TestFailedText);
}

void TMainForm::GlyphTimerTimer()
{
    GlyphTimer->stop();
    SetCheckState(1);
}

// The dialog's choice of interface takes effect here: at the start and
// after OK from the context menu.
void TMainForm::RestartCapture()
{
    engine->monitor(settings.interface, settings.interfacename, settings.debuglevel);
    settings.interface = engine->interfaceNumber();
    settings.interfacename = engine->interfaceName();
}

// The followed interface got another number: the settings follow it, unless
// the dialog has chosen another meanwhile.
void TMainForm::InterfaceMoved(int32_t number, const QString &name)
{
    if (settings.interfacename == name)
        settings.interface = number;
}

// While a capture runs, hovering the readouts shows the data volume.
void TMainForm::showMeasuring()
{
    const QDate today = QDate::currentDate();
    const VolumeBook &volume = engine->volume();
    QString hint = volumeHint(volume.day(today), billingMonthStart(today, settings.monthstart),
                              volume.month(today, settings.monthstart), volume.peakKbit(today));
    if (engine->volumeFileFailed())
        hint += QStringLiteral("\nDas Datenvolumen lässt sich nicht in %1 speichern.").arg(VolumeFileName);
    ui.LargeBox->setToolTip(hint);
    ui.SmallBox->setToolTip(hint);
}

// Blank readouts and no bar; hovering the readouts tells the reason.
void TMainForm::showProblem(CaptureProblem problem)
{
    const QString subject = problem == CaptureProblem::SettingsUnreadable ? SettingsFileName
                            : engine->interfaceName().isEmpty()
                                ? QStringLiteral("Nr. %1").arg(engine->interfaceNumber())
                                : engine->interfaceName();
    const QString reason = notMeasuringHint(problem, subject, QCoreApplication::applicationFilePath());
    ui.LargeBox->setToolTip(reason);
    ui.SmallBox->setToolTip(reason);
    tellReadouts(reason.section(u'\n', 0, 0), reason.section(u'\n', 0, 0));
    DrawNumbers();
    ui.Gauge->update();
}

// Screen readers hear the readouts' figures (a new name is announced); the
// gauge tells the download.
void TMainForm::tellReadouts(const QString &download, const QString &upload)
{
    const std::pair<QWidget *, QString> told[] = {
        {ui.LargeBox, download}, {ui.SmallBox, upload}, {ui.Gauge, download}};
    for (const auto &[widget, text] : told)
        if (widget->accessibleName() != text)
            widget->setAccessibleName(text);
}
