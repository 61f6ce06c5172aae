// SPDX-License-Identifier: MIT
/*
 * libfms: interface resolution.  The kernel's IPv4 interface list and the
 * ioctls that give an entry's hardware address, address and netmask; the
 * IPv6 addresses and prefixes of an interface.
 */
#include "internal.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

/* Reads the kernel's IPv4 interface list into a buffer sized from its own
   answer; the caller frees ifc->ifc_buf.  Returns 0 or -1. */
static int read_interface_list(int fd, struct ifconf *ifc)
{
    int size;

    ifc->ifc_len = 0;
    ifc->ifc_buf = NULL;
    if (ioctl(fd, SIOCGIFCONF, ifc) < 0)
        return -1;
    /* One entry of slack tells a complete answer from a truncated one. */
    for (size = ifc->ifc_len + (int)sizeof(struct ifreq);; size *= 2) {
        char *buf = realloc(ifc->ifc_buf, (size_t)size);
        if (!buf)
            break;
        ifc->ifc_buf = buf;
        ifc->ifc_len = size;
        if (ioctl(fd, SIOCGIFCONF, ifc) < 0)
            break;
        if (ifc->ifc_len < size)
            return 0;
    }
    free(ifc->ifc_buf);
    ifc->ifc_buf = NULL;
    return -1;
}

static void print_interface_used(const LIBFMSINFO *info)
{
    char ip_text[INET_ADDRSTRLEN], mask_text[INET_ADDRSTRLEN];
    const uint8_t *m = info->ownmac;

    ipv4_text(info->ownip, ip_text);
    ipv4_text(info->netmask, mask_text);
    fprintf(stderr,
            "Interface used : '%s'\n     Local MAC :  %.2X:%.2X:%.2X:%.2X:%.2X:%.2X\n"
            "     Local IP  :  %s\n     Netmask   :  %s\n",
            info->interface, m[0], m[1], m[2], m[3], m[4], m[5], ip_text, mask_text);
}

/* Fills the record from the interface named in req, field by field. */
static int query_interface(int fd, struct ifreq *req, PLIBFMSINFO info)
{
    snprintf(info->interface, sizeof info->interface, "%s", req->ifr_name);
    if (ioctl(fd, SIOCGIFHWADDR, req) < 0)
        return -3;
    memcpy(info->ownmac, req->ifr_hwaddr.sa_data, sizeof info->ownmac);
    if (ioctl(fd, SIOCGIFADDR, req) < 0)
        return -3;
    info->ownip = ntohl(((struct sockaddr_in *)&req->ifr_addr)->sin_addr.s_addr);
    if (ioctl(fd, SIOCGIFNETMASK, req) < 0)
        return -3;
    info->netmask = ntohl(((struct sockaddr_in *)&req->ifr_netmask)->sin_addr.s_addr);
    if (info->verbose)
        print_interface_used(info);
    return 0;
}

static int resolve_interface(int fd, PLIBFMSINFO info)
{
    struct ifconf ifc;
    int count, i, result = -3;

    if (read_interface_list(fd, &ifc) < 0)
        return -3;
    count = ifc.ifc_len / (int)sizeof(struct ifreq);
    for (i = 0; i < count; i++) {
        struct ifreq req;

        memset(&req, 0, sizeof req);
        memcpy(req.ifr_name, ifc.ifc_req[i].ifr_name, IFNAMSIZ - 1);
        if (info->verbose)
            fprintf(stderr, "Interface found: '%s'.\n", req.ifr_name);
        if (i == info->index) {
            result = query_interface(fd, &req, info);
            break;
        }
    }
    free(ifc.ifc_buf);
    return result;
}

LIBFMS_API int libfms_interfaceinfo(PLIBFMSINFO info)
{
    int fd, result;

    if (!info)
        return -1;
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        say(info, "Error creating socket.\n");
        return -2;
    }
    result = resolve_interface(fd, info);
    close(fd);
    return result;
}

/* The network of an address and its netmask. */
static struct ipv6_prefix prefix_of(const uint8_t *addr, const uint8_t *mask)
{
    struct ipv6_prefix p = { { 0 }, 0 };
    unsigned i;

    for (i = 0; i < IPV6_ADDR_LEN; i++) {
        p.net[i] = addr[i] & mask[i];
        p.len += (unsigned)__builtin_popcount(mask[i]);
    }
    return p;
}

static int contains(const struct ipv6_prefix *outer, const struct ipv6_prefix *inner)
{
    return outer->len <= inner->len && in_prefix(outer, inner->net);
}

/* Whether all of p is local already: in a local class or a prefix kept. */
static int is_covered(const struct own_ipv6 *own, const struct ipv6_prefix *p)
{
    unsigned i;

    for (i = 0; i < LOCAL_IPV6_CLASSES; i++)
        if (contains(&local_ipv6[i], p))
            return 1;
    for (i = 0; i < own->prefixes; i++)
        if (contains(&own->prefix[i], p))
            return 1;
    return 0;
}

/* Adds an address and its prefix, each while there is room.  A prefix is
   kept once (temporary addresses share theirs) and not at all where it is
   local anyway (fe80::/64). */
static void add_own_ipv6(struct own_ipv6 *own, const struct sockaddr_in6 *addr,
                         const struct sockaddr_in6 *mask)
{
    static const uint8_t host_mask[IPV6_ADDR_LEN] = {
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    };
    const uint8_t *a = addr->sin6_addr.s6_addr;
    struct ipv6_prefix p = prefix_of(a, mask ? mask->sin6_addr.s6_addr : host_mask);

    if (own->addrs < OWN_IPV6_MAX)
        memcpy(own->addr[own->addrs++], a, IPV6_ADDR_LEN);
    if (own->prefixes < OWN_IPV6_MAX && !is_covered(own, &p))
        own->prefix[own->prefixes++] = p;
}

/* getifaddrs: one call without privileges that gives each address with its
   netmask, the prefix the kernel routes on-link; it runs once a capture. */
void learn_own_ipv6(const char *device, struct own_ipv6 *own)
{
    struct ifaddrs *all, *a;

    memset(own, 0, sizeof *own);
    if (getifaddrs(&all) != 0)
        return;
    for (a = all; a; a = a->ifa_next)
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET6 && strcmp(a->ifa_name, device) == 0)
            add_own_ipv6(own, (const struct sockaddr_in6 *)a->ifa_addr,
                         (const struct sockaddr_in6 *)a->ifa_netmask);
    freeifaddrs(all);
}
