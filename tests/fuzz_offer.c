// SPDX-License-Identifier: MIT
/* libFuzzer target for the connection test's offer check, linked with the
   discovery part of the library.  The first six input bytes are our
   hardware address, the rest is the frame received.  The check must agree
   with a plain reading of RFC 2516: a PADO (code 7) sent to us, holding as
   many payload bytes after its 20-byte header as its length field (bytes
   18 and 19) says. */
#include "internal.h"

#include <stdlib.h>

static int plain_offer(const uint8_t *frame, size_t size, const uint8_t *own)
{
    return size >= 20 && size - 20 >= (size_t)(frame[18] << 8 | frame[19]) &&
           memcmp(frame, own, 6) == 0 && frame[15] == 7;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    struct frame f;

    if (size < 6 || size - 6 > sizeof(PPPoEPacket))
        return 0;
    f.data = data + 6;
    f.caplen = (uint32_t)(size - 6);
    if (is_offer(&f, data) != plain_offer(f.data, f.caplen, data))
        abort();
    return 0;
}
