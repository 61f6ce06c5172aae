// SPDX-License-Identifier: MIT
#include "testnet.h"

#include "libfms.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/if_packet.h>
#include <linux/if_tun.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>

namespace testnet {

bool enterPrivateNamespace()
{
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    // No IPv6 chatter (router solicitations) on new links: frame counts stay exact.
    run("sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
    run("ip link set lo up");
    return true;
}

void run(const std::string &command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("command failed: " + command);
}

void addVeth(const std::string &a, const std::string &addressA,
             const std::string &b, const std::string &addressB)
{
    run("ip link add " + a + " type veth peer name " + b);
    if (!addressA.empty())
        run("ip addr add " + addressA + " dev " + a);
    if (!addressB.empty())
        run("ip addr add " + addressB + " dev " + b);
    run("ip link set " + a + " up && ip link set " + b + " up");
}

void addIpv6(const std::string &interface, const std::string &address)
{
    const std::string conf = " net.ipv6.conf." + interface + ".";
    run("sysctl -qw" + conf + "addr_gen_mode=1" + conf + "accept_ra=0" + conf +
        "mldv2_unsolicited_report_interval=1" + conf + "disable_ipv6=0");
    run("ip -6 addr add " + address + " dev " + interface + " nodad");
}

Mac macOf(const std::string &interface)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq req{};
    interface.copy(req.ifr_name, IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFHWADDR, &req) == 0;
    close(fd);
    if (!ok)
        throw std::runtime_error("no hardware address for " + interface);
    Mac mac;
    std::copy_n(reinterpret_cast<const uint8_t *>(req.ifr_hwaddr.sa_data), 6, mac.begin());
    return mac;
}

void setLinkUp(const std::string &interface, bool up)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq req{};
    interface.copy(req.ifr_name, IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = up ? req.ifr_flags | IFF_UP : req.ifr_flags & ~IFF_UP;
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &req) == 0;
    close(fd);
    if (!ok)
        throw std::runtime_error("cannot set " + interface + (up ? " up" : " down"));
}

int interfaceNumber(const std::string &interface)
{
    LIBFMSINFO scratch{};
    for (scratch.index = 0; libfms_interfaceinfo(&scratch) == 0; scratch.index++)
        if (interface == scratch.interface)
            return scratch.index;
    return -1;
}

Frame etherFrame(const Mac &dst, const Mac &src, uint16_t etherType, size_t size)
{
    Frame f(size, 0);
    std::copy(dst.begin(), dst.end(), f.begin());
    std::copy(src.begin(), src.end(), f.begin() + 6);
    f[12] = etherType >> 8;
    f[13] = etherType & 0xff;
    return f;
}

Frame ipv4Frame(const Mac &dst, const Mac &src, const char *srcIp, const char *dstIp,
                size_t size)
{
    Frame f = etherFrame(dst, src, 0x0800, size);
    uint8_t *ip = f.data() + 14;
    ip[0] = 0x45;
    ip[2] = (size - 14) >> 8;
    ip[3] = (size - 14) & 0xff;
    ip[8] = 64;  // TTL
    ip[9] = 17;  // UDP
    inet_pton(AF_INET, srcIp, ip + 12);
    inet_pton(AF_INET, dstIp, ip + 16);
    return f;
}

Frame ipv6Frame(const Mac &dst, const Mac &src, const char *srcIp, const char *dstIp,
                size_t size, uint8_t next)
{
    Frame f = etherFrame(dst, src, 0x86dd, size);
    uint8_t *ip = f.data() + 14;
    ip[0] = 0x60;
    ip[4] = (size - 54) >> 8;  // payload length
    ip[5] = (size - 54) & 0xff;
    ip[6] = next;
    ip[7] = 64;  // hop limit
    inet_pton(AF_INET6, srcIp, ip + 8);
    inet_pton(AF_INET6, dstIp, ip + 24);
    return f;
}

Frame ipFrame(const Mac &dst, const Mac &src, const char *srcIp, const char *dstIp, size_t size)
{
    return std::strchr(srcIp, ':') ? ipv6Frame(dst, src, srcIp, dstIp, size)
                                   : ipv4Frame(dst, src, srcIp, dstIp, size);
}

