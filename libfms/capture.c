// SPDX-License-Identifier: MIT
/*
 * libfms: the live capture.  Opens a promiscuous libpcap capture, lets the
 * kernel drop the frames the classifier would not use, and hands the others
 * to it until the calling thread is cancelled.
 */
#include "internal.h"

#include <pthread.h>
#include <stdarg.h>
#include <time.h>

/* Capture parameters. */
enum {
    SNAPLEN = 64,            /* enough for the Ethernet and IPv4 or IPv6 headers */
    FILTER_TEXT_LEN = 4096,  /* room for every IPv6 prefix an interface keeps */
    BATCH_PAUSE_MS = 15,     /* longest a frame waits while frames keep coming */
};

/* Opens a promiscuous capture that hands each frame over as soon as it is
   read (capture_frames decides when that is), or returns NULL. */
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
        pcap_set_immediate_mode(pd, 1) != 0 || pcap_activate(pd) < 0) {
        pcap_close(pd);
        return NULL;
    }
    return pd;
}

/* Appends to the filter text; a text cut short fills the whole buffer. */
static void append(char *text, size_t size, const char *format, ...)
{
    size_t used = strlen(text);
    va_list args;

    va_start(args, format);
    vsnprintf(text + used, size - used, format, args);
    va_end(args);
}

/* The IPv6 networks that are local, joined by "or", for addresses on one
   side ("src" or "dst"). */
static void append_local_ipv6(char *text, size_t size, const char *side,
                              const struct own_ipv6 *own)
{
    char net[INET6_ADDRSTRLEN];
    unsigned i;

    for (i = 0; i < LOCAL_IPV6_CLASSES + own->prefixes; i++) {
        const struct ipv6_prefix *p =
            i < LOCAL_IPV6_CLASSES ? &local_ipv6[i] : &own->prefix[i - LOCAL_IPV6_CLASSES];

        inet_ntop(AF_INET6, p->net, net, sizeof net);
        append(text, size, "%sip6 %s net %s/%u", i ? " or " : "", side, net, p->len);
    }
}

/* Frames the Ethernet classifier may count or report, in libpcap's filter
   language (where "and" and "or" bind equally: hence the parentheses).
   Plain IPv4 and IPv6 are reported where verbose is 1, and otherwise
   counted by their remote address unless countall is set; PPPoE counts to
   or from ownmac. */
static void ethernet_filter_text(const struct scan_session *s, char *text, size_t size)
{
    const LIBFMSINFO *info = s->info;
    const uint8_t *m = info->ownmac;
    char mac[18], net[INET_ADDRSTRLEN], mask[INET_ADDRSTRLEN], pppoe[96];

    snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4],
             m[5]);
    snprintf(pppoe, sizeof pppoe,
             "((ether proto 0x8863 or ether proto 0x8864) and ether host %s)", mac);
    if (info->verbose || info->countall) {
        snprintf(text, size, "ip[0] = 0x45 or ip6[0] & 0xf0 = 0x60 or %s", pppoe);
        return;
    }
    ipv4_text(info->ownip & info->netmask, net);
    ipv4_text(info->netmask, mask);
    snprintf(text, size,
             "%s or (ip[0] = 0x45 and ((ether src %s and not ip dst net %s mask %s) or "
             "(not ether src %s and not ip src net %s mask %s))) or "
             "(ip6[0] & 0xf0 = 0x60 and ((ether src %s and not (",
             pppoe, mac, net, mask, mac, net, mask, mac);
    append_local_ipv6(text, size, "dst", &s->own6);
    append(text, size, ")) or (not ether src %s and not (", mac);
    append_local_ipv6(text, size, "src", &s->own6);
    append(text, size, "))))");
}

/* Frames the classifier may count or report, or "" for all of them: every
   frame is reported where verbose > 1, and without a callback the caller
   reads direction and nrbytes, which every frame sets anew.  A text too
   long for the buffer is dropped as well. */
static void filter_text(const struct scan_session *s, char *text, size_t size)
{
    text[0] = '\0';
    if (s->info->verbose > 1 || !s->info->cb)
        return;
    switch (s->info->datalink) {
    case LINK_ETHERNET:
        ethernet_filter_text(s, text, size);
        break;
    case LINK_RAW_IP:
    case LINK_RAW_IP_ALT:
    case LINK_RAW_IP_LT:
    case LINK_COOKED:
    case LINK_COOKED2:
        snprintf(text, size, "ip[0] = 0x45 or ip6[0] & 0xf0 = 0x60");
        break;
    }
    if (strlen(text) + 1 >= size)
        text[0] = '\0';
}

/* Lets the kernel drop the frames that the classifier would neither count
   nor report, so that they never wake the capture.  Without the filter the
   capture works all the same, only dearer. */
static void drop_unused_frames(const struct scan_session *s, pcap_t *pd)
{
    char text[FILTER_TEXT_LEN];
    struct bpf_program program;

    filter_text(s, text, sizeof text);
    if (text[0] == '\0' || pcap_compile(pd, &program, text, 1, PCAP_NETMASK_UNKNOWN) != 0)
        return;
    pcap_setfilter(pd, &program);
    pcap_freecode(&program);
}

/* A capture, with what its classifier reads. */
struct capture_session {
    struct scan_session frames;
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
    __atomic_compare_exchange_n(&s->frames.info->pd, &own, NULL, 0, __ATOMIC_ACQ_REL,
                                __ATOMIC_ACQUIRE);
    pcap_close(s->pd);
    s->pd = NULL;
}

/* Hands the frames to scan_packets until reading fails.  A frame that comes
   alone is handed over at once; after each batch the loop pauses, so that a
   busy link wakes the capture once a pause rather than once a frame, while
   no frame waits much longer than the pause.  Both waits are cancellation
   points. */
static void capture_frames(struct capture_session *s)
{
    const struct timespec pause = { 0, BATCH_PAUSE_MS * 1000000L };

    while (pcap_dispatch(s->pd, -1, scan_packets, (u_char *)&s->frames) >= 0)
        nanosleep(&pause, NULL);
}

/* Runs the capture loop until it fails.  Only the loop can be cancelled (at
   its wait for frames, with the caller's cancel state); a cancellation closes
   the capture. */
static void run_capture(struct capture_session *s, int cancel_state)
{
    pthread_cleanup_push(close_capture, s);
    pthread_setcancelstate(cancel_state, NULL);
    capture_frames(s);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, NULL);
    pthread_cleanup_pop(0);
}

static int fail(struct capture_session *s, int code, const char *line)
{
    say(s->frames.info, line);
    close_capture(s);
    return code;
}

static int capture(PLIBFMSINFO info, int cancel_state)
{
    struct capture_session s = { .frames.info = info };
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
    learn_own_ipv6(device, &s.frames.own6);
    drop_unused_frames(&s.frames, s.pd);

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
