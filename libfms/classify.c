// SPDX-License-Identifier: MIT
/*
 * libfms: the per-frame classifier.  One small function per layer decides a
 * frame's direction and how many of its bytes count; a frame too short for
 * the headers a branch needs is simply not counted.
 */
#include "internal.h"

#include <pthread.h>

/* IPv4 header (RFC 791), offsets from its start. */
enum {
    IPV4_VER_IHL_OFF = 0,
    IPV4_TTL_OFF = 8,
    IPV4_PROTO_OFF = 9,
    IPV4_SRC_OFF = 12,
    IPV4_DST_OFF = 16,
    IPV4_HDR_LEN = 20,
    IPV4_PLAIN_VER_IHL = 0x45, /* version 4, 20-byte header */
};

/* IPv6 header (RFC 8200), offsets from its start.  Extension headers follow
   it, so the addresses sit at fixed offsets whatever they are. */
enum {
    IPV6_VERSION_OFF = 0, /* the high nibble */
    IPV6_NEXT_OFF = 6,
    IPV6_HOP_LIMIT_OFF = 7,
    IPV6_SRC_OFF = 8,
    IPV6_DST_OFF = 24,
    IPV6_HDR_LEN = 40,
    IPV6_VERSION = 6,
};

/* fe80::/10 (RFC 4291), ff00::/8 (RFC 4291), fc00::/7 (RFC 4193), ::, ::1. */
const struct ipv6_prefix local_ipv6[LOCAL_IPV6_CLASSES] = {
    { { 0xfe, 0x80 }, 10 },
    { { 0xff }, 8 },
    { { 0xfc }, 7 },
    { { 0 }, 128 },
    { { [15] = 1 }, 128 },
};

/* Linux cooked capture headers: their length and where the protocol sits. */
enum {
    SLL_HDR_LEN = 16,
    SLL_PROTO_OFF = 14,
    SLL2_HDR_LEN = 20,
    SLL2_PROTO_OFF = 0,
};

static const char *in_out(const LIBFMSINFO *info)
{
    return info->direction ? "out" : "in";
}

static int is_local_ipv6(const struct own_ipv6 *own, const uint8_t *addr)
{
    unsigned i;

    for (i = 0; i < LOCAL_IPV6_CLASSES; i++)
        if (in_prefix(&local_ipv6[i], addr))
            return 1;
    for (i = 0; i < own->prefixes; i++)
        if (in_prefix(&own->prefix[i], addr))
            return 1;
    return 0;
}

static int is_own_ipv6(const struct own_ipv6 *own, const uint8_t *addr)
{
    unsigned i;

    for (i = 0; i < own->addrs; i++)
        if (memcmp(own->addr[i], addr, IPV6_ADDR_LEN) == 0)
            return 1;
    return 0;
}

static int is_ipv6(const struct frame *f, uint32_t ip_off)
{
    uint8_t version;

    return read_u8(f, ip_off + IPV6_VERSION_OFF, &version) && version >> 4 == IPV6_VERSION;
}

/* IPv4 inside an Ethernet frame; the header starts at ETH_HDR_LEN. */
static void scan_ethernet_ipv4(PLIBFMSINFO info, const struct frame *f, uint32_t len)
{
    uint32_t src, dst, remote;
    uint8_t ttl, proto;
    char src_text[INET_ADDRSTRLEN], dst_text[INET_ADDRSTRLEN];

    if (!read_be32(f, ETH_HDR_LEN + IPV4_SRC_OFF, &src) ||
        !read_be32(f, ETH_HDR_LEN + IPV4_DST_OFF, &dst) ||
        !read_u8(f, ETH_HDR_LEN + IPV4_TTL_OFF, &ttl) ||
        !read_u8(f, ETH_HDR_LEN + IPV4_PROTO_OFF, &proto))
        return;

    remote = info->direction ? dst : src;
    if (info->countall || (remote & info->netmask) != (info->ownip & info->netmask))
        info->nrbytes = len;

    if (info->verbose) {
        ipv4_text(src, src_text);
        ipv4_text(dst, dst_text);
        fprintf(stderr, "ETH IP(%s) %s -> %s, TTL %u, Protocol %u, TotalLen %u\n",
                in_out(info), src_text, dst_text, ttl, proto, len);
    }
}

/* IPv6 inside an Ethernet frame; the header starts at ETH_HDR_LEN. */
static void scan_ethernet_ipv6(struct scan_session *s, const struct frame *f, uint32_t len)
{
    PLIBFMSINFO info = s->info;
    uint8_t src[IPV6_ADDR_LEN], dst[IPV6_ADDR_LEN], hop_limit, next;
    char src_text[INET6_ADDRSTRLEN], dst_text[INET6_ADDRSTRLEN];

    if (!read_bytes(f, ETH_HDR_LEN + IPV6_SRC_OFF, src, IPV6_ADDR_LEN) ||
        !read_bytes(f, ETH_HDR_LEN + IPV6_DST_OFF, dst, IPV6_ADDR_LEN) ||
        !read_u8(f, ETH_HDR_LEN + IPV6_HOP_LIMIT_OFF, &hop_limit) ||
        !read_u8(f, ETH_HDR_LEN + IPV6_NEXT_OFF, &next))
        return;

    if (info->countall || !is_local_ipv6(&s->own6, info->direction ? dst : src))
        info->nrbytes = len;

    if (info->verbose) {
        inet_ntop(AF_INET6, src, src_text, sizeof src_text);
        inet_ntop(AF_INET6, dst, dst_text, sizeof dst_text);
        fprintf(stderr, "ETH IPv6(%s) %s -> %s, HopLimit %u, Next %u, TotalLen %u\n",
                in_out(info), src_text, dst_text, hop_limit, next, len);
    }
}

