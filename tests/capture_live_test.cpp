// SPDX-License-Identifier: MIT
// The library on real interfaces: interface resolution and live capture on a
// veth pair inside the test's own network namespace.  Needs root.
#include "libfms.h"
#include "testnet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Our end is Local, the far end Peer.
const char *const Local = "fmslive0";
const char *const Peer = "fmslive1";
const char *const Remote = "198.51.100.7";

std::atomic<uint64_t> downloaded, uploaded;
std::atomic<int> frames;
std::atomic<int64_t> lastCallNs;

void account(PLIBFMSINFO info)
{
    (info->direction ? uploaded : downloaded) += info->nrbytes;
    frames++;
    lastCallNs = Clock::now().time_since_epoch().count();
}

void resetCounts()
{
    downloaded = 0;
    uploaded = 0;
    frames = 0;
}

std::string shellOutput(const char *command)
{
    std::string out;
    FILE *p = popen(command, "r");
    for (char buf[256]; fgets(buf, sizeof buf, p);)
        out += buf;
    pclose(p);
    return out;
}

std::string ipText(uint32_t hostOrder)
{
    in_addr a{htonl(hostOrder)};
    return inet_ntoa(a);
}

std::string macText(const uint8_t *m)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3],
                  m[4], m[5]);
    return text;
}

LIBFMSINFO resolved(const std::string &name)
{
    LIBFMSINFO info;
    for (int i = 0;; i++) {
        std::memset(&info, 0, sizeof info);
        info.index = i;
        if (libfms_interfaceinfo(&info) != 0)
            throw std::runtime_error("not listed: " + name);
        if (name == info.interface)
            break;
    }
    info.cb = account;
    return info;
}

// A capture running libfms_init on a thread of its own.
class Capture {
public:
    explicit Capture(LIBFMSINFO &info) : info(info)
    {
        pthread_create(&thread, nullptr, &Capture::run, this);
    }
    ~Capture()
    {
        if (running)
            cancel();
    }
    void cancel()
    {
        pthread_cancel(thread);
        pthread_join(thread, nullptr);
        running = false;
    }
    // Sends marker frames until the capture reports one, then clears the counts.
    void waitUntilCounting(testnet::PacketSocket &peer, const testnet::Frame &marker)
    {
        ASSERT_TRUE(testnet::sendUntilCounted(peer, marker, [] { return frames > 0; }))
            << "the capture never counted";
        resetCounts();
    }
    long wakeups() const { return testnet::wakeups(tid); }
    std::atomic<int> result{1};
    bool running = true;

private:
    static void *run(void *self)
    {
        auto *c = static_cast<Capture *>(self);
        c->tid = gettid();
        c->result = libfms_init(&c->info);
        return nullptr;
    }
    LIBFMSINFO &info;
    pthread_t thread;
    std::atomic<pid_t> tid{0};
};

class Live : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        testnet::addVeth(Local, "192.0.2.1/24", Peer, "203.0.113.1/24");
    }
    void SetUp() override { resetCounts(); }

    testnet::Frame toLocal(size_t size) const
    {
        return testnet::ipv4Frame(testnet::macOf(Local), testnet::macOf(Peer), Remote,
                                  "192.0.2.1", size);
    }
    testnet::Frame fromLocal(size_t size) const
    {
        return testnet::ipv4Frame(testnet::macOf(Peer), testnet::macOf(Local), "192.0.2.1",
                                  Remote, size);
    }
};

