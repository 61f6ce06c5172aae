// SPDX-License-Identifier: MIT
#include "interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bitset>
#include <cstring>

QList<LIBFMSINFO> probeInterfaces(int verbose, const InterfaceResolver &resolve)
{
    QList<LIBFMSINFO> found;
    for (int number = 0; number <= LastProbedInterface; ++number) {
        LIBFMSINFO scratch{};
        scratch.index = number;
        scratch.verbose = verbose;
        if (resolve(&scratch) == 0)
            found << scratch;
    }
    return found;
}

QString interfaceName(const LIBFMSINFO &info)
{
    return QString::fromLocal8Bit(info.interface, qstrnlen(info.interface, sizeof info.interface));
}

int interfaceUp(const char *interface)
{
    ifreq request{};
    if (std::strlen(interface) >= sizeof request.ifr_name)
        return -1;
    std::strcpy(request.ifr_name, interface);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int result = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0
                           ? (request.ifr_flags & IFF_UP) != 0
                           : -1;
    if (fd >= 0)
        close(fd);
    return result;
}

Ipv6Prefixes ipv6Prefixes(const char *interface)
{
    Ipv6Prefixes prefixes;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return prefixes;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_netmask || entry->ifa_addr->sa_family != AF_INET6
            || std::strcmp(entry->ifa_name, interface) != 0)
            continue;
        const auto *address = reinterpret_cast<const sockaddr_in6 *>(entry->ifa_addr);
        const auto *mask = reinterpret_cast<const sockaddr_in6 *>(entry->ifa_netmask);
        std::array<uint8_t, 16> network;
        int length = 0;
        for (size_t i = 0; i < network.size(); ++i) {
            network[i] = address->sin6_addr.s6_addr[i] & mask->sin6_addr.s6_addr[i];
            length += int(std::bitset<8>(mask->sin6_addr.s6_addr[i]).count());
        }
        prefixes.emplace(network, length);
    }
    freeifaddrs(list);
    return prefixes;
}

bool operator==(const InterfaceState &a, const InterfaceState &b)
{
    if (!a.listed || !b.listed)
        return a.listed == b.listed && a.ipv6Only == b.ipv6Only;
    const LIBFMSINFO &x = a.resolved, &y = b.resolved;
    return std::strncmp(x.interface, y.interface, sizeof x.interface) == 0 &&
           std::memcmp(x.ownmac, y.ownmac, sizeof x.ownmac) == 0 && x.ownip == y.ownip &&
           x.netmask == y.netmask && a.ifindex == b.ifindex && a.up == b.up &&
           a.prefixes == b.prefixes;
}

bool operator!=(const InterfaceState &a, const InterfaceState &b)
{
    return !(a == b);
}

// Resolves `number` into `info`; whether it names `name` (any name while
// `name` is empty).
static bool resolvesTo(int32_t number, const QString &name, int verbose,
                       const InterfaceResolver &resolve, LIBFMSINFO &info)
{
    info = LIBFMSINFO{};
    info.index = number;
    info.verbose = verbose;
    return resolve(&info) == 0 && (name.isEmpty() || interfaceName(info) == name);
}

InterfaceState followInterface(int32_t &number, QString &name, int verbose,
                               const InterfaceResolver &resolve)
{
    InterfaceState state;
    state.listed = resolvesTo(number, name, verbose, resolve, state.resolved);
    if (!state.listed && !name.isEmpty()) {
        for (const LIBFMSINFO &entry : probeInterfaces(0, resolve))
            if (interfaceName(entry) == name) {
                number = entry.index;
                state.listed = resolvesTo(number, name, verbose, resolve, state.resolved);
                break;
            }
    }
    if (!state.listed) {
        const QByteArray wanted = name.toLocal8Bit();
        state.ipv6Only = !name.isEmpty() && !ipv6Prefixes(wanted.constData()).empty();
        return state;
    }
    name = interfaceName(state.resolved);
    state.prefixes = ipv6Prefixes(state.resolved.interface);
    state.ifindex = if_nametoindex(state.resolved.interface);
    state.up = interfaceUp(state.resolved.interface) == 1;
    return state;
}
