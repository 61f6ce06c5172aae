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

static void scan_ethernet(PLIBFMSINFO info, const struct frame *f, uint32_t len)
{
    uint16_t type;
    uint8_t ver_ihl;

    if (!read_be16(f, ETH_TYPE_OFF, &type))
        return;
    if (equal_bytes(f, ETH_SRC_OFF, info->ownmac, ETH_ADDR_LEN))
        info->direction = 1;

    if (type == ETHERTYPE_IPV4 && read_u8(f, ETH_HDR_LEN + IPV4_VER_IHL_OFF, &ver_ihl) &&
        ver_ihl == IPV4_PLAIN_VER_IHL) {
        scan_ethernet_ipv4(info, f, len);
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

static void scan_cooked(PLIBFMSINFO info, const struct frame *f, uint32_t hdr_len,
                        uint32_t proto_off, uint32_t len)
{
    uint16_t proto;

    if (read_be16(f, proto_off, &proto) && proto == ETHERTYPE_IPV4)
        scan_raw_ipv4(info, f, hdr_len, len);
}

void scan_packets(u_char *user, const struct pcap_pkthdr *h, const u_char *bytes)
{
    PLIBFMSINFO info = (PLIBFMSINFO)user;
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
        scan_ethernet(info, &f, h->len);
        break;
    case LINK_RAW_IP:
    case LINK_RAW_IP_ALT:
    case LINK_RAW_IP_LT:
        scan_raw_ipv4(info, &f, 0, h->len);
        break;
    case LINK_COOKED:
        scan_cooked(info, &f, SLL_HDR_LEN, SLL_PROTO_OFF, h->len);
        break;
    case LINK_COOKED2:
        scan_cooked(info, &f, SLL2_HDR_LEN, SLL2_PROTO_OFF, h->len);
        break;
    }

    if (info->nrbytes && info->cb)
        info->cb(info);
}
