/*
 * libfms: live capture with per-frame accounting, interface resolution and
 * the PPPoE discovery link test.
 *
 * Frames are read only through the bounds-checked helpers below: a frame
 * that is too short for the headers a branch needs is simply not counted.
 */
#define _GNU_SOURCE
#include "libfms.h"
#include "scan.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

/* PPPoE discovery (RFC 2516), offsets from the start of the frame. */
enum {
    PPPOE_VERTYPE_OFF = 14,
    PPPOE_CODE_OFF = 15,
    PPPOE_SESSION_OFF = 16,
    PPPOE_LENGTH_OFF = 18,
    PPPOE_HDR_LEN = 20,       /* Ethernet and PPPoE headers */
    PPPOE_VERTYPE = 0x11,     /* version 1, type 1 */
    CODE_PADI = 0x09,
    CODE_PADO = 0x07,
    PADI_CONTENT_LEN = 16,
    PADI_HOST_UNIQ_OFF = 8,   /* our address inside PADI_content */
    PADI_LEN = PPPOE_HDR_LEN + PADI_CONTENT_LEN,
    OFFER_WAIT_MS = 1000,     /* from the PADI to the end of the test */
};

/* Capture parameters. */
enum {
    SNAPLEN = 64,            /* enough for the Ethernet and IPv4 headers */
    BUFFER_TIMEOUT_MS = 10,  /* longest a captured frame waits for delivery */
};

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
    ETHERTYPE_PPPOE_DISCOVERY = 0x8863, /* RFC 2516 */
    ETHERTYPE_PPPOE_SESSION = 0x8864,   /* RFC 2516 */
};

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

/* The captured bytes of one frame. */
struct frame {
    const uint8_t *data;
    uint32_t caplen;
};

static int has_bytes(const struct frame *f, uint32_t off, uint32_t len)
{
    return off <= f->caplen && len <= f->caplen - off;
}

static int read_u8(const struct frame *f, uint32_t off, uint8_t *out)
{
    if (!has_bytes(f, off, 1))
        return 0;
    *out = f->data[off];
    return 1;
}

static int read_be16(const struct frame *f, uint32_t off, uint16_t *out)
{
    if (!has_bytes(f, off, 2))
        return 0;
    *out = (uint16_t)(f->data[off] << 8 | f->data[off + 1]);
    return 1;
}

static int read_be32(const struct frame *f, uint32_t off, uint32_t *out)
{
    if (!has_bytes(f, off, 4))
        return 0;
    *out = (uint32_t)f->data[off] << 24 | (uint32_t)f->data[off + 1] << 16 |
           (uint32_t)f->data[off + 2] << 8 | f->data[off + 3];
    return 1;
}

static int equal_bytes(const struct frame *f, uint32_t off, const uint8_t *want, uint32_t len)
{
    return has_bytes(f, off, len) && memcmp(f->data + off, want, len) == 0;
}

static void say(const LIBFMSINFO *info, const char *line)
{
    if (info->verbose)
        fputs(line, stderr);
}

static const char *in_out(const LIBFMSINFO *info)
{
    return info->direction ? "out" : "in";
}

static void ipv4_text(uint32_t host_order, char *text)
{
    struct in_addr a = { htonl(host_order) };
    inet_ntop(AF_INET, &a, text, INET_ADDRSTRLEN);
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

/* The record's interface name, terminated even if the record's is not. */
static void device_name(const LIBFMSINFO *info, char device[sizeof info->interface])
{
    snprintf(device, sizeof info->interface, "%.*s", (int)sizeof info->interface - 1,
             info->interface);
}

/* Opens a promiscuous capture that hands each frame over within
   BUFFER_TIMEOUT_MS, or returns NULL. */
static pcap_t *open_capture(const char *device)
{
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t *pd;

    if (device[0] == '\0')
        return NULL;
    pd = pcap_create(device, errbuf);
    if (!pd)
        return NULL;
    if (pcap_set_snaplen(pd, SNAPLEN) != 0 || pcap_set_promisc(pd, 1) != 0 ||
        pcap_set_timeout(pd, BUFFER_TIMEOUT_MS) != 0 || pcap_activate(pd) < 0) {
        pcap_close(pd);
        return NULL;
    }
    return pd;
}

/* A capture and the record it reports to. */
struct capture_session {
    PLIBFMSINFO info;
    pcap_t *pd;
};

/* Closes the capture's own handle; also the cancellation clean-up.  A
   cancelled capture may end after a later one on the same record has put its
   handle into pd: pd is cleared only while it still names this capture. */
static void close_capture(void *arg)
{
    struct capture_session *s = arg;
    pcap_t *own = s->pd;

    if (!own)
        return;
    __atomic_compare_exchange_n(&s->info->pd, &own, NULL, 0, __ATOMIC_ACQ_REL,
                                __ATOMIC_ACQUIRE);
    pcap_close(s->pd);
    s->pd = NULL;
}

/* Runs the capture loop until it fails.  Only the loop can be cancelled (at
   its wait for frames, with the caller's cancel state); a cancellation closes
   the capture. */
static void run_capture(struct capture_session *s, int cancel_state)
{
    pthread_cleanup_push(close_capture, s);
    pthread_setcancelstate(cancel_state, NULL);
    pcap_loop(s->pd, -1, scan_packets, (u_char *)s->info);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, NULL);
    pthread_cleanup_pop(0);
}

