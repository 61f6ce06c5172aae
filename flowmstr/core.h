// The main window and the program-wide state it owns.
#ifndef CORE_H
#define CORE_H

#include "settingsfile.h"
#include "ui_mainform.h"

#include <QWidget>

#include <functional>

class QMenu;
class QTimer;
class TMyThread;

// The settings file, in the working directory.
extern const QString SettingsFileName;

// The program's settings values; the file is read once and written on saves.
extern Settings settings;

// Interface numbers 0 to this are probed for the list and after a failed
// connection test.
constexpr int LastProbedInterface = 16;

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
    // Stops monitoring, resolves `interface` again and starts a new capture.
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
    void CaptureThreadEnded();
    void stopCaptureThread();
    bool closeUnsaved(const QString &error);

    Ui::TMainForm ui;
    QMenu *Popup;
    QTimer *Timer1;
    QTimer *GlyphTimer;
    QList<QPixmap> Glyphs;
    QList<QPixmap> LargeNumbers;
    QList<QPixmap> SmallNumbers;

    std::function<qint64()> tickClock;
    qint64 lastTickMs = 0;
    int64_t downloadRate = 0;  // kbit/s of the last tick
    int64_t uploadRate = 0;

    TMyThread *captureThread = nullptr;
    bool unattended = false;  // closing for a signal: nobody to ask
};

#endif // CORE_H
