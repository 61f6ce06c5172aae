// SPDX-License-Identifier: MIT
// Sets what the library counts of dual-stack traffic against the wire bytes
// sent, per direction: half IPv4, half IPv6 frames of 60 to 1514 bytes
// (random, seeded) to and from internet hosts, alternately in and out.  Four
// runs: on a veth pair; the same frames with LAN IPv6 frames added, one to
// every four (link-local, unique-local, own prefix, mDNS); those with
// countall 1; all of it on a tun device (raw IP, where every packet counts).  Needs root; makes
// a private network namespace of its own.
// Usage: dualstack [SECONDS (60)] [FRAMES_PER_SECOND (2000)]
#include "libfms.h"
#include "testnet.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<uint64_t> counted[2];

void account(PLIBFMSINFO info)
{
    counted[info->direction] += info->nrbytes;
}

struct Run {
    const char *name, *interface, *ip4, *ip6;
    int countall;
    bool withLan, lanCounts;
};

const char *const InternetHosts[] = {"198.51.100.7", "2001:db8:ff::7"};
const char *const LanHosts[] = {"fe80::2", "fd00::2", "2001:db8:1::2", "ff02::fb"};

class Network {
public:
    Network()
    {
        if (!testnet::enterPrivateNamespace())
            throw std::runtime_error("needs root (a private network namespace)");
        testnet::addVeth("fmsds0", "198.18.0.1/24", "fmsds1", "");
        testnet::addIpv6("fmsds0", "2001:db8:1::1/64");
        testnet::addIpv6("fmsds1", "2001:db8:1::2/64");
        tun = std::make_unique<testnet::Tun>("fmsdst0", "198.18.1.1/24", "2001:db8:5::1/64");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        own = testnet::macOf("fmsds0");
        peer = testnet::macOf("fmsds1");
        in = std::make_unique<testnet::PacketSocket>("fmsds1");
        out = std::make_unique<testnet::PacketSocket>("fmsds0");
    }
    // Sends one frame in (upload false) or out; returns the bytes that count.
    size_t send(const Run &r, bool upload, const char *remote, size_t size)
    {
        const char *ownIp = std::string(remote).find(':') != std::string::npos ? r.ip6 : r.ip4;
        testnet::Frame f = upload ? testnet::ipFrame(peer, own, ownIp, remote, size)
                                  : testnet::ipFrame(own, peer, remote, ownIp, size);
        if (r.interface == std::string("fmsdst0")) {
            tun->write(testnet::withoutEthernet(f));
            return size - 14;
        }
        (upload ? out : in)->send(f);
        return size;
    }

private:
    std::unique_ptr<testnet::Tun> tun;
    std::unique_ptr<testnet::PacketSocket> in, out;
    testnet::Mac own, peer;
};

LIBFMSINFO resolved(const char *interface, int countall)
{
    LIBFMSINFO info{};
    info.index = testnet::interfaceNumber(interface);
    if (info.index < 0 || libfms_interfaceinfo(&info) != 0)
        throw std::runtime_error(std::string("libfms cannot resolve ") + interface);
    info.cb = account;
    info.countall = countall;
    return info;
}

void measure(Network &net, const Run &r, double seconds, double rate)
{
    LIBFMSINFO info = resolved(r.interface, r.countall);
    pthread_t capture;
    pthread_create(&capture, nullptr, [](void *i) -> void * {
        libfms_init(static_cast<PLIBFMSINFO>(i));
        return nullptr;
    }, &info);
    testnet::sendUntilCounted([&] { net.send(r, false, InternetHosts[0], 100); },
                              [] { return counted[0] > 0; });
    counted[0] = counted[1] = 0;

    // The LAN frames come on top of the same internet frames, with sizes of their own.
    std::mt19937 random(1), lanRandom(2);
    std::uniform_int_distribution<size_t> size(60, 1514);
    uint64_t sent[2] = {0, 0}, lan = 0;
    const long frames = static_cast<long>(seconds * rate);
    const auto start = Clock::now();
    for (long i = 0; i < frames; i++) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(
                                                  static_cast<long>(i * 1e6 / rate)));
        const bool upload = i % 2;
        sent[upload] += net.send(r, upload, InternetHosts[i / 2 % 2], size(random));
        if (!r.withLan || i % 4 != 3)
            continue;
        const bool lanUpload = i / 4 % 2;
        const size_t bytes = net.send(r, lanUpload, LanHosts[i / 8 % 4], size(lanRandom));
        lan += bytes;
        if (r.lanCounts)
            sent[lanUpload] += bytes;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pthread_cancel(capture);
    pthread_join(capture, nullptr);
    std::printf("%s: frames=%ld lan_bytes=%llu down sent=%llu counted=%llu up sent=%llu "
                "counted=%llu %s\n",
                r.name, frames, static_cast<unsigned long long>(lan),
                static_cast<unsigned long long>(sent[0]),
                static_cast<unsigned long long>(counted[0].load()),
                static_cast<unsigned long long>(sent[1]),
                static_cast<unsigned long long>(counted[1].load()),
                sent[0] == counted[0] && sent[1] == counted[1] ? "exact" : "DIFFERENT");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::stod(argv[1]) : 60;
    const double rate = argc > 2 ? std::stod(argv[2]) : 2000;
    const Run runs[] = {
        {"veth, internet", "fmsds0", "198.18.0.1", "2001:db8:1::1", 0, false, false},
        {"veth, internet and LAN IPv6", "fmsds0", "198.18.0.1", "2001:db8:1::1", 0, true, false},
        {"veth, internet and LAN IPv6, countall 1", "fmsds0", "198.18.0.1", "2001:db8:1::1", 1,
         true, true},
        {"tun, internet and LAN IPv6", "fmsdst0", "198.18.1.1", "2001:db8:5::1", 0, true, true},
    };
    try {
        Network net;
        for (const Run &r : runs)
            measure(net, r, seconds, rate);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dualstack: %s\n", e.what());
        return 1;
    }
    return 0;
}