static int fail(struct capture_session *s, int code, const char *line)
{
    say(s->info, line);
    close_capture(s);
    return code;
}

static int capture(PLIBFMSINFO info, int cancel_state)
{
    struct capture_session s = { info, NULL };
    char device[sizeof info->interface];
    char errbuf[PCAP_ERRBUF_SIZE];
    bpf_u_int32 net, mask;

    device_name(info, device);
    s.pd = open_capture(device);
    /* Callers may watch pd from other threads. */
    __atomic_store_n(&info->pd, s.pd, __ATOMIC_RELEASE);
    if (!s.pd)
        return fail(&s, -4, "Error pcap_open. No root privileges?\n");
    if (pcap_lookupnet(device, &net, &mask, errbuf) < 0)
        return fail(&s, -5, "Error pcap_lookup.\n");
    info->datalink = pcap_datalink(s.pd);
    if (info->datalink < 0)
        return fail(&s, -6, "Error pcap_datalink.\n");

    run_capture(&s, cancel_state);
    return fail(&s, -7, "Error pcap_loop.\n");
}

LIBFMS_API int libfms_init(PLIBFMSINFO info)
{
    int cancel_state, result;

    if (!info)
        return -1;
    /* A cancellation while the capture opens would leak the half-open handle:
       it waits for the loop. */
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancel_state);
    result = capture(info, cancel_state);
    pthread_setcancelstate(cancel_state, NULL);
    return result;
}

LIBFMS_API void libfms_deinit(PLIBFMSINFO info)
{
    if (info && info->verbose)
        fprintf(stderr, "Deinit, Interface %s no longer monitored\n", info->interface);
}

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

/* Tag block of every PADI: an empty Service-Name (tag 0x0101: any service)
   and an 8-byte Host-Uniq (tag 0x0103): our hardware address, then 'F' 'M'. */
static const uint8_t PADI_content[PADI_CONTENT_LEN] = {
    0x01, 0x01, 0x00, 0x00,
    0x01, 0x03, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0x46, 0x4D,
};

/* Where discovery frames are bound to and sent: a generic address holding
   the interface name (which then has at most 13 characters), or for longer
   names the interface's index. */
struct link_address {
    union {
        struct sockaddr generic;
        struct sockaddr_ll ll;
    } a;
    socklen_t len;
};

static int discovery_socket(const char *name, struct link_address *to)
{
    unsigned index;

    memset(to, 0, sizeof *to);
    if (strlen(name) < sizeof to->a.generic.sa_data) {
        memcpy(to->a.generic.sa_data, name, strlen(name));
        to->len = sizeof to->a.generic;
        return socket(AF_INET, SOCK_PACKET, htons(ETHERTYPE_PPPOE_DISCOVERY));
    }
    index = if_nametoindex(name);
    to->a.ll.sll_family = AF_PACKET;
    to->a.ll.sll_protocol = htons(ETHERTYPE_PPPOE_DISCOVERY);
    /* An unknown name gets an index that no interface has: bind fails. */
    to->a.ll.sll_ifindex = index ? (int)index : -1;
    to->a.ll.sll_halen = ETH_ADDR_LEN;
    memset(to->a.ll.sll_addr, 0xff, ETH_ADDR_LEN);
    to->len = sizeof to->a.ll;
    return socket(AF_PACKET, SOCK_RAW, htons(ETHERTYPE_PPPOE_DISCOVERY));
}

