/* Internal to libfms: the per-frame classifier, declared for the tests. */
#ifndef LIBFMS_SCAN_H
#define LIBFMS_SCAN_H

#include <pcap/pcap.h>

#ifdef __cplusplus
extern "C" {
#endif

/* libpcap's frame handler; user is the session's PLIBFMSINFO. */
void scan_packets(u_char *user, const struct pcap_pkthdr *h, const u_char *bytes);

#ifdef __cplusplus
}
#endif

#endif
