// SPDX-License-Identifier: MIT
// The PPPoE discovery test against a real access concentrator (pppoe-server)
// and against a peer that sends crafted discovery frames, on veth pairs in
// the test's own network namespace.  Needs root and the pppoe package.
#include "libfms.h"
#include "testnet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <grp.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testnet::Frame;
using testnet::Mac;

const Mac Broadcast = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
const Mac Stranger = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

// Our end and the concentrator's end of each link; the second one has a
// name of 15 characters, as USB adapters' names have.
struct Link {
    const char *local;
    const char *peer;
};
const Link Short{"fmsdsl0", "fmsac0"};
const Link Long{"enx0a1b2c3d4e5f", "fmsac1"};

LIBFMSINFO session(const Link &link, int verbose = 1)
{
    LIBFMSINFO info{};
    std::strcpy(info.interface, link.local);
    Mac mac = testnet::macOf(link.local);
    std::memcpy(info.ownmac, mac.data(), 6);
    info.verbose = verbose;
    return info;
}

struct Outcome {
    int result;
    double seconds;
    std::string stderrText;
};

Outcome test(LIBFMSINFO info)
{
    testing::internal::CaptureStderr();
    auto start = Clock::now();
    int result = libfms_testodsl(&info);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return {result, seconds, testing::internal::GetCapturedStderr()};
}

// A discovery frame: Ethernet header, PPPoE header with the given code and
// length field, then `payload` zero bytes.
Frame discovery(const Mac &dst, const Mac &src, uint8_t code, uint16_t length, size_t payload)
{
    Frame f = testnet::etherFrame(dst, src, 0x8863, 20 + payload);
    f[14] = 0x11;
    f[15] = code;
    f[18] = length >> 8;
    f[19] = length & 0xff;
    return f;
}

// pppoe-server answering on the peer end while it lives.
class Concentrator {
public:
    explicit Concentrator(const Link &link)
        : pid(testnet::startProcess(
              {"pppoe-server", "-F", "-I", link.peer, "-C", "fms-test-ac", "-S", "fms-test"}))
    {
        for (int i = 0; i < 50 && !answers(link); i++)
            std::this_thread::sleep_for(50ms);
    }
    ~Concentrator() { testnet::stopProcess(pid); }

private:
    static bool answers(const Link &link)
    {
        LIBFMSINFO info = session(link, 0);
        return libfms_testodsl(&info) == 0;
    }
    int pid;
};

// Sends the given frames from the peer end, over and over, while it lives.
class Flood {
public:
    Flood(const Link &link, std::vector<Frame> frames, std::chrono::milliseconds every)
        : thread([this, peer = std::string(link.peer), frames, every] {
              testnet::PacketSocket out(peer);
              while (!stop) {
                  for (const Frame &f : frames)
                      out.send(f);
                  std::this_thread::sleep_for(every);
              }
          })
    {
    }
    ~Flood()
    {
        stop = true;
        thread.join();
    }

private:
    std::atomic<bool> stop{false};
    std::thread thread;
};

class Discovery : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (const Link &link : {Short, Long})
            testnet::addVeth(link.local, "", link.peer, "");
    }
};

TEST_F(Discovery, ConcentratorAnswers)
{
    for (const Link &link : {Short, Long}) {
        SCOPED_TRACE(link.local);
        Concentrator ac(link);
        Outcome out = test(session(link));
        EXPECT_EQ(out.result, 0);
        EXPECT_LT(out.seconds, 0.5);
        EXPECT_EQ(out.stderrText, "");
        std::printf("%s: PADI to PADO %.2f ms\n", link.local, out.seconds * 1000);
    }
}

// With nobody answering: one PADI, exactly as laid out, then -11 after a second.
TEST_F(Discovery, NoConcentratorOnePadiThenTimeout)
{
    for (const Link &link : {Short, Long}) {
        SCOPED_TRACE(link.local);
        testnet::FrameRecorder wire(link.peer, 0x8863);
        std::this_thread::sleep_for(50ms);
        Outcome out = test(session(link));
        EXPECT_EQ(out.result, -11);
        EXPECT_GT(out.seconds, 0.95);
        EXPECT_LT(out.seconds, 1.2);
        EXPECT_EQ(out.stderrText, "Error time out while waiting for PADO\n");

        std::this_thread::sleep_for(50ms);
        std::vector<Frame> frames = wire.frames();
        ASSERT_EQ(frames.size(), 1u);
        Mac own = testnet::macOf(link.local);
        Frame want = discovery(Broadcast, own, 0x09, 16, 16);
        const uint8_t tags[] = {0x01, 0x01, 0x00, 0x00, 0x01, 0x03, 0x00, 0x08};
        std::copy(std::begin(tags), std::end(tags), want.begin() + 20);
        std::copy(own.begin(), own.end(), want.begin() + 28);
        want[34] = 0x46;
        want[35] = 0x4d;
        EXPECT_EQ(frames[0], want);
    }
}

