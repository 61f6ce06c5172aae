// Compares libpcap delivery settings for the capture: how long a lone frame
// waits before the handler sees it, and what a steady 20,000 frames/s costs
// the capturing thread in CPU time.  Runs in a private network namespace on
// a veth pair; needs root.  Usage: delivery [immediate|TIMEOUT_MS]...
#include "testnet.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t StampOffset = 42;  // inside the 64 captured bytes
constexpr size_t MagicOffset = 50;
constexpr char Magic[] = "FMSB";

int64_t nowNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

struct Receiver {
    std::atomic<int64_t> frames{0};
    std::vector<int64_t> delays;  // ns, only while recording
    std::atomic<bool> recording{false};
};

void onFrame(u_char *user, const pcap_pkthdr *h, const u_char *bytes)
{
    auto *r = reinterpret_cast<Receiver *>(user);
    r->frames++;
    if (r->recording && h->caplen >= MagicOffset + 4 &&
        std::memcmp(bytes + MagicOffset, Magic, 4) == 0) {
        int64_t sent;
        std::memcpy(&sent, bytes + StampOffset, sizeof sent);
        r->delays.push_back(nowNs() - sent);
    }
}

pcap_t *openCapture(const char *device, const std::string &mode)
{
    char err[PCAP_ERRBUF_SIZE];
    pcap_t *pd = pcap_create(device, err);
    pcap_set_snaplen(pd, 64);
    pcap_set_promisc(pd, 1);
    if (mode == "immediate")
        pcap_set_immediate_mode(pd, 1);
    else
        pcap_set_timeout(pd, std::stoi(mode));
    if (pcap_activate(pd) < 0) {
        std::fprintf(stderr, "activate failed: %s\n", pcap_geterr(pd));
        std::exit(1);
    }
    return pd;
}

double cpuSeconds(pthread_t thread)
{
    clockid_t id;
    timespec t;
    pthread_getcpuclockid(thread, &id);
    clock_gettime(id, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

void measure(const std::string &mode, testnet::PacketSocket &peer, testnet::Frame frame)
{
    Receiver r;
    pcap_t *pd = openCapture("fmsbench0", mode);
    std::thread loop([&] { pcap_loop(pd, -1, onFrame, reinterpret_cast<u_char *>(&r)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    // Lone frames on an otherwise idle link.
    r.delays.reserve(64);
    r.recording = true;
    for (int i = 0; i < 20; i++) {
        int64_t stamp = nowNs();
        std::memcpy(frame.data() + StampOffset, &stamp, sizeof stamp);
        peer.send(frame);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    r.recording = false;
    std::vector<int64_t> d = r.delays;
    std::sort(d.begin(), d.end());

    // Steady load: 20 frames every millisecond for 10 s.
    int64_t before = r.frames;
    double cpu0 = cpuSeconds(loop.native_handle());
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int ms = 0; ms < 10000; ms++) {
        for (int i = 0; i < 20; i++)
            peer.send(frame);
        next.tv_nsec += 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_sec++;
            next.tv_nsec -= 1000000000;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    double cpu = cpuSeconds(loop.native_handle()) - cpu0;

    pcap_breakloop(pd);
    loop.join();
    pcap_close(pd);
    std::printf("%-10s lone frames %zu/20: median %.2f ms, max %.2f ms | "
                "20000 frames/s for 10 s: %lld/200000 delivered, %.2f CPU s\n",
                mode.c_str(), d.size(), d.empty() ? 0 : d[d.size() / 2] / 1e6,
                d.empty() ? 0 : d.back() / 1e6, static_cast<long long>(r.frames - before), cpu);
}

} // namespace

int main(int argc, char **argv)
{
    if (!testnet::enterPrivateNamespace()) {
        std::fprintf(stderr, "needs root (a private network namespace)\n");
        return 1;
    }
    testnet::addVeth("fmsbench0", "192.0.2.1/24", "fmsbench1", "");
    testnet::PacketSocket peer("fmsbench1");
    testnet::Frame frame = testnet::ipv4Frame(testnet::macOf("fmsbench0"),
                                              testnet::macOf("fmsbench1"), "198.51.100.7",
                                              "192.0.2.1", 1000);
    std::memcpy(frame.data() + MagicOffset, Magic, 4);
    std::vector<std::string> modes(argv + 1, argv + argc);
    if (modes.empty())
        modes = {"immediate", "1", "10", "100"};
    for (const std::string &mode : modes)
        measure(mode, peer, frame);
    return 0;
}
