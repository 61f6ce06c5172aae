// SPDX-License-Identifier: MIT
// The per-frame classifier: direction, byte count, callback and diagnostic
// lines for hand-made frames of every kind it meets.
#include "libfms.h"
#include "internal.h"
#include "testnet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

using testnet::Frame;
using testnet::Mac;

const Mac Own = {0x02, 0, 0, 0, 0, 0x01};
const Mac Peer = {0x02, 0, 0, 0, 0, 0x02};
const Mac Third = {0x02, 0, 0, 0, 0, 0x03};
const char *const OwnIp = "192.0.2.10";
const char *const SubnetHost = "192.0.2.20";
const char *const Remote = "198.51.100.7";
const char *const OwnIp6 = "2001:db8:1::10";   // in the own prefix 2001:db8:1::/64
const char *const OwnLinkLocal = "fe80::10";
const char *const PrefixHost = "2001:db8:1::20";
const char *const Remote6 = "2001:db8:ff::7";

int callbackCalls;
void countCall(PLIBFMSINFO) { callbackCalls++; }

uint32_t hostOrder(const char *ip)
{
    in_addr a;
    inet_pton(AF_INET, ip, &a);
    return ntohl(a.s_addr);
}

LIBFMSINFO session(int datalink, int verbose = 1, int countall = 0,
                   const char *netmask = "255.255.255.0")
{
    LIBFMSINFO info;
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.ownmac, Own.data(), 6);
    info.ownip = hostOrder(OwnIp);
    info.netmask = hostOrder(netmask);
    info.datalink = datalink;
    info.verbose = verbose;
    info.countall = countall;
    info.cb = countCall;
    return info;
}

// What every row's capture learnt of the interface: two addresses, one prefix.
scan_session withOwnIpv6(LIBFMSINFO &info)
{
    scan_session s{&info, {}};
    inet_pton(AF_INET6, OwnIp6, s.own6.addr[0]);
    inet_pton(AF_INET6, OwnLinkLocal, s.own6.addr[1]);
    s.own6.addrs = 2;
    inet_pton(AF_INET6, "2001:db8:1::", s.own6.prefix[0].net);
    s.own6.prefix[0].len = 64;
    s.own6.prefixes = 1;
    return s;
}

struct Outcome {
    int direction;
    uint32_t nrbytes;
    int calls;
    std::string stderrText;
};

// Hands the first `caplen` bytes of a frame of wire length `len` to the
// classifier, in a buffer of exactly that size.
Outcome classify(LIBFMSINFO &info, const Frame &frame, uint32_t len, uint32_t caplen = 64)
{
    caplen = std::min<uint32_t>(caplen, frame.size());
    std::vector<u_char> captured(frame.begin(), frame.begin() + caplen);
    pcap_pkthdr h{};
    h.caplen = caplen;
    h.len = len;
    info.direction = 7;
    info.nrbytes = 7;
    callbackCalls = 0;
    scan_session s = withOwnIpv6(info);
    testing::internal::CaptureStderr();
    scan_packets(reinterpret_cast<u_char *>(&s), &h, captured.data());
    return {info.direction, info.nrbytes, callbackCalls, testing::internal::GetCapturedStderr()};
}

Frame ipv4(const Mac &dst, const Mac &src, const char *srcIp, const char *dstIp)
{
    return testnet::ipv4Frame(dst, src, srcIp, dstIp, 1514);
}

// An IPv4 packet alone, as raw-IP links deliver it.
Frame rawIpv4(const char *srcIp, const char *dstIp, uint8_t verIhl = 0x45)
{
    Frame f = ipv4(Peer, Peer, srcIp, dstIp);
    f.erase(f.begin(), f.begin() + 14);
    f[0] = verIhl;
    return f;
}

Frame ipv6(const Mac &dst, const Mac &src, const char *srcIp, const char *dstIp,
           uint8_t next = 17)
{
    return testnet::ipv6Frame(dst, src, srcIp, dstIp, 1514, next);
}

Frame rawIpv6(const char *srcIp, const char *dstIp)
{
    return testnet::withoutEthernet(ipv6(Peer, Peer, srcIp, dstIp));
}

// A Linux cooked capture header in front of a raw IPv4 packet.
Frame cooked(int version, uint16_t protocol, const Frame &packet)
{
    Frame f(version == 1 ? 16 : 20, 0);
    size_t protoOff = version == 1 ? 14 : 0;
    f[protoOff] = protocol >> 8;
    f[protoOff + 1] = protocol & 0xff;
    f.insert(f.end(), packet.begin(), packet.end());
    return f;
}