// Foreign discovery traffic several times a second never holds the test
// beyond its second, and no malformed or foreign offer is taken.
TEST_F(Discovery, ForeignAndBrokenFramesAreIgnored)
{
    Mac own = testnet::macOf(Short.local);
    Frame overlong = discovery(own, Stranger, 0x07, 40, 16);  // claims more than it has
    Frame tooShort = discovery(own, Stranger, 0x07, 0, 0);
    tooShort.resize(16);
    Flood flood(Short,
                {discovery(Broadcast, Stranger, 0x09, 0, 0),          // someone's PADI
                 discovery(Stranger, Stranger, 0x07, 0, 0),           // offer to another
                 discovery(own, Stranger, 0x19, 0, 0),                // not an offer
                 overlong, tooShort},
                100ms);
    Outcome out = test(session(Short));
    EXPECT_EQ(out.result, -11);
    EXPECT_LT(out.seconds, 1.2);
    std::printf("under a discovery flood: -11 after %.3f s\n", out.seconds);
}

TEST_F(Discovery, OfferAmidForeignFramesIsTaken)
{
    Mac own = testnet::macOf(Short.local);
    Flood flood(Short,
                {discovery(Broadcast, Stranger, 0x09, 0, 0), discovery(own, Stranger, 0x07, 4, 4)},
                100ms);
    EXPECT_EQ(test(session(Short)).result, 0);
}

// The socket listens on the tested interface alone: an offer to our address
// that arrives on another interface is not taken.
TEST_F(Discovery, OfferOnAnotherInterfaceIsIgnored)
{
    Mac own = testnet::macOf(Short.local);
    Flood flood(Long, {discovery(own, Stranger, 0x07, 4, 4)}, 100ms);
    EXPECT_EQ(test(session(Short)).result, -11);
}

TEST_F(Discovery, UnknownInterface)
{
    for (const char *name : {"nosuchif0", "nosuchinterface"}) {
        SCOPED_TRACE(name);
        LIBFMSINFO info{};
        std::strcpy(info.interface, name);
        info.verbose = 1;
        Outcome out = test(info);
        EXPECT_EQ(out.result, -9);
        EXPECT_EQ(out.stderrText, std::string("Error bind socket ('") + name + "' -1)\n");
        info.verbose = 0;
        EXPECT_EQ(test(info).stderrText, "");
    }
}

TEST_F(Discovery, UnterminatedInterfaceName)
{
    LIBFMSINFO info{};
    std::memset(info.interface, 'x', sizeof info.interface);
    info.verbose = 1;
    Outcome out = test(info);
    EXPECT_EQ(out.result, -9);
    EXPECT_EQ(out.stderrText, "Error bind socket ('" + std::string(255, 'x') + "' -1)\n");
}

TEST_F(Discovery, WithoutNetRaw)
{
    for (int verbose : {1, 0}) {
        LIBFMSINFO info = session(Short, verbose);
        fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            if (setgroups(0, nullptr) || setresgid(65534, 65534, 65534) ||
                setresuid(65534, 65534, 65534))
                _exit(99);
            Outcome out = test(info);
            std::string want = verbose ? "Error creating raw socket. No root privileges?\n" : "";
            _exit(out.result == -2 && out.stderrText == want ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "verbose " << verbose;
    }
}

// However many tests run, their sockets are closed a moment later by a few
// threads at a time, which then end.
TEST_F(Discovery, SocketsAreClosed)
{
    std::this_thread::sleep_for(100ms);  // for the closes of earlier tests
    const int fds = testnet::openFdCount(), threads = testnet::threadCount();
    LIBFMSINFO unknown{};
    std::strcpy(unknown.interface, "nosuchif0");
    test(unknown);
    test(session(Short));
    int offers = 0, most = threads;
    {
        Concentrator ac(Short);
        LIBFMSINFO info = session(Short, 0);
        for (int i = 0; i < 1000; i++) {
            offers += libfms_testodsl(&info) == 0;
            most = std::max(most, testnet::threadCount());
        }
    }
    for (int i = 0; i < 100 && testnet::threadCount() > threads; i++)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(offers, 1000);
    EXPECT_LE(most - threads, 16);  // 8 closing, a few more ending
    EXPECT_EQ(testnet::openFdCount(), fds);
    EXPECT_EQ(testnet::threadCount(), threads);
}

} // namespace
