// SPDX-License-Identifier: MIT
// Sends a steady stream of IPv4 frames from one end of a veth pair to the
// other, from an address outside the receiver's subnet, so that a capture on
// the receiving end counts them as download.
// Usage: steadyframes FROM TO FRAMES_PER_SECOND FRAME_BYTES SECONDS
#include "testnet.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: steadyframes FROM TO FRAMES_PER_SECOND FRAME_BYTES SECONDS\n");
        return 2;
    }
    const long perSecond = std::atol(argv[3]), seconds = std::atol(argv[5]);
    const testnet::Frame frame = testnet::ipv4Frame(testnet::macOf(argv[2]), testnet::macOf(argv[1]),
                                                    "198.51.100.9", "192.0.2.1",
                                                    std::strtoul(argv[4], nullptr, 10));
    testnet::PacketSocket socket(argv[1]);
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long stepNs = 1000000000L / perSecond;
    for (long sent = 0; sent < perSecond * seconds; ++sent) {
        socket.send(frame);
        next.tv_nsec += stepNs;
        next.tv_sec += next.tv_nsec / 1000000000L;
        next.tv_nsec %= 1000000000L;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    return 0;
}
