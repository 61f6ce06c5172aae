// The main window and the program-wide state it owns.
#ifndef CORE_H
#define CORE_H

#include "interfaces.h"
#include "settingsfile.h"
#include "ui_mainform.h"
#include "volume.h"

#include <QWidget>

#include <functional>

class LinkWatcher;
class QMenu;
class QTimer;
class TMyThread;
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
    // Stops monitoring, resolves the followed interface again and starts a
    // new capture on it if it is up.
    void RestartCapture();
    // Repaints both readouts with the figures of the last tick.
    void DrawNumbers();
    // Shows the connection test's state: 1 ready, 2 failed, 3 succeeded.
    void SetCheckState(int State);

    // Closes as a close would, without asking anything (the session ends),
    // then ends the event loop.
    void quitOnSignal();

    // The monotonic clock, in milliseconds, that the tick measures with.
    void setTickClock(std::function<qint64()> clock);

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
    void Hilfe1Click();
    void SchliessenClick();
    void CaptureThreadEnded(int generation);
    void InterfaceChanged();
    void stopCaptureThread();
    bool closeUnsaved(const QString &error);
    void showMeasuring();
    void showNotMeasuring(const QString &reason);
    void bookUntickedBytes();
    void loadVolume();
    void saveVolume();
    void showProblem(CaptureProblem problem);

    Ui::TMainForm ui;
    QMenu *Popup;
    QTimer *Timer1;
    QTimer *GlyphTimer;
    QTimer *RetryTimer;  // tries a failed capture again
    LinkWatcher *linkWatcher = nullptr;  // from the first start of monitoring on
    QList<QPixmap> Glyphs;
    QList<QPixmap> LargeNumbers;
    QList<QPixmap> SmallNumbers;

    std::function<qint64()> tickClock;
    qint64 lastTickMs = 0;
    int64_t downloadRate = 0;  // kbit/s of the last tick
    int64_t uploadRate = 0;

    TMyThread *captureThread = nullptr;
    bool unattended = false;  // closing for a signal: nobody to ask
    int captureGeneration = 0;  // tells the current thread's end from older ones
    InterfaceState monitored;   // the followed interface as the last start found it
    // Whether a capture runs: numbers are shown only then.  A new capture
    // counts as running once it has lasted until a tick.
    bool measuring = false;

    VolumeBook volume;
    qint64 lastVolumeSaveMs = 0;
    bool volumeFileFailed = false;  // the last load or save could not use the file

    // `top` and `left` are screen pixels, the window's position is in Qt's
    // scaled pixels.  The stored position, which a scaled window may not take
    // exactly, is written back while the window stays where it was placed.
    QPoint screenPixels(QPoint scaled) const;
    QPoint scaledPixels(QPoint screen) const;
    QPoint storedPosition{639, 459};  // the design position, until the settings say otherwise
    QPoint placedPosition;
};

#endif // CORE_H
