// SPDX-License-Identifier: MIT
/*
 * Internal to libfms: what its parts share.  The classifier (classify.c),
 * the capture (capture.c), interface resolution (interface.c) and the PPPoE
 * discovery test (discovery.c).
 *
 * Frame bytes are read only through the bounds-checked readers below: each
 * returns 0 where the captured bytes end before what it would read.
 */
#ifndef LIBFMS_INTERNAL_H
#define LIBFMS_INTERNAL_H

#include "libfms.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <stdio.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Link-layer types as libpcap reports them. */
enum {
    LINK_ETHERNET = 1,
    LINK_RAW_IP = 12,        /* DLT_RAW on Linux */
    LINK_RAW_IP_ALT = 14,    /* DLT_RAW on some BSDs */
    LINK_RAW_IP_LT = 101,    /* LINKTYPE_RAW */
    LINK_COOKED = 113,       /* Linux cooked capture v1 */
    LINK_COOKED2 = 276,      /* Linux cooked capture v2 */
};

/* Ethernet (IEEE 802.3) header. */
enum {
    ETH_DST_OFF = 0,
    ETH_SRC_OFF = 6,
    ETH_TYPE_OFF = 12,
    ETH_HDR_LEN = 14,
    ETH_ADDR_LEN = 6,
};

/* EtherTypes. */
enum {
    ETHERTYPE_IPV4 = 0x0800,
    ETHERTYPE_IPV6 = 0x86DD,
    ETHERTYPE_PPPOE_DISCOVERY = 0x8863, /* RFC 2516 */
    ETHERTYPE_PPPOE_SESSION = 0x8864,   /* RFC 2516 */
};

/* The captured bytes of one frame. */
struct frame {
    const uint8_t *data;
    uint32_t caplen;
};

static inline int has_bytes(const struct frame *f, uint32_t off, uint32_t len)
{
    return off <= f->caplen && len <= f->caplen - off;
}

static inline int read_u8(const struct frame *f, uint32_t off, uint8_t *out)
{
    if (!has_bytes(f, off, 1))
        return 0;
    *out = f->data[off];
    return 1;
}

static inline int read_be16(const struct frame *f, uint32_t off, uint16_t *out)
{
    if (!has_bytes(f, off, 2))
        return 0;
    *out = (uint16_t)(f->data[off] << 8 | f->data[off + 1]);
    return 1;
}

static inline int read_be32(const struct frame *f, uint32_t off, uint32_t *out)
{
    if (!has_bytes(f, off, 4))
        return 0;
    *out = (uint32_t)f->data[off] << 24 | (uint32_t)f->data[off + 1] << 16 |
           (uint32_t)f->data[off + 2] << 8 | f->data[off + 3];
    return 1;
}

static inline int read_bytes(const struct frame *f, uint32_t off, uint8_t *out, uint32_t len)
{
    if (!has_bytes(f, off, len))
        return 0;
    memcpy(out, f->data + off, len);
    return 1;
}

static inline int equal_bytes(const struct frame *f, uint32_t off, const uint8_t *want,
                              uint32_t len)
{
    return has_bytes(f, off, len) && memcmp(f->data + off, want, len) == 0;
}

/* A diagnostic line on stderr, where the record asks for them. */
static inline void say(const LIBFMSINFO *info, const char *line)
{
    if (info->verbose)
        fputs(line, stderr);
}

static inline void ipv4_text(uint32_t host_order, char text[INET_ADDRSTRLEN])
{
    struct in_addr a = { htonl(host_order) };
    inet_ntop(AF_INET, &a, text, INET_ADDRSTRLEN);
}

/* The record's interface name, terminated even if the record's is not. */
static inline void device_name(const LIBFMSINFO *info, char device[sizeof info->interface])
{
    snprintf(device, sizeof info->interface, "%.*s", (int)sizeof info->interface - 1,
             info->interface);
}

enum {
    IPV6_ADDR_LEN = 16,
    OWN_IPV6_MAX = 16, /* addresses, and as many prefixes, of one interface */
};

/* An IPv6 network: its address with the host bits zero, and its length. */
struct ipv6_prefix {
    uint8_t net[IPV6_ADDR_LEN];
    unsigned len;
};

/* The interface's IPv6 addresses and on-link prefixes, as they were when the
   capture started.  Beyond OWN_IPV6_MAX of each the rest are left out: a raw
   packet from a left-out address counts as download, traffic with a left-out
   prefix as internet traffic. */
struct own_ipv6 {
    uint8_t addr[OWN_IPV6_MAX][IPV6_ADDR_LEN];
    unsigned addrs;
    struct ipv6_prefix prefix[OWN_IPV6_MAX];
    unsigned prefixes;
};

/* What the classifier reads for each frame: the caller's record and what
   the capture learnt about the interface.  Kept out of the record, whose
   layout callers rely on. */
struct scan_session {
    PLIBFMSINFO info;
    struct own_ipv6 own6;
};

/* IPv6 addresses that never count as internet traffic unless countall is
   set: link-local, multicast, unique-local, unspecified, loopback. */
enum { LOCAL_IPV6_CLASSES = 5 };
extern const struct ipv6_prefix local_ipv6[LOCAL_IPV6_CLASSES];

/* Whether addr lies inside the prefix.  Byte by byte: most addresses
   differ from most prefixes in the first. */
static inline int in_prefix(const struct ipv6_prefix *prefix, const uint8_t *addr)
{
    unsigned i, whole = prefix->len / 8, rest = prefix->len % 8;

    for (i = 0; i < whole; i++)
        if (prefix->net[i] != addr[i])
            return 0;
    return rest == 0 || ((prefix->net[whole] ^ addr[whole]) & (uint8_t)(0xff00 >> rest)) == 0;
}

/* Fills own with the IPv6 addresses and prefixes of the named interface;
   leaves it empty where they cannot be read. */
void learn_own_ipv6(const char *device, struct own_ipv6 *own);

/* The classifier, libpcap's frame handler: sets the record's direction and
   nrbytes for the frame and calls its cb when the frame counts.  user is the
   capture's struct scan_session. */
void scan_packets(u_char *user, const struct pcap_pkthdr *h, const u_char *bytes);

/* A PPPoE offer (PADO) to ownmac, as complete as its length field claims. */
int is_offer(const struct frame *f, const uint8_t *ownmac);

#ifdef __cplusplus
}
#endif

#endif
