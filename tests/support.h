// SPDX-License-Identifier: MIT
// What the Qt tests share: files, a window's children, modal windows closed
// as they open, running without privileges, child processes, waits that
// keep the event loop running, and main() of the tests that drive windows.
#pragma once

#include "readouts.h"
#include "testnet.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>

#include <sys/types.h>

// Writes the file (and its missing directories); a failure fails the test.
void writeFile(const QString &name, const QByteArray &content);
// The file's bytes, or "(missing)" when it cannot be read.
QByteArray readFile(const QString &name);
// Writes flowmstr.ini in the current directory.
void writeIniFile(const QByteArray &text);

// The named child of `parent`; ends the test run when there is none.
template <typename T> T *child(const QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// Closes every modal window of the application as soon as it is up, noting
// its title (a message box: its text), so tests can drive code that opens
// dialogs and message boxes.
class ModalCloser : public QObject
{
public:
    // `onOpen` runs as each window is seen, before it is closed (unless
    // onOpen closed it itself, say with one of its buttons).
    explicit ModalCloser(std::function<void(QWidget *)> onOpen = {});
    QStringList seen;

private:
    void closeModal();
    std::function<void(QWidget *)> onOpen;
    QTimer timer;
};

constexpr uid_t NobodyUid = 65534;

// Root opens any file whatever its mode: while on, this thread's file
// accesses are checked as user nobody's.
void filesAsNobody(bool on);

// Switches CAP_NET_RAW in this thread's effective set; threads it starts
// inherit the set.
bool setNetRaw(bool on);

// Who a child process runs as: root ignores permission bits; SetUid is user
// nobody running a set-user-id root program.
enum Credentials { Root, Nobody, SetUid };

// Runs `body` in a child process that never returns into the test runner:
// it exits with 0 when body returns true, 1 when false, 2 when it cannot
// take the credentials, 3 when body throws; SIGALRM ends it after 10 s.
pid_t forkChild(const std::function<bool()> &body, Credentials as = Root);
// The child's exit code, or minus the signal that ended it.
int waitChild(pid_t pid);

// Milliseconds until `done` holds while the event loop runs; -1 after `limit`.
qint64 msUntil(const std::function<bool()> &done, qint64 limit = 2000);

// main() of the Qt tests that drive windows: the offscreen platform, and a
// network namespace of the test's own (so needs root), so that captures the
// windows start stay inside it.
template <typename Test> int qtTestMain(int argc, char **argv)
{
    if (!testnet::enterPrivateNamespace()) {
        std::fprintf(stderr, "needs root: no private network namespace\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}
