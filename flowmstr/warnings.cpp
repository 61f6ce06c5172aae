// SPDX-License-Identifier: MIT
#include "warnings.h"

#include "forms.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMessageBox>

bool notifyDesktop(const QString &summary, const QString &body)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
    notify << ApplicationTitle << 0u << QStringLiteral("flowmstr") << summary << body << QStringList()
           << QVariantMap() << -1;
    // A service that does not answer within two seconds is as good as none.
    return bus.call(notify, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
}

void showWarning(QWidget *parent, const QString &summary, const QString &body)
{
    if (notifyDesktop(summary, body))
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, ApplicationTitle, summary, QMessageBox::Ok, parent);
    box->setInformativeText(body);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}
