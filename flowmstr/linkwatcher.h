// SPDX-License-Identifier: MIT
// Tells when the kernel reports that an interface or an address came, went or
// changed (rtnetlink groups RTMGRP_LINK, RTMGRP_IPV4_IFADDR and
// RTMGRP_IPV6_IFADDR).
#ifndef LINKWATCHER_H
#define LINKWATCHER_H

#include <QObject>

class QSocketNotifier;

class LinkWatcher : public QObject
{
    Q_OBJECT

public:
    explicit LinkWatcher(QObject *parent = nullptr);
    ~LinkWatcher() override;

signals:
    // Once for the events read together; what changed is asked afresh.
    void changed();

private:
    void readEvents();

    int fd = -1;
    QSocketNotifier *notifier = nullptr;
};

#endif // LINKWATCHER_H