static void build_padi(uint8_t *f, const uint8_t *ownmac)
{
    memset(f + ETH_DST_OFF, 0xff, ETH_ADDR_LEN);
    memcpy(f + ETH_SRC_OFF, ownmac, ETH_ADDR_LEN);
    f[ETH_TYPE_OFF] = ETHERTYPE_PPPOE_DISCOVERY >> 8;
    f[ETH_TYPE_OFF + 1] = ETHERTYPE_PPPOE_DISCOVERY & 0xff;
    f[PPPOE_VERTYPE_OFF] = PPPOE_VERTYPE;
    f[PPPOE_CODE_OFF] = CODE_PADI;
    f[PPPOE_SESSION_OFF] = 0;
    f[PPPOE_SESSION_OFF + 1] = 0;
    f[PPPOE_LENGTH_OFF] = 0;
    f[PPPOE_LENGTH_OFF + 1] = PADI_CONTENT_LEN;
    memcpy(f + PPPOE_HDR_LEN, PADI_content, PADI_CONTENT_LEN);
    memcpy(f + PPPOE_HDR_LEN + PADI_HOST_UNIQ_OFF, ownmac, ETH_ADDR_LEN);
}

/* An offer to us: complete as its length field claims, for our address, a PADO. */
static int is_offer(const struct frame *f, const uint8_t *ownmac)
{
    uint16_t length;
    uint8_t code;

    if (!read_be16(f, PPPOE_LENGTH_OFF, &length) || !has_bytes(f, 0, PPPOE_HDR_LEN + length))
        return 0;
    return equal_bytes(f, ETH_DST_OFF, ownmac, ETH_ADDR_LEN) &&
           read_u8(f, PPPOE_CODE_OFF, &code) && code == CODE_PADO;
}

static int64_t monotonic_ms(void)
{
    struct timespec t;

    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

/* Reads discovery frames until an offer to us arrives or the deadline,
   OFFER_WAIT_MS after the PADI, has passed: other frames never extend it. */
static int wait_for_offer(int fd, const LIBFMSINFO *info, PPPoEPacket *packet)
{
    const int64_t deadline = monotonic_ms() + OFFER_WAIT_MS;

    for (;;) {
        struct pollfd p = { fd, POLLIN, 0 };
        int64_t left = deadline - monotonic_ms();
        ssize_t len;
        int ready;

        ready = left > 0 ? poll(&p, 1, (int)left) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            say(info, "Error time out while waiting for PADO\n");
            return -11;
        }
        if (ready < 0)
            break;
        len = recv(fd, packet, sizeof *packet, MSG_DONTWAIT);
        if (len < 0 && errno != EAGAIN && errno != EINTR)
            break;
        if (len > 0) {
            struct frame f = { (const uint8_t *)packet, (uint32_t)len };
            if (is_offer(&f, info->ownmac))
                return 0;
        }
    }
    say(info, "Error receive packet\n");
    return -12;
}

LIBFMS_API int libfms_testodsl(PLIBFMSINFO info)
{
    char device[sizeof info->interface];
    struct link_address link;
    PPPoEPacket packet;
    int fd, one = 1, bound, result;

    device_name(info, device);
    fd = discovery_socket(device, &link);
    if (fd < 0 && errno == EPERM) {
        say(info, "Error creating raw socket. No root privileges?\n");
        return -2;
    }
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) < 0) {
        if (fd >= 0)
            close(fd);
        say(info, "Error set socket options\n");
        return -8;
    }
    bound = bind(fd, &link.a.generic, link.len);
    if (bound < 0) {
        close(fd);
        if (info->verbose)
            fprintf(stderr, "Error bind socket ('%s' %d)\n", device, bound);
        return -9;
    }

    build_padi((uint8_t *)&packet, info->ownmac);
    if (sendto(fd, &packet, PADI_LEN, 0, &link.a.generic, link.len) != PADI_LEN) {
        say(info, "Error send PADI\n");
        close(fd);
        return -10;
    }
    result = wait_for_offer(fd, info, &packet);
    close(fd);
    return result;
}
