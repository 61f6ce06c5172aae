#include "core.h"

#include "capturethread.h"

#include <QDeadlineTimer>

const QString SettingsFileName = QStringLiteral("flowmstr.ini");
Settings settings;

// How long a cancelled capture may take to end before it is left to finish
// on its own.
static constexpr int CaptureStopTimeoutMs = 2000;

TMainForm::TMainForm(QWidget *parent) : QWidget(parent) {}

TMainForm::~TMainForm()
{
    stopCaptureThread();
}

void TMainForm::LoadSettings()
{
    const IniText ini(readSettingsFile(SettingsFileName));
    QPoint topLeft = pos();
    readSettings(ini, settings, topLeft);
    move(topLeft);
}

void TMainForm::SaveSettings()
{
    IniText ini(readSettingsFile(SettingsFileName));
    writeSettings(ini, settings, pos());
    writeSettingsFile(SettingsFileName, ini.text());
}

void TMainForm::RestartCapture()
{
    stopCaptureThread();
    captureInfo.verbose = settings.debuglevel;
    captureInfo.index = settings.interface;
    libfms_interfaceinfo(&captureInfo);
    captureInfo.cb = CaptureCallback;
    captureInfo.verbose = settings.debuglevel;
    captureInfo.countall = 0;
    try {
        auto *thread = new TMyThread;
        connect(thread, &QThread::finished, this, &TMainForm::CaptureThreadEnded);
        thread->start();
        captureThread = thread;
    } catch (...) {
        // Without a thread there is no monitoring; the readouts stay at 0.
    }
}

// End notification of the capture thread: nothing to do.
void TMainForm::CaptureThreadEnded() {}

// Cancels the capture thread, blocked in the library's wait for frames, and
// waits for it so that the capture record can be refilled safely.
void TMainForm::stopCaptureThread()
{
    TMyThread *thread = std::exchange(captureThread, nullptr);
    if (!thread)
        return;
    thread->terminate();  // POSIX cancellation of the thread
    thread->requestInterruption();
    if (thread->wait(QDeadlineTimer(CaptureStopTimeoutMs))) {
        delete thread;
        return;
    }
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
}