Frame withoutEthernet(const Frame &frame)
{
    return Frame(frame.begin() + 14, frame.end());
}

Tun::Tun(const std::string &name, const std::string &ipv4, const std::string &ipv6)
    : fd(open("/dev/net/tun", O_RDWR | O_CLOEXEC))
{
    ifreq req{};
    req.ifr_flags = IFF_TUN | IFF_NO_PI;
    name.copy(req.ifr_name, IFNAMSIZ - 1);
    if (fd < 0 || ioctl(fd, TUNSETIFF, &req) != 0)
        throw std::runtime_error("no tun device " + name);
    run("ip addr add " + ipv4 + " dev " + name);
    addIpv6(name, ipv6);
    setLinkUp(name, true);
}

Tun::~Tun()
{
    close(fd);
}

void Tun::write(const Frame &packet)
{
    if (::write(fd, packet.data(), packet.size()) != static_cast<ssize_t>(packet.size()))
        throw std::runtime_error("tun write failed");
}

PacketSocket::PacketSocket(const std::string &interface)
    : fd(socket(AF_PACKET, SOCK_RAW, 0)), ifindex(if_nametoindex(interface.c_str()))
{
    if (fd < 0 || ifindex == 0)
        throw std::runtime_error("no packet socket on " + interface);
}

PacketSocket::~PacketSocket()
{
    close(fd);
}

void PacketSocket::send(const Frame &frame)
{
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = ifindex;
    to.sll_halen = 6;
    std::copy_n(frame.begin(), 6, to.sll_addr);
    if (sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&to),
               sizeof to) != static_cast<ssize_t>(frame.size()))
        throw std::runtime_error("sendto failed");
}

bool sendUntilCounted(PacketSocket &socket, const Frame &marker,
                      const std::function<bool()> &counted)
{
    return sendUntilCounted([&] { socket.send(marker); }, counted);
}

bool sendUntilCounted(const std::function<void()> &sendMarker,
                      const std::function<bool()> &counted)
{
    for (int i = 0; i < 100 && !counted(); i++) {
        sendMarker();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool held = counted();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return held;
}

struct FrameRecorder::State {
    int fd = -1;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<Frame> frames;
    std::thread reader;
};

FrameRecorder::FrameRecorder(const std::string &interface, uint16_t etherType)
    : state(new State)
{
    state->fd = socket(AF_PACKET, SOCK_RAW, htons(etherType));
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(etherType);
    at.sll_ifindex = if_nametoindex(interface.c_str());
    timeval poll{0, 20000};
    if (state->fd < 0 || bind(state->fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 ||
        setsockopt(state->fd, SOL_SOCKET, SO_RCVTIMEO, &poll, sizeof poll) != 0)
        throw std::runtime_error("cannot record frames on " + interface);
    state->reader = std::thread([s = state] {
        uint8_t buf[2048];
        while (!s->stop) {
            ssize_t n = recv(s->fd, buf, sizeof buf, 0);
            if (n > 0) {
                std::lock_guard<std::mutex> hold(s->lock);
                s->frames.emplace_back(buf, buf + n);
            }
        }
    });
}

FrameRecorder::~FrameRecorder()
{
    state->stop = true;
    state->reader.join();
    close(state->fd);
    delete state;
}

std::vector<Frame> FrameRecorder::frames()
{
    std::lock_guard<std::mutex> hold(state->lock);
    return state->frames;
}

int startProcess(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execvp(args[0], args.data());
        _exit(127);
    }
    if (pid < 0)
        throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

void stopProcess(int pid)
{
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

int openFdCount()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d))
            n++;
        closedir(d);
    }
    return n - 3;  // ".", ".." and the directory's own descriptor
}

static long statusField(const std::string &name, const std::string &file = "/proc/self/status")
{
    std::ifstream status(file);
    for (std::string line; std::getline(status, line);)
        if (line.rfind(name + ":", 0) == 0)
            return std::stol(line.substr(name.size() + 1));
    return -1;
}

int threadCount()
{
    return static_cast<int>(statusField("Threads"));
}

long residentKiB()
{
    return statusField("VmRSS");
}

long wakeups(int tid)
{
    return statusField("voluntary_ctxt_switches",
                       "/proc/self/task/" + std::to_string(tid) + "/status");
}

} // namespace testnet