static void scan_ethernet(struct scan_session *s, const struct frame *f, uint32_t len)
{
    PLIBFMSINFO info = s->info;
    uint16_t type;
    uint8_t ver_ihl;

    if (!read_be16(f, ETH_TYPE_OFF, &type))
        return;
    if (equal_bytes(f, ETH_SRC_OFF, info->ownmac, ETH_ADDR_LEN))
        info->direction = 1;

    if (type == ETHERTYPE_IPV4 && read_u8(f, ETH_HDR_LEN + IPV4_VER_IHL_OFF, &ver_ihl) &&
        ver_ihl == IPV4_PLAIN_VER_IHL) {
        scan_ethernet_ipv4(info, f, len);
    } else if (type == ETHERTYPE_IPV6 && is_ipv6(f, ETH_HDR_LEN)) {
        scan_ethernet_ipv6(s, f, len);
    } else if ((type == ETHERTYPE_PPPOE_DISCOVERY || type == ETHERTYPE_PPPOE_SESSION) &&
               (info->direction || equal_bytes(f, ETH_DST_OFF, info->ownmac, ETH_ADDR_LEN))) {
        if (info->verbose)
            fprintf(stderr, "ETH PPPoE(%s) TotalLen %u\n", in_out(info), len);
        info->nrbytes = len;
    }
}

/* A frame whose IPv4 header starts at ip_off; counted without what precedes it. */
static void scan_raw_ipv4(PLIBFMSINFO info, const struct frame *f, uint32_t ip_off, uint32_t len)
{
    uint8_t ver_ihl;
    uint32_t src;

    if (!has_bytes(f, ip_off, IPV4_HDR_LEN) || len <= ip_off)
        return;
    if (!read_u8(f, ip_off + IPV4_VER_IHL_OFF, &ver_ihl) || ver_ihl != IPV4_PLAIN_VER_IHL)
        return;
    if (!read_be32(f, ip_off + IPV4_SRC_OFF, &src))
        return;

    info->direction = src == info->ownip;
    if (info->verbose)
        fprintf(stderr, "RAW IP(%s) TotalLen %u\n", in_out(info), len - ip_off);
    info->nrbytes = len - ip_off;
}

/* A frame whose IPv6 header starts at ip_off; going out when it comes from
   one of the interface's addresses. */
static void scan_raw_ipv6(struct scan_session *s, const struct frame *f, uint32_t ip_off,
                          uint32_t len)
{
    PLIBFMSINFO info = s->info;
    uint8_t src[IPV6_ADDR_LEN];

    if (!has_bytes(f, ip_off, IPV6_HDR_LEN) || len <= ip_off || !is_ipv6(f, ip_off))
        return;
    if (!read_bytes(f, ip_off + IPV6_SRC_OFF, src, IPV6_ADDR_LEN))
        return;

    info->direction = is_own_ipv6(&s->own6, src);
    if (info->verbose)
        fprintf(stderr, "RAW IPv6(%s) TotalLen %u\n", in_out(info), len - ip_off);
    info->nrbytes = len - ip_off;
}

/* A raw-IP link: the version nibble tells IPv6 from IPv4. */
static void scan_raw(struct scan_session *s, const struct frame *f, uint32_t len)
{
    if (is_ipv6(f, 0))
        scan_raw_ipv6(s, f, 0, len);
    else
        scan_raw_ipv4(s->info, f, 0, len);
}

static void scan_cooked(struct scan_session *s, const struct frame *f, uint32_t hdr_len,
                        uint32_t proto_off, uint32_t len)
{
    uint16_t proto;

    if (!read_be16(f, proto_off, &proto))
        return;
    if (proto == ETHERTYPE_IPV4)
        scan_raw_ipv4(s->info, f, hdr_len, len);
    else if (proto == ETHERTYPE_IPV6)
        scan_raw_ipv6(s, f, hdr_len, len);
}

void scan_packets(u_char *user, const struct pcap_pkthdr *h, const u_char *bytes)
{
    struct scan_session *s = (struct scan_session *)user;
    PLIBFMSINFO info = s->info;
    struct frame f = { bytes, h->caplen };

    /* On a busy link the loop may never wait for frames: a cancellation of
       the capture must also take effect here. */
    pthread_testcancel();
    if (info->verbose > 1)
        fprintf(stderr, "datalink=%u, len=%u\n", (unsigned)info->datalink, h->len);
    info->direction = 0;
    info->nrbytes = 0;

    switch (info->datalink) {
    case LINK_ETHERNET:
        scan_ethernet(s, &f, h->len);
        break;
    case LINK_RAW_IP:
    case LINK_RAW_IP_ALT:
    case LINK_RAW_IP_LT:
        scan_raw(s, &f, h->len);
        break;
    case LINK_COOKED:
        scan_cooked(s, &f, SLL_HDR_LEN, SLL_PROTO_OFF, h->len);
        break;
    case LINK_COOKED2:
        scan_cooked(s, &f, SLL2_HDR_LEN, SLL2_PROTO_OFF, h->len);
        break;
    }

    if (info->nrbytes && info->cb)
        info->cb(info);
}