// `ip -4 -o addr` lists interfaces in the kernel's order, one line per address.
TEST_F(Live, InterfaceInfoFollowsTheKernelList)
{
    std::istringstream listing(shellOutput("ip -4 -o addr show"));
    std::string line;
    int index = 0;
    for (; std::getline(listing, line); index++) {
        std::istringstream fields(line);
        std::string number, name, family, cidr;
        fields >> number >> name >> family >> cidr;
        SCOPED_TRACE(line);
        LIBFMSINFO info{};
        info.index = index;
        ASSERT_EQ(libfms_interfaceinfo(&info), 0);
        EXPECT_EQ(info.interface, name);
        EXPECT_EQ(ipText(info.ownip), cidr.substr(0, cidr.find('/')));
        int prefix = std::stoi(cidr.substr(cidr.find('/') + 1));
        EXPECT_EQ(info.netmask, prefix ? ~0u << (32 - prefix) : 0u);
        std::string link = shellOutput(("ip -o link show dev " + name).c_str());
        EXPECT_NE(link.find("link/" + std::string(name == "lo" ? "loopback " : "ether ") +
                            macText(info.ownmac)),
                  std::string::npos)
            << link;
    }
    ASSERT_GE(index, 3);
    LIBFMSINFO first{};
    ASSERT_EQ(libfms_interfaceinfo(&first), 0);
    EXPECT_STREQ(first.interface, "lo");

    for (int beyond : {index, index + 5, -1}) {
        LIBFMSINFO info{};
        info.index = beyond;
        EXPECT_EQ(libfms_interfaceinfo(&info), -3) << beyond;
    }
    EXPECT_EQ(libfms_interfaceinfo(nullptr), -1);
}

