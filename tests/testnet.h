// SPDX-License-Identifier: MIT
// Test networks: a private network namespace for the test process, veth
// pairs inside it, and raw frames sent from either end.  Everything lives in
// the process's own namespace, so it disappears when the process ends.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testnet {

using Mac = std::array<uint8_t, 6>;
using Frame = std::vector<uint8_t>;

// Moves the calling process into a new network namespace with lo up.
// Call at the start of main(), before any thread exists.  Needs root.
bool enterPrivateNamespace();

// Runs a shell command; throws std::runtime_error when it fails.
void run(const std::string &command);

// Creates a veth pair a <-> b, both up; address is "ip/prefix" or empty.
void addVeth(const std::string &a, const std::string &addressA,
             const std::string &b, const std::string &addressB);

// Enables IPv6 on the interface without the kernel's own traffic (no
// link-local address, no router solicitation, its multicast reports over at
// once) and adds address ("ip/prefix") without duplicate address detection.
void addIpv6(const std::string &interface, const std::string &address);

Mac macOf(const std::string &interface);

// Sets the interface up or down, without starting a program: quick enough
// for thousands of cycles.
void setLinkUp(const std::string &interface, bool up);

// The number under which libfms_interfaceinfo finds the interface, or -1.
int interfaceNumber(const std::string &interface);

// IPv4 frame of `size` bytes (>= 34) with a plain 20-byte header.
Frame ipv4Frame(const Mac &dst, const Mac &src, const char *srcIp, const char *dstIp,
                size_t size);

// IPv6 frame of `size` bytes (>= 54); `next` is the header after the fixed one.
Frame ipv6Frame(const Mac &dst, const Mac &src, const char *srcIp, const char *dstIp,
                size_t size, uint8_t next = 17);

// An IPv6 frame where the addresses are IPv6 ones, else an IPv4 frame.
Frame ipFrame(const Mac &dst, const Mac &src, const char *srcIp, const char *dstIp, size_t size);

// The packet inside an Ethernet frame, as a raw-IP link carries it.
Frame withoutEthernet(const Frame &frame);

// A frame of `size` bytes with the given EtherType and zero payload.
Frame etherFrame(const Mac &dst, const Mac &src, uint16_t etherType, size_t size);

// Sends whole link-level frames out of one interface.
class PacketSocket {
public:
    explicit PacketSocket(const std::string &interface);
    ~PacketSocket();
    PacketSocket(const PacketSocket &) = delete;
    PacketSocket &operator=(const PacketSocket &) = delete;
    void send(const Frame &frame);

private:
    int fd = -1;
    int ifindex = 0;
};

// A tun device (raw IP, no packet information) while the object lives, up,
// with the given IPv4 and IPv6 addresses; a packet written into it arrives
// on the device as if from the far end.
class Tun {
public:
    Tun(const std::string &name, const std::string &ipv4, const std::string &ipv6);
    ~Tun();
    Tun(const Tun &) = delete;
    Tun &operator=(const Tun &) = delete;
    void write(const Frame &packet);

private:
    int fd = -1;
};

// Sends `marker` every 20 ms, at most 100 times, until `counted` holds, then
// leaves 50 ms for frames still on their way; whether `counted` held.
bool sendUntilCounted(PacketSocket &socket, const Frame &marker,
                      const std::function<bool()> &counted);
// The same with any way of sending the marker.
bool sendUntilCounted(const std::function<void()> &sendMarker,
                      const std::function<bool()> &counted);

// Records the frames of one EtherType that cross an interface, in and out,
// on a thread of its own while it lives.
class FrameRecorder {
public:
    FrameRecorder(const std::string &interface, uint16_t etherType);
    ~FrameRecorder();
    FrameRecorder(const FrameRecorder &) = delete;
    FrameRecorder &operator=(const FrameRecorder &) = delete;
    std::vector<Frame> frames();

private:
    struct State;
    State *state;
};

// Starts a program (argv[0] is looked up on the PATH); returns its PID.
int startProcess(const std::vector<std::string> &argv);
// Stops a program started by startProcess and reaps it.
void stopProcess(int pid);

// Open file descriptors and threads of this process.
int openFdCount();
int threadCount();
long residentKiB();
// How often a thread of this process went to sleep and was woken.
long wakeups(int tid);

} // namespace testnet
