/* libFuzzer target for the frame classifier: the first two input bytes pick
   the link type and session settings, the rest is the captured frame.
   Run it with -close_fd_mask=2: the verbose lines go nowhere, while the
   fuzzer's and the sanitizers' reports still reach standard error. */
#include "libfms.h"
#include "internal.h"

#include <string.h>

static const int link_types[] = { 1, 12, 14, 101, 113, 276, 105 };

static void counted(PLIBFMSINFO info)
{
    (void)info;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const uint8_t own[6] = { 0x02, 0, 0, 0, 0, 0x01 };
    LIBFMSINFO info;
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

    memset(&h, 0, sizeof h);
    h.caplen = (uint32_t)(size - 2);
    h.len = h.caplen + data[0];  /* the wire length may exceed what was captured */
    scan_packets((u_char *)&info, &h, data + 2);
    return 0;
}