TEST_F(Live, InterfaceInfoDiagnostics)
{
    LIBFMSINFO info = resolved(Local);
    info.verbose = 1;
    testing::internal::CaptureStderr();
    ASSERT_EQ(libfms_interfaceinfo(&info), 0);
    std::string text = testing::internal::GetCapturedStderr();
    std::string mac = macText(info.ownmac);
    for (char &c : mac)
        c = static_cast<char>(toupper(c));
    EXPECT_NE(text.find("Interface found: 'lo'.\n"), std::string::npos);
    EXPECT_NE(text.find("Interface used : 'fmslive0'\n     Local MAC :  " + mac +
                        "\n     Local IP  :  192.0.2.1\n     Netmask   :  255.255.255.0\n"),
              std::string::npos)
        << text;

    info.index = 999;
    testing::internal::CaptureStderr();
    EXPECT_EQ(libfms_interfaceinfo(&info), -3);
    text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(text.find("Interface used"), std::string::npos);
    EXPECT_NE(text.find("Interface found: 'fmslive1'.\n"), std::string::npos);

    info.verbose = 0;
    testing::internal::CaptureStderr();
    libfms_interfaceinfo(&info);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Every listed interface stays selectable, beyond what 500 bytes would hold.
TEST_F(Live, InterfaceInfoReachesLongLists)
{
    for (int i = 0; i < 10; i++)
        testnet::run("ip link add fmsmany" + std::to_string(i) +
                     " type veth peer name fmsmanyp" + std::to_string(i) +
                     " && ip addr add 203.0.113." + std::to_string(10 + i) +
                     "/32 dev fmsmany" + std::to_string(i));
    int count = 0;
    for (LIBFMSINFO info{}; libfms_interfaceinfo(&info) == 0; info.index = ++count)
        ;
    for (int i = 0; i < 10; i++)
        testnet::run("ip link del fmsmany" + std::to_string(i));
    EXPECT_GE(count, 13);
}

TEST_F(Live, CountsDownloadAndUploadAtWireLength)
{
    LIBFMSINFO info = resolved(Local);
    testnet::PacketSocket peer(Peer), local(Local);
    Capture capture(info);
    capture.waitUntilCounting(peer, toLocal(100));

    uint64_t bytes = 0;
    for (size_t size : {60, 342, 1000, 1514, 1514}) {
        peer.send(toLocal(size));
        local.send(fromLocal(size));
        bytes += size;
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(downloaded.load(), bytes);
    EXPECT_EQ(uploaded.load(), bytes);
    EXPECT_EQ(frames.load(), 10);
    EXPECT_EQ(info.datalink, 1);
}

TEST_F(Live, LoneFrameArrivesPromptly)
{
    LIBFMSINFO info = resolved(Local);
    testnet::PacketSocket peer(Peer);
    Capture capture(info);
    capture.waitUntilCounting(peer, toLocal(100));

    int64_t worst = 0;
    for (int i = 0; i < 5; i++) {
        std::this_thread::sleep_for(300ms);
        int before = frames;
        auto sent = Clock::now();
        peer.send(toLocal(60));
        while (frames == before && Clock::now() - sent < 2s)
            std::this_thread::sleep_for(100us);
        ASSERT_GT(frames.load(), before);
        worst = std::max(worst, lastCallNs - sent.time_since_epoch().count());
    }
    std::printf("lone frame to callback: worst of 5 %.2f ms\n", worst / 1e6);
    EXPECT_LT(worst, 250'000'000);
}

// 10,000 frames/s for a second: every frame arrives, none is held back long,
// and the capture wakes about once per pause between batches, not per frame.
TEST_F(Live, SteadyLoadArrivesCompleteWithFewWakeups)
{
    LIBFMSINFO info = resolved(Local);
    testnet::PacketSocket peer(Peer);
    Capture capture(info);
    capture.waitUntilCounting(peer, toLocal(100));
    const testnet::Frame frame = toLocal(142);
    const long before = capture.wakeups();
    std::vector<int> sentBy;  // frames sent before each millisecond
    int overdue = 0;
    auto start = Clock::now();
    for (int ms = 0; ms < 1000; ms++) {
        sentBy.push_back(ms * 10);
        if (ms >= 250 && frames < sentBy[ms - 250])
            overdue++;
        for (int i = 0; i < 10; i++)
            peer.send(frame);
        std::this_thread::sleep_until(start + (ms + 1) * 1ms);
    }
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(frames.load(), 10000);
    EXPECT_EQ(overdue, 0) << "frames waited over 250 ms";
    EXPECT_LT(capture.wakeups() - before, 200);
}

// The kernel drops the frames that the classifier would neither count nor
// report, so they never wake the capture; all others count as before.
TEST_F(Live, UnusedFramesNeverWakeTheCapture)
{
    using testnet::etherFrame;
    using testnet::ipv4Frame;
    const testnet::Mac own = testnet::macOf(Local), peer = testnet::macOf(Peer);
    const testnet::Mac a = {2, 0, 0, 0, 0, 0xa}, b = {2, 0, 0, 0, 0, 0xb};
    const testnet::Frame subnetIn = ipv4Frame(own, peer, "192.0.2.9", "192.0.2.1", 300);
    const testnet::Frame ipv6 = etherFrame(own, peer, 0x86dd, 900);
    const testnet::Frame strangersPppoe = etherFrame(a, b, 0x8864, 800);
    testnet::Frame withOptions = toLocal(1000);
    withOptions[14] = 0x46;
    const std::vector<testnet::Frame> all = {
        toLocal(100), fromLocal(200), subnetIn,
        ipv4Frame(peer, own, "192.0.2.1", "192.0.2.9", 400),
        ipv4Frame(a, b, Remote, "203.0.113.5", 500),
        etherFrame(own, peer, 0x8864, 600), etherFrame(peer, own, 0x8863, 700),
        strangersPppoe, ipv6, etherFrame(own, peer, 0x0806, 60), withOptions};
    struct Case {
        int countall, verbose;
        uint64_t down, up;
        std::vector<testnet::Frame> unused;  // the classifier ignores them
        bool wakes;
    } cases[] = {
        {0, 0, 1200, 900, {subnetIn, ipv6, strangersPppoe, withOptions}, false},
        {1, 0, 1500, 1300, {ipv6, strangersPppoe, withOptions}, false},
        {0, 1, 1200, 900, {ipv6, strangersPppoe, withOptions}, false},
        {0, 2, 1200, 900, {ipv6}, true},  // reported: "datalink=1, len=900"
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("countall " + std::to_string(c.countall) + ", verbose " +
                     std::to_string(c.verbose));
        LIBFMSINFO info = resolved(Local);
        info.countall = c.countall;
        info.verbose = c.verbose;
        testnet::PacketSocket sender(Peer);
        testing::internal::CaptureStderr();
        Capture capture(info);
        capture.waitUntilCounting(sender, toLocal(100));
        long before = capture.wakeups();
        for (const testnet::Frame &f : c.unused)
            sender.send(f);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(capture.wakeups() > before, c.wakes);

        for (const testnet::Frame &f : all)
            sender.send(f);
        std::this_thread::sleep_for(100ms);
        capture.cancel();
        std::string lines = testing::internal::GetCapturedStderr();
        EXPECT_EQ(downloaded.load(), c.down);
        EXPECT_EQ(uploaded.load(), c.up);
        EXPECT_EQ(lines.find("192.0.2.9 -> 192.0.2.1") != std::string::npos, c.verbose > 0);
        EXPECT_EQ(lines.find("len=900") != std::string::npos, c.verbose > 1);
    }
}

// Dual stack: IPv4 and IPv6 internet frames of 60 to 1514 bytes count at
// their wire length, per direction, on a veth pair and on a tun device (raw
// IP); LAN IPv6 (link-local, unique-local, own prefix, mDNS) counts on the
// veth pair only with countall, on the tun always.
TEST_F(Live, CountsIpv6InternetTraffic)
{
    testnet::addVeth("fmsv6a", "198.18.0.1/24", "fmsv6b", "");
    testnet::addIpv6("fmsv6a", "2001:db8:1::1/64");
    testnet::addIpv6("fmsv6b", "2001:db8:1::2/64");
    testnet::Tun tun("fmstun0", "198.18.1.1/24", "2001:db8:5::1/64");
    std::this_thread::sleep_for(100ms);  // the kernel's multicast reports are over
    const testnet::Mac own = testnet::macOf("fmsv6a"), peer = testnet::macOf("fmsv6b");
    testnet::PacketSocket in("fmsv6b"), out("fmsv6a");
    struct Case {
        const char *interface, *ip4, *ip6;
        int countall;
        bool withLan, lanCounts;
    } cases[] = {
        {"fmsv6a", "198.18.0.1", "2001:db8:1::1", 0, false, false},
        {"fmsv6a", "198.18.0.1", "2001:db8:1::1", 0, true, false},
        {"fmsv6a", "198.18.0.1", "2001:db8:1::1", 1, true, true},
        {"fmstun0", "198.18.1.1", "2001:db8:5::1", 0, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.interface) + ", countall " + std::to_string(c.countall) +
                     (c.withLan ? ", LAN frames" : ""));
        const bool raw = c.interface == std::string("fmstun0");
        uint64_t down = 0, up = 0;
        auto send = [&](bool upload, const testnet::Frame &f, bool counts) {
            raw ? tun.write(testnet::withoutEthernet(f)) : (upload ? out : in).send(f);
            if (counts)
                (upload ? up : down) += f.size() - (raw ? 14 : 0);
        };
        auto both = [&](const char *remote, size_t size, bool lan) {
            const char *ownIp = std::strchr(remote, ':') ? c.ip6 : c.ip4;
            const bool counts = !lan || c.lanCounts;
            send(false, testnet::ipFrame(own, peer, remote, ownIp, size), counts);
            send(true, testnet::ipFrame(peer, own, ownIp, remote, size + 1), counts);
        };
        LIBFMSINFO info = resolved(c.interface);
        info.countall = c.countall;
        Capture capture(info);
        ASSERT_TRUE(testnet::sendUntilCounted([&] { both(Remote, 100, false); },
                                              [] { return frames > 0; }));
        resetCounts();
        down = up = 0;
        for (size_t size : {60, 343, 1000, 1513}) {
            both(Remote, size, false);
            both("2001:db8:ff::7", size, false);
        }
        for (const char *lan : {"fe80::2", "fd00::2", "2001:db8:1::2", "ff02::fb"})
            if (c.withLan)
                both(lan, 200, true);
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(downloaded.load(), down);
        EXPECT_EQ(uploaded.load(), up);
    }
    testnet::run("ip link del fmsv6a");
}

// Without a callback the caller reads direction and nrbytes itself: every
// frame reaches the classifier and sets both anew, an uncounted one too.
TEST_F(Live, WithoutCallbackEveryFrameSetsTheRecord)
{
    LIBFMSINFO info = resolved(Local);
    info.cb = nullptr;
    testnet::PacketSocket peer(Peer);
    Capture capture(info);
    for (int i = 0; i < 2000 && !__atomic_load_n(&info.pd, __ATOMIC_ACQUIRE); i++)
        std::this_thread::sleep_for(1ms);
    peer.send(toLocal(100));
    peer.send(testnet::etherFrame(testnet::macOf(Peer), testnet::macOf(Local), 0x0806, 60));
    std::this_thread::sleep_for(200ms);
    capture.cancel();
    EXPECT_EQ(info.direction, 1);  // last came the ARP frame from our address
    EXPECT_EQ(info.nrbytes, 0u);
}

TEST_F(Live, CancelEndsTheCaptureAndClosesIt)
{
    LIBFMSINFO info = resolved(Local);
    testnet::PacketSocket peer(Peer);
    int fds = testnet::openFdCount();
    Capture capture(info);
    capture.waitUntilCounting(peer, toLocal(100));
    EXPECT_GT(testnet::openFdCount(), fds);

    auto start = Clock::now();
    capture.cancel();
    auto took = Clock::now() - start;
    EXPECT_LT(took, 1s);
    EXPECT_EQ(info.pd, nullptr);
    EXPECT_EQ(testnet::openFdCount(), fds);
    std::printf("cancel to joined: %.2f ms\n",
                std::chrono::duration<double, std::milli>(took).count());
}

// A capture cancelled after a later one on the same record has started (a
// stop that timed out) closes its own handle and leaves the later one's.
TEST_F(Live, CancelledCaptureClosesOnlyItsOwnHandle)
{
    LIBFMSINFO info = resolved(Local);
    testnet::PacketSocket peer(Peer);
    int fds = testnet::openFdCount();
    Capture first(info);
    first.waitUntilCounting(peer, toLocal(100));
    pcap *firstHandle = info.pd;
    Capture second(info);
    while (__atomic_load_n(&info.pd, __ATOMIC_ACQUIRE) == firstHandle)
        std::this_thread::sleep_for(1ms);
    first.cancel();
    EXPECT_NE(info.pd, nullptr);
    second.waitUntilCounting(peer, toLocal(100));
    second.cancel();
    EXPECT_EQ(info.pd, nullptr);
    EXPECT_EQ(testnet::openFdCount(), fds);
}

// Cancelled while it opens, or while a flood never lets it wait: still ends
// promptly and leaves no descriptor open.
TEST_F(Live, CancelAtAnyMoment)
{
    LIBFMSINFO info = resolved(Local);
    int fds = testnet::openFdCount();
    for (int i = 0; i < 50; i++)
        Capture(info).cancel();
    EXPECT_EQ(testnet::openFdCount(), fds);

    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        testnet::PacketSocket peer(Peer);
        testnet::Frame frame = toLocal(60);
        while (flooding)
            peer.send(frame);
    });
    Capture capture(info);
    std::this_thread::sleep_for(300ms);
    auto start = Clock::now();
    capture.cancel();
    EXPECT_LT(Clock::now() - start, 1s);
    flooding = false;
    flood.join();
    EXPECT_EQ(testnet::openFdCount(), fds);
}

