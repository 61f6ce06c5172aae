// SPDX-License-Identifier: MIT
#include "linkwatcher.h"

#include <QSocketNotifier>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

LinkWatcher::LinkWatcher(QObject *parent) : QObject(parent)
{
    fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    sockaddr_nl groups{};
    groups.nl_family = AF_NETLINK;
    groups.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&groups), sizeof groups) != 0) {
        qWarning("no link events: interfaces that come back are not followed");
        return;
    }
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &LinkWatcher::readEvents);
}

LinkWatcher::~LinkWatcher()
{
    delete notifier;
    if (fd >= 0)
        close(fd);
}

// The messages themselves are not parsed: any of them may concern the
// followed interface, and asking the interface is cheaper than telling.  A
// queue that overflowed (ENOBUFS) lost events, which is a change as well.
void LinkWatcher::readEvents()
{
    char buffer[8192];
    ssize_t size;
    do
        size = recv(fd, buffer, sizeof buffer, 0);
    while (size > 0 || (size < 0 && (errno == ENOBUFS || errno == EINTR)));
    emit changed();
}
