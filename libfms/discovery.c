// SPDX-License-Identifier: MIT
/*
 * libfms: the connection test.  One PPPoE discovery initiation (PADI) on a
 * packet socket, then a wait for an offer (PADO) to this PC.
 */
#include "internal.h"

#include <errno.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
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

/* Tag block of every PADI: an empty Service-Name (tag 0x0101: any service)
   and an 8-byte Host-Uniq (tag 0x0103): our hardware address, then 'F' 'M'. */
static const uint8_t PADI_content[PADI_CONTENT_LEN] = {
    0x01, 0x01, 0x00, 0x00,
    0x01, 0x03, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0x46, 0x4D,
};

/* Fills in the interface's link address for discovery frames and opens a
   packet socket for it.  The socket is created without a protocol, so that
   only the bind to this address registers it: binding a socket that is
   registered already waits for the whole network stack to synchronise. */
static int discovery_socket(const char *name, struct sockaddr_ll *to)
{
    unsigned index = if_nametoindex(name);

    memset(to, 0, sizeof *to);
    to->sll_family = AF_PACKET;
    to->sll_protocol = htons(ETHERTYPE_PPPOE_DISCOVERY);
    /* An unknown name gets an index that no interface has (0 would mean
       every interface): the bind fails. */
    to->sll_ifindex = index ? (int)index : -1;
    to->sll_halen = ETH_ADDR_LEN;
    memset(to->sll_addr, 0xff, ETH_ADDR_LEN);
    return socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
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

int is_offer(const struct frame *f, const uint8_t *ownmac)
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

/* Sockets closed by threads of their own at most at a time. */
enum { CLOSERS_MAX = 8 };

/* Closes under way on such threads. */
static int closers;

static void *close_socket(void *fd)
{
    close((int)(intptr_t)fd);
    __atomic_sub_fetch(&closers, 1, __ATOMIC_RELAXED);
    return NULL;
}

/* Starts a detached thread that closes fd, with every signal blocked: the
   caller's signals stay with the caller's threads.  Returns 0 if none started. */
static int start_closer(int fd)
{
    pthread_attr_t detached;
    pthread_t thread;
    sigset_t all, old;
    int started;

    pthread_attr_init(&detached);
    pthread_attr_setdetachstate(&detached, PTHREAD_CREATE_DETACHED);
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    started = pthread_create(&thread, &detached, close_socket, (void *)(intptr_t)fd) == 0;
    pthread_sigmask(SIG_SETMASK, &old, NULL);
    pthread_attr_destroy(&detached);
    return started;
}

/* Leaves the close of fd to a thread of its own, so that the caller has its
   result at once: closing a packet socket waits for the network stack to
   synchronise, 7 to 17 ms.  Past CLOSERS_MAX closes under way, or without a
   thread, the caller closes it itself. */
static void release_socket(int fd)
{
    if (__atomic_add_fetch(&closers, 1, __ATOMIC_RELAXED) <= CLOSERS_MAX && start_closer(fd))
        return;
    close(fd);
    __atomic_sub_fetch(&closers, 1, __ATOMIC_RELAXED);
}

/* Sets up and binds the open socket, sends the PADI and waits for an offer. */
static int test_on(int fd, const struct sockaddr_ll *link, const char *device,
                   const LIBFMSINFO *info)
{
    PPPoEPacket packet;
    int one = 1, bound;

    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) < 0) {
        say(info, "Error set socket options\n");
        return -8;
    }
    bound = bind(fd, (const struct sockaddr *)link, sizeof *link);
    if (bound < 0) {
        if (info->verbose)
            fprintf(stderr, "Error bind socket ('%s' %d)\n", device, bound);
        return -9;
    }
    build_padi((uint8_t *)&packet, info->ownmac);
    if (sendto(fd, &packet, PADI_LEN, 0, (const struct sockaddr *)link, sizeof *link) !=
        PADI_LEN) {
        say(info, "Error send PADI\n");
        return -10;
    }
    return wait_for_offer(fd, info, &packet);
}

LIBFMS_API int libfms_testodsl(PLIBFMSINFO info)
{
    char device[sizeof info->interface];
    struct sockaddr_ll link;
    int fd, result;

    device_name(info, device);
    fd = discovery_socket(device, &link);
    if (fd < 0 && errno == EPERM) {
        say(info, "Error creating raw socket. No root privileges?\n");
        return -2;
    }
    if (fd < 0) {
        say(info, "Error set socket options\n");
        return -8;
    }
    result = test_on(fd, &link, device, info);
    release_socket(fd);
    return result;
}
