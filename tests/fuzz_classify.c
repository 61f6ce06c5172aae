// SPDX-License-Identifier: MIT
/* libFuzzer target for the frame classifier: the first two input bytes pick
   the link type and session settings, the rest is the captured frame.  The
   session knows a few IPv6 addresses and prefixes of its interface.  Every
   frame must end with a direction of 0 or 1 and a count of 0 or its length;
   a read past the captured bytes meets AddressSanitizer, as the input's
   buffer ends there.
   Run it with -close_fd_mask=2: the verbose lines go nowhere, while the
   fuzzer's and the sanitizers' reports still reach standard error. */
#include "libfms.h"
#include "internal.h"

#include <stdlib.h>
#include <string.h>

static const int link_types[] = { 1, 12, 14, 101, 113, 276, 105 };

static void counted(PLIBFMSINFO info)
{
    (void)info;
}

/* Bytes before the counted packet: cooked captures count without their header. */
static uint32_t link_header(int datalink)
{
    return datalink == 113 ? 16 : datalink == 276 ? 20 : 0;
}

static void add_prefix(struct own_ipv6 *own, const char *net, unsigned len)
{
    inet_pton(AF_INET6, net, own->prefix[own->prefixes].net);
    own->prefix[own->prefixes++].len = len;
}

static struct own_ipv6 own_ipv6(void)
{
    struct own_ipv6 own;

    memset(&own, 0, sizeof own);
    inet_pton(AF_INET6, "2001:db8:1::10", own.addr[own.addrs++]);
    inet_pton(AF_INET6, "fe80::10", own.addr[own.addrs++]);
    add_prefix(&own, "2001:db8:1::", 64);
    add_prefix(&own, "2001:db8:100::", 56);
    add_prefix(&own, "2001:db8:2::", 127);
    return own;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const uint8_t own[6] = { 0x02, 0, 0, 0, 0, 0x01 };
    LIBFMSINFO info;
    struct scan_session s = { &info, own_ipv6() };
    struct pcap_pkthdr h;

    if (size < 2)
        return 0;
    memset(&info, 0, sizeof info);
    memcpy(info.ownmac, own, sizeof own);
    info.ownip = 0xC000020A;
    info.netmask = data[1] & 8 ? 0xFFFFFF00 : 0;
    info.datalink = link_types[data[0] % (sizeof link_types / sizeof link_types[0])];
    info.verbose = data[1] % 3;
    info.countall = data[1] & 4;
    info.cb = data[1] & 16 ? counted : NULL;
    s.own6.prefixes = data[1] >> 5 & 3;  /* none to all three */

    memset(&h, 0, sizeof h);
    h.caplen = (uint32_t)(size - 2);
    h.len = h.caplen + data[0];  /* the wire length may exceed what was captured */
    scan_packets((u_char *)&s, &h, data + 2);
    if ((info.direction != 0 && info.direction != 1) ||
        (info.nrbytes != 0 && info.nrbytes != h.len - link_header(info.datalink)))
        abort();
    return 0;
}
