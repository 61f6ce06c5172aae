// SPDX-License-Identifier: MIT
/*
 * libfms: traffic accounting and PPPoE link test for one network interface.
 *
 * Public interface of libfms.so, usable from C and C++.  Every function
 * takes the caller's session record; the library never allocates, copies or
 * frees a record and keeps no pointer to one after the call returns.
 */
#ifndef LIBFMS_H
#define LIBFMS_H

#include <stddef.h>
#include <stdint.h>
#include <linux/if_ether.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef LIBFMS_BUILDING
#define LIBFMS_API __attribute__((visibility("default")))
#else
#define LIBFMS_API
#endif

struct pcap; /* libpcap's capture handle, pcap_t */

typedef struct libfmsinfo LIBFMSINFO, *PLIBFMSINFO;

/* Called on the capture thread for every counted frame. */
typedef void (*LIBFMSCALLBACK)(PLIBFMSINFO info);

struct libfmsinfo {
    int32_t index;          /* in: position in the kernel's interface list */
    LIBFMSCALLBACK cb;      /* in: per-frame callback, may be NULL */
    uint32_t ownip;         /* IPv4 address, host byte order */
    uint32_t netmask;       /* IPv4 netmask, host byte order */
    uint8_t ownmac[6];      /* hardware address, wire order */
    uint16_t pad;           /* alignment filler, unused */
    char interface[256];    /* interface name, zero-terminated */
    int32_t countall;       /* non-zero: count traffic with the own subnet too */
    int32_t verbose;        /* 0 silent, 1 errors and per-frame lines, 2 more */
    struct pcap *pd;        /* open capture, NULL when there is none */
    int32_t datalink;       /* libpcap link-layer type of the capture */
    int32_t direction;      /* last frame: 0 towards this PC, 1 from it */
    uint32_t nrbytes;       /* last frame: bytes counted, 0 if not counted */
};

/* PPPoE discovery frame (RFC 2516) as sent and received: 1520 bytes. */
typedef struct {
    struct ethhdr ethHdr;
    uint8_t vertype;
    uint8_t code;
    uint16_t session;
    uint16_t length;
    uint8_t payload[1500];
} PPPoEPacket;

/* One tag inside a PPPoE payload. */
typedef struct {
    uint16_t type;
    uint16_t length;
    uint8_t payload[1500];
} PPPoETag;

#ifdef __cplusplus
#define LIBFMS_STATIC_ASSERT(cond, what) static_assert(cond, what)
#else
#define LIBFMS_STATIC_ASSERT(cond, what) _Static_assert(cond, what)
#endif

/* The record is shared with existing callers: its layout must not move. */
#if defined(__x86_64__)
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, index) == 0, "index");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, cb) == 8, "cb");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, ownip) == 16, "ownip");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, netmask) == 20, "netmask");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, ownmac) == 24, "ownmac");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, pad) == 30, "pad");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, interface) == 32, "interface");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, countall) == 288, "countall");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, verbose) == 292, "verbose");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, pd) == 296, "pd");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, datalink) == 304, "datalink");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, direction) == 308, "direction");
LIBFMS_STATIC_ASSERT(offsetof(LIBFMSINFO, nrbytes) == 312, "nrbytes");
LIBFMS_STATIC_ASSERT(sizeof(LIBFMSINFO) == 320, "LIBFMSINFO size");
#endif
LIBFMS_STATIC_ASSERT(sizeof(PPPoEPacket) == 1520, "PPPoEPacket size");
LIBFMS_STATIC_ASSERT(sizeof(PPPoETag) == 1504, "PPPoETag size");

/*
 * Captures on info->interface and calls info->cb for every counted frame.
 * The interface's IPv6 addresses and on-link prefixes (up to 16 of each)
 * are read once, as the capture starts: they tell local IPv6 traffic from
 * internet traffic, and on raw-IP links the direction.
 * Blocks while the capture runs; end it by cancelling the calling thread,
 * which closes the capture.  Never returns 0:
 *   -1 info is NULL
 *   -4 the capture could not be created or activated
 *   -5 the interface has no IPv4 network
 *   -6 the link-layer type could not be read
 *   -7 reading from the capture failed
 */
LIBFMS_API int libfms_init(PLIBFMSINFO info);

/* Reports the end of monitoring (a line on stderr when verbose). */
LIBFMS_API void libfms_deinit(PLIBFMSINFO info);

/*
 * Fills interface, ownmac, ownip and netmask for the interface at
 * info->index of the kernel's IPv4 interface list (0-based).
 *    0 found
 *   -1 info is NULL
 *   -2 no query socket
 *   -3 no such entry, or one of its queries failed
 */
LIBFMS_API int libfms_interfaceinfo(PLIBFMSINFO info);

/*
 * Broadcasts one PPPoE discovery initiation (PADI) from info->ownmac on
 * info->interface and waits one second for an offer (PADO) to ownmac.
 * info must not be NULL.
 *     0 an offer arrived
 *    -2 no permission for packet sockets
 *    -8 the socket could not be set up
 *    -9 the socket could not be bound to the interface
 *   -10 the PADI could not be sent
 *   -11 no offer within the second
 *   -12 receiving failed
 */
LIBFMS_API int libfms_testodsl(PLIBFMSINFO info);

#ifdef __cplusplus
}
#endif

#endif
