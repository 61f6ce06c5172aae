// SPDX-License-Identifier: MIT
// The network interfaces as the capture library lists them, and the one that
// monitoring follows by its name.
#ifndef INTERFACES_H
#define INTERFACES_H

#include "externals.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <utility>

// Interface numbers 0 to this are probed.
constexpr int LastProbedInterface = 16;

// Resolves the interface at info->index (libfms_interfaceinfo's contract).
using InterfaceResolver = std::function<int(PLIBFMSINFO info)>;

// A scratch record for every number from 0 to LastProbedInterface that
// resolves, in list order; each record's index is its number.
QList<LIBFMSINFO> probeInterfaces(int verbose,
                                  const InterfaceResolver &resolve = libfms_interfaceinfo);

QString interfaceName(const LIBFMSINFO &info);

// -1: no such interface, else whether it is up.
int interfaceUp(const char *interface);

// The on-link IPv6 prefixes of an interface: each address with its host
// bits cleared, and the prefix length.  Addresses that come and go within a
// prefix (temporary ones, a tentative one becoming valid) leave it alone.
using Ipv6Prefixes = std::set<std::pair<std::array<uint8_t, 16>, int>>;
Ipv6Prefixes ipv6Prefixes(const char *interface);

// What a capture on the followed interface depends on: when it changes, the
// capture must start afresh.
struct InterfaceState {
    bool listed = false;    // resolved: the interface exists and has an IPv4 address
    bool ipv6Only = false;  // not listed, but it exists with IPv6 addresses
    LIBFMSINFO resolved{};  // its name, hardware address, address and netmask
    unsigned ifindex = 0;   // the kernel's index: a new one for a new interface
    bool up = false;
    Ipv6Prefixes prefixes;  // what counts as local for IPv6
};
bool operator==(const InterfaceState &a, const InterfaceState &b);
bool operator!=(const InterfaceState &a, const InterfaceState &b);

// Resolves the interface called `name` (while `name` is empty, the one at
// `number`): at `number` while that still names it, else at the number the
// name has now, which is stored in `number`.  An empty `name` takes the
// resolved interface's name.
InterfaceState followInterface(int32_t &number, QString &name, int verbose,
                               const InterfaceResolver &resolve = libfms_interfaceinfo);

#endif // INTERFACES_H
