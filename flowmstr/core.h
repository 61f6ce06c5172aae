// SPDX-License-Identifier: MIT
// The main window and the program-wide state it owns.
#ifndef CORE_H
#define CORE_H

#include "interfaces.h"
#include "settingsfile.h"
#include "ui_mainform.h"

#include <QWidget>

class Meter;
class QMenu;
class Verlauf;
class QTimer;
enum class CaptureProblem;

// The settings file, in the working directory.
extern const QString SettingsFileName;

// The data volume per day, beside the settings file.
extern const QString VolumeFileName;

// The program's settings values; the file is read once and written on saves.
extern Settings settings;

class TMainForm : public QWidget
{
    Q_OBJECT

public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // Reads the settings file into `settings` and moves the window to the
    // stored position; throws SettingsFileError.
    void LoadSettings();
    // Writes `settings` and the window position; throws SettingsFileError.
    void SaveSettings();
    // Monitors the interface the settings name, starting afresh.
    void RestartCapture();
    // Repaints both readouts with the figures of the last tick.
    void DrawNumbers();
    // Shows the connection test's state: 1 ready, 2 failed, 3 succeeded.
    void SetCheckState(int State);

    // Closes as a close would, without asking anything (the session ends),
    // then ends the event loop.
    void quitOnSignal();

    // The engine whose figures the window shows.
    Meter &meter() const { return *engine; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void connectHandlers();
    void FormCreate();
    void runFirstRun();
    void SecondTimer();
    void BoxPaint(const PaintBox *sender, QPainter &painter);
    void GaugePaint(QPainter &painter);
    void ScalePaint(QPainter &painter);
    void GaugeMouseMove(int x, int y);
    void ConnectionCheckClick();
    void GlyphTimerTimer();
    void LargeBoxClick();
    void EinstellungenClick();
    void OnTopClick();
    void Verlauf1Click();
    void Hilfe1Click();
    void SchliessenClick();
    void InterfaceMoved(int32_t number, const QString &name);
    bool closeUnsaved(const QString &error, const QString &consequence);
    void showMeasuring();
    void showProblem(CaptureProblem problem);
    void tellReadouts(const QString &download, const QString &upload);

    Ui::TMainForm ui;
    QMenu *Popup;
    QTimer *Timer1;
    QTimer *GlyphTimer;
    Meter *engine;
    Verlauf *verlauf;
    QList<QPixmap> Glyphs;
    QList<QPixmap> LargeNumbers;
    QList<QPixmap> SmallNumbers;

    bool unattended = false;  // closing for a signal: nobody to ask
    // The settings file could not be read: nothing is ever written to it,
    // so that a file the user mends meanwhile is not overwritten.
    bool settingsUnread = false;

    // `top` and `left` are screen pixels, the window's position is in Qt's
    // scaled pixels.  The stored position, which a scaled window may not take
    // exactly, is written back while the window stays where it was placed.
    QPoint screenPixels(QPoint scaled) const;
    QPoint scaledPixels(QPoint screen) const;
    QPoint storedPosition{639, 459};  // the design position, until the settings say otherwise
    QPoint placedPosition;
};

#endif // CORE_H