struct Row {
    const char *name;
    LIBFMSINFO info;
    Frame frame;
    uint32_t len;
    int direction;
    uint32_t nrbytes;
    const char *line;  // the classification line at verbose 1
};

std::vector<Row> rows()
{
    Frame vlan = ipv4(Own, Peer, Remote, OwnIp);
    vlan.insert(vlan.begin() + 12, {0x81, 0x00, 0x00, 0x05});
    Frame options = ipv4(Own, Peer, Remote, OwnIp);
    options[14] = 0x46;
    auto eth = [](const Mac &d, const Mac &s, uint16_t type) {
        return testnet::etherFrame(d, s, type, 80);
    };
    return {
        {"IPv4 out to a remote host", session(1), ipv4(Peer, Own, OwnIp, Remote), 1514, 1, 1514,
         "ETH IP(out) 192.0.2.10 -> 198.51.100.7, TTL 64, Protocol 17, TotalLen 1514\n"},
        {"IPv4 in from a remote host", session(1), ipv4(Own, Peer, Remote, OwnIp), 1514, 0, 1514,
         "ETH IP(in) 198.51.100.7 -> 192.0.2.10, TTL 64, Protocol 17, TotalLen 1514\n"},
        {"IPv4 out to the own subnet", session(1), ipv4(Peer, Own, OwnIp, SubnetHost), 1514, 1, 0,
         "ETH IP(out) 192.0.2.10 -> 192.0.2.20, TTL 64, Protocol 17, TotalLen 1514\n"},
        {"IPv4 out to the own subnet, countall", session(1, 1, 1),
         ipv4(Peer, Own, OwnIp, SubnetHost), 1514, 1, 1514,
         "ETH IP(out) 192.0.2.10 -> 192.0.2.20, TTL 64, Protocol 17, TotalLen 1514\n"},
        {"IPv4 in from the own subnet", session(1), ipv4(Own, Peer, SubnetHost, OwnIp), 600, 0, 0,
         "ETH IP(in) 192.0.2.20 -> 192.0.2.10, TTL 64, Protocol 17, TotalLen 600\n"},
        {"IPv4 between two other stations", session(1), ipv4(Third, Peer, Remote, "192.0.2.99"),
         1514, 0, 1514,
         "ETH IP(in) 198.51.100.7 -> 192.0.2.99, TTL 64, Protocol 17, TotalLen 1514\n"},
        {"IPv4 with netmask 0", session(1, 1, 0, "0.0.0.0"), ipv4(Peer, Own, OwnIp, Remote), 1514,
         1, 0, "ETH IP(out) 192.0.2.10 -> 198.51.100.7, TTL 64, Protocol 17, TotalLen 1514\n"},
        {"IPv4 with header options", session(1), options, 1514, 0, 0, ""},
        {"PPPoE session to us", session(1), eth(Own, Peer, 0x8864), 1500, 0, 1500,
         "ETH PPPoE(in) TotalLen 1500\n"},
        {"PPPoE session from us", session(1), eth(Peer, Own, 0x8864), 1500, 1, 1500,
         "ETH PPPoE(out) TotalLen 1500\n"},
        {"PPPoE discovery to us", session(1), eth(Own, Peer, 0x8863), 60, 0, 60,
         "ETH PPPoE(in) TotalLen 60\n"},
        {"PPPoE discovery from us", session(1), eth(Peer, Own, 0x8863), 36, 1, 36,
         "ETH PPPoE(out) TotalLen 36\n"},
        {"PPPoE discovery broadcast from us", session(1, 1, 0, "0.0.0.0"),
         eth({0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, Own, 0x8863), 36, 1, 36,
         "ETH PPPoE(out) TotalLen 36\n"},
        {"PPPoE between two other stations", session(1), eth(Third, Peer, 0x8864), 1500, 0, 0, ""},
        {"ARP", session(1), eth(Own, Peer, 0x0806), 60, 0, 0, ""},
        {"ARP from us", session(1), eth(Peer, Own, 0x0806), 60, 1, 0, ""},
        {"IPv6 EtherType, version 0", session(1), eth(Own, Peer, 0x86dd), 100, 0, 0, ""},
        {"IPv6 out to a remote host", session(1), ipv6(Peer, Own, OwnIp6, Remote6), 1514, 1, 1514,
         "ETH IPv6(out) 2001:db8:1::10 -> 2001:db8:ff::7, HopLimit 64, Next 17, TotalLen 1514\n"},
        {"IPv6 in from a remote host, hop-by-hop header", session(1),
         ipv6(Own, Peer, Remote6, OwnIp6, 0), 800, 0, 800,
         "ETH IPv6(in) 2001:db8:ff::7 -> 2001:db8:1::10, HopLimit 64, Next 0, TotalLen 800\n"},
        {"IPv6 out to link-local", session(1), ipv6(Peer, Own, OwnLinkLocal, "fe80::20"), 90, 1,
         0, "ETH IPv6(out) fe80::10 -> fe80::20, HopLimit 64, Next 17, TotalLen 90\n"},
        {"IPv6 out to multicast", session(1), ipv6(Peer, Own, OwnIp6, "ff02::fb"), 90, 1, 0,
         "ETH IPv6(out) 2001:db8:1::10 -> ff02::fb, HopLimit 64, Next 17, TotalLen 90\n"},
        {"IPv6 in from unique-local", session(1), ipv6(Own, Peer, "fd12::5", OwnIp6), 90, 0, 0,
         "ETH IPv6(in) fd12::5 -> 2001:db8:1::10, HopLimit 64, Next 17, TotalLen 90\n"},
        {"IPv6 in from unspecified", session(1), ipv6(Own, Peer, "::", "ff02::1:ff00:10"), 90, 0,
         0, "ETH IPv6(in) :: -> ff02::1:ff00:10, HopLimit 64, Next 17, TotalLen 90\n"},
        {"IPv6 out to loopback", session(1), ipv6(Peer, Own, OwnIp6, "::1"), 90, 1, 0,
         "ETH IPv6(out) 2001:db8:1::10 -> ::1, HopLimit 64, Next 17, TotalLen 90\n"},
        {"IPv6 in from the own prefix", session(1), ipv6(Own, Peer, PrefixHost, OwnIp6), 90, 0, 0,
         "ETH IPv6(in) 2001:db8:1::20 -> 2001:db8:1::10, HopLimit 64, Next 17, TotalLen 90\n"},
        {"IPv6 in from the own prefix, countall", session(1, 1, 1),
         ipv6(Own, Peer, PrefixHost, OwnIp6), 90, 0, 90,
         "ETH IPv6(in) 2001:db8:1::20 -> 2001:db8:1::10, HopLimit 64, Next 17, TotalLen 90\n"},
        {"IPv6 in from just past the own prefix", session(1),
         ipv6(Own, Peer, "2001:db8:1:1::20", OwnIp6), 90, 0, 90,
         "ETH IPv6(in) 2001:db8:1:1::20 -> 2001:db8:1::10, HopLimit 64, Next 17, TotalLen 90\n"},
        {"VLAN-tagged IPv4", session(1), vlan, 1518, 0, 0, ""},
        {"raw IP from us", session(101), rawIpv4(OwnIp, Remote), 1500, 1, 1500,
         "RAW IP(out) TotalLen 1500\n"},
        {"raw IP to us", session(101), rawIpv4(Remote, OwnIp), 1500, 0, 1500,
         "RAW IP(in) TotalLen 1500\n"},
        {"raw IP in the own subnet", session(101), rawIpv4(SubnetHost, OwnIp), 400, 0, 400,
         "RAW IP(in) TotalLen 400\n"},
        {"raw IP, link type 12", session(12), rawIpv4(OwnIp, Remote), 900, 1, 900,
         "RAW IP(out) TotalLen 900\n"},
        {"raw IP, link type 14", session(14), rawIpv4(Remote, OwnIp), 900, 0, 900,
         "RAW IP(in) TotalLen 900\n"},
        {"raw IP with header options", session(101), rawIpv4(Remote, OwnIp, 0x46), 900, 0, 0, ""},
        {"raw IPv6 to us", session(101), rawIpv6(Remote6, OwnIp6), 900, 0, 900,
         "RAW IPv6(in) TotalLen 900\n"},
        {"raw IPv6 from us", session(12), rawIpv6(OwnIp6, Remote6), 900, 1, 900,
         "RAW IPv6(out) TotalLen 900\n"},
        {"raw IPv6 from our link-local address", session(101), rawIpv6(OwnLinkLocal, "ff02::2"),
         60, 1, 60, "RAW IPv6(out) TotalLen 60\n"},
        {"cooked v1 IPv4 from us", session(113), cooked(1, 0x0800, rawIpv4(OwnIp, Remote)), 1516,
         1, 1500, "RAW IP(out) TotalLen 1500\n"},
        {"cooked v2 IPv4 to us", session(276), cooked(2, 0x0800, rawIpv4(Remote, OwnIp)), 1520, 0,
         1500, "RAW IP(in) TotalLen 1500\n"},
        {"cooked v1 IPv6 to us", session(113), cooked(1, 0x86dd, rawIpv6(Remote6, OwnIp6)), 1516,
         0, 1500, "RAW IPv6(in) TotalLen 1500\n"},
        {"cooked v2 IPv6 from us", session(276), cooked(2, 0x86dd, rawIpv6(OwnIp6, Remote6)), 1520,
         1, 1500, "RAW IPv6(out) TotalLen 1500\n"},
        {"cooked v1 IPv6 type, IPv4 packet", session(113),
         cooked(1, 0x86dd, rawIpv4(Remote, OwnIp)), 1516, 0, 0, ""},
        {"unknown link type", session(105), ipv4(Own, Peer, Remote, OwnIp), 1514, 0, 0, ""},
    };
}

TEST(Classifier, FramesOfEveryKind)
{
    for (Row &row : rows()) {
        SCOPED_TRACE(row.name);
        Outcome out = classify(row.info, row.frame, row.len);
        EXPECT_EQ(out.direction, row.direction);
        EXPECT_EQ(out.nrbytes, row.nrbytes);
        EXPECT_EQ(out.calls, row.nrbytes ? 1 : 0);
        EXPECT_EQ(out.stderrText, row.line);
    }
}

TEST(Classifier, VerboseLevels)
{
    for (Row &row : rows()) {
        SCOPED_TRACE(row.name);
        row.info.verbose = 0;
        EXPECT_EQ(classify(row.info, row.frame, row.len).stderrText, "");
        row.info.verbose = 2;
        std::string datalink = "datalink=" + std::to_string(row.info.datalink) +
                               ", len=" + std::to_string(row.len) + "\n";
        EXPECT_EQ(classify(row.info, row.frame, row.len).stderrText, datalink + row.line);
    }
}

TEST(Classifier, NullCallbackStillSetsFields)
{
    LIBFMSINFO info = session(1);
    info.cb = nullptr;
    Outcome out = classify(info, ipv4(Peer, Own, OwnIp, Remote), 1514);
    EXPECT_EQ(out.direction, 1);
    EXPECT_EQ(out.nrbytes, 1514u);
    EXPECT_EQ(out.calls, 0);
}

TEST(Deinit, ReportsOnlyWhenVerbose)
{
    LIBFMSINFO info = session(1, 1);
    std::strcpy(info.interface, "fmsdeinit0");
    testing::internal::CaptureStderr();
    libfms_deinit(&info);
    info.verbose = 0;
    libfms_deinit(&info);
    libfms_deinit(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Deinit, Interface fmsdeinit0 no longer monitored\n");
}

// Every frame cut short of the headers its branch reads is uncounted and
// prints no classification line; one byte more and it counts.
TEST(Classifier, TruncatedFrames)
{
    struct Case {
        const char *name;
        LIBFMSINFO info;
        Frame frame;
        uint32_t needed;
    } cases[] = {
        {"IPv4 over Ethernet", session(1), ipv4(Own, Peer, Remote, OwnIp), 34},
        {"PPPoE", session(1), testnet::etherFrame(Own, Peer, 0x8864, 64), 14},
        {"raw IP", session(101), rawIpv4(Remote, OwnIp), 20},
        {"cooked v1", session(113), cooked(1, 0x0800, rawIpv4(Remote, OwnIp)), 36},
        {"cooked v2", session(276), cooked(2, 0x0800, rawIpv4(Remote, OwnIp)), 40},
        {"IPv6 over Ethernet", session(1), ipv6(Own, Peer, Remote6, OwnIp6), 54},
        {"raw IPv6", session(101), rawIpv6(Remote6, OwnIp6), 40},
        {"cooked v1 IPv6", session(113), cooked(1, 0x86dd, rawIpv6(Remote6, OwnIp6)), 56},
    };
    for (Case &c : cases) {
        for (uint32_t caplen = 0; caplen <= c.needed; caplen++) {
            SCOPED_TRACE(std::string(c.name) + ", caplen " + std::to_string(caplen));
            Outcome out = classify(c.info, c.frame, 1514, caplen);
            bool complete = caplen == c.needed;
            EXPECT_EQ(out.nrbytes != 0, complete);
            EXPECT_EQ(out.calls, complete ? 1 : 0);
            EXPECT_EQ(out.stderrText.empty(), !complete);
        }
    }
}

} // namespace
