// SPDX-License-Identifier: MIT
#include "support.h"

#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include <grp.h>
#include <linux/capability.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

void writeFile(const QString &name, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(name).path());
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.flush());
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void writeIniFile(const QByteArray &text)
{
    writeFile(QStringLiteral("flowmstr.ini"), text);
}

ModalCloser::ModalCloser(std::function<void(QWidget *)> onOpen) : onOpen(std::move(onOpen))
{
    connect(&timer, &QTimer::timeout, this, &ModalCloser::closeModal);
    timer.start(5);
}

void ModalCloser::closeModal()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    auto *box = qobject_cast<QMessageBox *>(modal);
    seen << (box ? box->text() : modal->windowTitle());
    if (onOpen)
        onOpen(modal);
    auto *dialog = qobject_cast<QDialog *>(modal);
    if (dialog && dialog->isVisible())
        dialog->accept();
}

void filesAsNobody(bool on)
{
    setfsuid(on ? NobodyUid : 0);
}

bool setNetRaw(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2];
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    if (on)
        data[0].effective |= 1u << CAP_NET_RAW;
    else
        data[0].effective &= ~(1u << CAP_NET_RAW);
    return syscall(SYS_capset, &header, data) == 0;
}

pid_t forkChild(const std::function<bool()> &body, Credentials as)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const uid_t effective = as == SetUid ? 0 : NobodyUid;
    if (as != Root && (setgroups(0, nullptr) || setresgid(NobodyUid, effective, effective)
                       || setresuid(NobodyUid, effective, effective)))
        _exit(2);
    alarm(10);  // a child that hangs fails the test
    try {
        _exit(body() ? 0 : 1);
    } catch (...) {
        _exit(3);
    }
}

int waitChild(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

qint64 msUntil(const std::function<bool()> &done, qint64 limit)
{
    QElapsedTimer clock;
    clock.start();
    while (!done())
        if (clock.elapsed() > limit)
            return -1;
        else
            QTest::qWait(1);
    return clock.elapsed();
}