TEST_F(Live, LoopbackCaptureRunsAndCountsNothing)
{
    LIBFMSINFO info = resolved("lo");
    Capture capture(info);
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 20; i++) {
        sendto(s, "x", 1, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        std::this_thread::sleep_for(10ms);
    }
    close(s);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(frames.load(), 0);
    EXPECT_EQ(capture.result, 1) << "the capture ended";
}

TEST_F(Live, InterfaceWithoutIpv4)
{
    testnet::addVeth("fmsnoip0", "", "fmsnoip1", "");
    LIBFMSINFO info{};
    std::strcpy(info.interface, "fmsnoip0");
    info.verbose = 1;
    int fds = testnet::openFdCount();
    testing::internal::CaptureStderr();
    EXPECT_EQ(libfms_init(&info), -5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error pcap_lookup.\n");
    EXPECT_EQ(info.pd, nullptr);
    EXPECT_EQ(testnet::openFdCount(), fds);
    testnet::run("ip link del fmsnoip0");
}

TEST_F(Live, CaptureThatCannotOpen)
{
    struct Case {
        const char *name;
        bool dropPrivileges;
    } cases[] = {{"", false}, {"nosuchif0", false}, {"fmslive0", true}, {nullptr, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name ? c.name : "an unterminated name");
        fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            LIBFMSINFO info{};
            if (c.name)
                std::strcpy(info.interface, c.name);
            else
                std::memset(info.interface, 'x', sizeof info.interface);
            info.verbose = 1;
            if (c.dropPrivileges &&
                (setgroups(0, nullptr) || setresgid(65534, 65534, 65534) ||
                 setresuid(65534, 65534, 65534)))
                _exit(99);
            testing::internal::CaptureStderr();
            int result = libfms_init(&info);
            bool quiet = testing::internal::GetCapturedStderr() ==
                         "Error pcap_open. No root privileges?\n";
            _exit(result == -4 && info.pd == nullptr && quiet ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(libfms_init(nullptr), -1);
}

} // namespace
