// The main window and the program-wide state it owns.
#ifndef CORE_H
#define CORE_H

#include "settingsfile.h"

#include <QWidget>

class TMyThread;

// The settings file, in the working directory.
extern const QString SettingsFileName;

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
    // Stops monitoring, resolves `interface` again and starts a new capture.
    void RestartCapture();

private:
    void CaptureThreadEnded();
    void stopCaptureThread();

    TMyThread *captureThread = nullptr;
};

#endif // CORE_H
