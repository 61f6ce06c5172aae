#include "testnet.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

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

static long statusField(const std::string &name)
{
    std::ifstream status("/proc/self/status");
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

} // namespace testnet
