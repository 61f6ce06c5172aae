// SPDX-License-Identifier: MIT
// Warnings for the user that must not interrupt: a desktop notification
// (freedesktop's org.freedesktop.Notifications over the session bus), or,
// without a notification service, a message box that does not block.
#ifndef WARNINGS_H
#define WARNINGS_H

#include <QString>

class QWidget;

// True when a notification service took it.
bool notifyDesktop(const QString &summary, const QString &body);

void showWarning(QWidget *parent, const QString &summary, const QString &body);

#endif // WARNINGS_H
