// SPDX-License-Identifier: MIT
// Sends IPv4 frames of random sizes through a veth pair for a while: into
// the watched end from a host outside its subnet (download) and out of it to
// such a host (upload), alternately.  Prints the wire bytes of each
// direction, to set against what flowmstr counted.  Needs root; run it in
// the network namespace of the pair.
// Usage: inject WATCHED PEER SECONDS FRAMES_PER_SECOND
#include "testnet.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: inject WATCHED PEER SECONDS FRAMES_PER_SECOND\n");
        return 2;
    }
    const std::string watched = argv[1], peer = argv[2];
    const long frames = std::stol(argv[3]) * std::stol(argv[4]), perSecond = std::stol(argv[4]);
    const testnet::Mac own = testnet::macOf(watched), other = testnet::macOf(peer);
    testnet::PacketSocket in(peer), out(watched);
    std::mt19937 random(1);
    std::uniform_int_distribution<size_t> size(60, 1514);
    unsigned long long down = 0, up = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < frames; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / perSecond));
        const size_t bytes = size(random);
        if (i % 2 == 0) {
            in.send(testnet::ipv4Frame(own, other, "198.51.100.7", "192.0.2.1", bytes));
            down += bytes;
        } else {
            out.send(testnet::ipv4Frame(other, own, "192.0.2.1", "198.51.100.7", bytes));
            up += bytes;
        }
    }
    std::printf("%llu %llu\n", down, up);
}
