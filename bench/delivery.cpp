// SPDX-License-Identifier: MIT
// Measures capturers on a veth pair: the CPU time one spends while a steady
// frame rate flows, how long frames wait before it sees them, how many of a
// flood it sees, and how long the library's connection test takes.  Needs
// root.  Prints one line of name=value pairs per measurement.
//
// Usage: delivery [options] cpu|latency|flood SUBJECT...
//        delivery [options] discovery   (also: fds before/after, threads
//                                         before/at most/after)
// SUBJECT: libfms             the library's capture, in this process
//          immediate | MS     libpcap, immediate mode or that buffer timeout
//          batch:MS           libpcap immediate mode, pausing MS after each batch
//          pid:PID            a running process that captures (CPU only)
//          stream             a pcap stream on standard input, e.g. from
//                             tcpdump -U -w - (latency only)
// Options: --on IF PEER  capture on IF, send from PEER (default: a private
//                        namespace with its own veth pair)
//          --rate N (20000 frames/s)  --seconds S (10)  --lone N (30)
//          --gap MS (337.3)  --frames N (1000000)  --repeats N (20)
//          --source IP (198.51.100.7; one of 192.0.2.0/24 is never counted;
//                      an IPv6 one sends IPv6 frames to 2001:db8:1::1, and
//                      one of 2001:db8:1::/64 is never counted)
#include "libfms.h"
#include "testnet.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <glob.h>
#include <memory>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr size_t FrameSize = 142;
// Inside the first 64 bytes; in an IPv6 frame they overwrite the end of the
// destination address, which a download is not counted by.
constexpr size_t SeqOffset = 42;
constexpr size_t MagicOffset = 50;
constexpr char Magic[] = "FMSB";

struct Options {
    std::string capture = "fmsbench0", peer = "fmsbench1";
    std::string source = "198.51.100.7";  // 192.0.2.x: frames libfms never counts
    bool ownNamespace = true;
    double rate = 20000, seconds = 10, gapMs = 337.3;
    int lone = 30, repeats = 20;
    long frames = 1000000;
};

int64_t nowNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void sleepUntil(int64_t ns)
{
    timespec t{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

// Voluntary context switches of the tasks whose /proc directories match
// `tasks`: how often they slept and were woken again.
long wakeups(const std::string &tasks)
{
    glob_t found;
    long sum = 0;
    if (glob((tasks + "/status").c_str(), 0, nullptr, &found) != 0)
        return -1;
    for (size_t i = 0; i < found.gl_pathc; i++) {
        std::ifstream status(found.gl_pathv[i]);
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                sum += std::stol(line.substr(24));
    }
    globfree(&found);
    return sum;
}

double cpuSeconds(clockid_t clock)
{
    timespec t;
    if (clock_gettime(clock, &t) != 0)
        return -1;
    return t.tv_sec + t.tv_nsec / 1e9;
}

// When each frame of a phase was sent and seen, by its number.  Frames keep
// their order on a veth pair, so the n-th frame seen is the n-th sent.
class Tally {
public:
    // Room for the frames of the longest phase; frames beyond are counted only.
    void allocate(size_t frames)
    {
        sentAt = std::make_unique<std::atomic<int64_t>[]>(frames);
        seenAt = std::make_unique<std::atomic<int64_t>[]>(frames);
        size = frames;
    }
    void start()
    {
        sent = 0;
        seen = 0;
    }
    void sending(size_t n)
    {
        if (n < size)
            sentAt[n].store(nowNs(), std::memory_order_relaxed);
    }
    void delivered()
    {
        size_t n = seen++;
        if (n < size)
            seenAt[n].store(nowNs(), std::memory_order_relaxed);
    }
    // Delays in ms of the frames seen, sorted.
    std::vector<double> delays() const
    {
        std::vector<double> d;
        for (size_t n = 0; n < std::min<size_t>({seen, sent, size}); n++)
            d.push_back((seenAt[n] - sentAt[n]) / 1e6);
        std::sort(d.begin(), d.end());
        return d;
    }
    std::atomic<size_t> sent{0}, seen{0};

private:
    std::unique_ptr<std::atomic<int64_t>[]> sentAt, seenAt;
    size_t size = 0;
};

Tally tally;

bool isOurs(const u_char *bytes, uint32_t caplen)
{
    return caplen >= MagicOffset + 4 && std::memcmp(bytes + MagicOffset, Magic, 4) == 0;
}

// A capturer under measurement, running from construction to destruction.
class Subject {
public:
    virtual ~Subject() = default;
    virtual double cpu() = 0;  // seconds so far, -1 if unknown
    virtual bool countsFrames() { return true; }
    long wakeups() { return tasks.empty() ? -1 : ::wakeups(tasks); }

protected:
    std::string tasks;  // its tasks' /proc directories, a glob pattern
};

class PidSubject : public Subject {
public:
    explicit PidSubject(pid_t pid)
    {
        if (clock_getcpuclockid(pid, &clock) != 0)
            throw std::runtime_error("no such process: " + std::to_string(pid));
        tasks = "/proc/" + std::to_string(pid) + "/task/*";
    }
    double cpu() override { return cpuSeconds(clock); }
    bool countsFrames() override { return false; }

private:
    clockid_t clock;
};

// A subject that runs on a thread of this process.
class ThreadSubject : public Subject {
public:
    double cpu() override
    {
        clockid_t clock;
        return pthread_getcpuclockid(thread.native_handle(), &clock) == 0 ? cpuSeconds(clock)
                                                                          : -1;
    }

protected:
    template <typename Body> void start(Body body)
    {
        std::atomic<pid_t> tid{0};
        thread = std::thread([&tid, body] {
            tid = gettid();
            body();
        });
        while (tid == 0)
            std::this_thread::yield();
        tasks = "/proc/self/task/" + std::to_string(tid);
    }
    std::thread thread;
};

void onPcapFrame(u_char *, const pcap_pkthdr *h, const u_char *bytes)
{
    if (isOurs(bytes, h->caplen))
        tally.delivered();
}

// libfms's settings as libpcap offers them: a buffer timeout, immediate
// mode, or immediate mode with a pause after every batch of frames.
class PcapSubject : public ThreadSubject {
public:
    PcapSubject(const std::string &device, const std::string &mode)
    {
        char err[PCAP_ERRBUF_SIZE];
        bool batch = mode.rfind("batch:", 0) == 0;
        pd = pcap_create(device.c_str(), err);
        pcap_set_snaplen(pd, 64);
        pcap_set_promisc(pd, 1);
        if (mode == "immediate" || batch)
            pcap_set_immediate_mode(pd, 1);
        else
            pcap_set_timeout(pd, std::stoi(mode));
        if (pcap_activate(pd) < 0)
            throw std::runtime_error(std::string("pcap: ") + pcap_geterr(pd));
        int64_t pauseNs = batch ? std::stod(mode.substr(6)) * 1e6 : 0;
        start([this, pauseNs] { run(pauseNs); });
    }
    ~PcapSubject() override
    {
        stop = true;
        pcap_breakloop(pd);
        thread.join();
        pcap_close(pd);
    }

private:
    void run(int64_t pauseNs)
    {
        if (!pauseNs) {
            pcap_loop(pd, -1, onPcapFrame, nullptr);
            return;
        }
        while (!stop && pcap_dispatch(pd, -1, onPcapFrame, nullptr) >= 0)
            sleepUntil(nowNs() + pauseNs);
    }
    pcap_t *pd;
    std::atomic<bool> stop{false};
};

void onLibfmsFrame(PLIBFMSINFO)
{
    tally.delivered();
}

// The library's own capture, ended by cancelling its thread.
class LibfmsSubject : public ThreadSubject {
public:
    explicit LibfmsSubject(const std::string &device)
    {
        info.index = testnet::interfaceNumber(device);
        if (info.index < 0 || libfms_interfaceinfo(&info) != 0)
            throw std::runtime_error("libfms cannot resolve " + device);
        info.cb = onLibfmsFrame;
        start([this] { libfms_init(&info); });
    }
    ~LibfmsSubject() override
    {
        pthread_cancel(thread.native_handle());
        thread.join();
    }

private:
    LIBFMSINFO info{};
};

// Frames of a pcap stream (file format) on standard input.
class StreamSubject : public Subject {
public:
    StreamSubject()
    {
        std::thread([] {
            uint8_t header[24], record[16], data[65536];
            if (!readAll(header, sizeof header))
                return;
            while (readAll(record, sizeof record)) {
                uint32_t caplen;
                std::memcpy(&caplen, record + 8, 4);
                if (caplen > sizeof data || !readAll(data, caplen))
                    return;
                if (isOurs(data, caplen))
                    tally.delivered();
            }
        }).detach();
    }
    double cpu() override { return -1; }

private:
    static bool readAll(uint8_t *to, size_t n)
    {
        return std::fread(to, 1, n, stdin) == n;
    }
};

std::unique_ptr<Subject> makeSubject(const std::string &name, const Options &o)
{
    if (name == "libfms")
        return std::make_unique<LibfmsSubject>(o.capture);
    if (name.rfind("pid:", 0) == 0)
        return std::make_unique<PidSubject>(std::stoi(name.substr(4)));
    if (name == "stream")
        return std::make_unique<StreamSubject>();
    return std::make_unique<PcapSubject>(o.capture, name);
}

// Sends numbered test frames from the peer end.
class Sender {
public:
    explicit Sender(const Options &o)
        : peer(o.peer),
          frame(testnet::ipFrame(testnet::macOf(o.capture), testnet::macOf(o.peer),
                                 o.source.c_str(),
                                 o.source.find(':') != std::string::npos ? "2001:db8:1::1"
                                                                         : "192.0.2.1",
                                 FrameSize))
    {
        std::memcpy(frame.data() + MagicOffset, Magic, 4);
    }
    void send()
    {
        size_t n = tally.sent;
        std::memcpy(frame.data() + SeqOffset, &n, sizeof n);
        tally.sending(n);
        peer.send(frame);
        tally.sent++;
    }
    // `frames` frames at `rate` per second, in bursts once a millisecond.
    void steady(size_t frames, double rate)
    {
        int64_t start = nowNs();
        for (int64_t tick = start; tally.sent < frames; tick += 1000000) {
            size_t due = std::min<size_t>(frames, (tick - start) * rate / 1e9 + 1);
            while (tally.sent < due)
                send();
            sleepUntil(tick + 1000000);
        }
    }
    void lone(int frames, double gapMs)
    {
        for (int i = 0; i < frames; i++) {
            send();
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(gapMs));
        }
    }

private:
    testnet::PacketSocket peer;
    testnet::Frame frame;
};

// Until the subject sees frames (at most 3 s); a process that captures gets 1 s.
void waitUntilCapturing(Subject &subject, Sender &sender)
{
    if (!subject.countsFrames()) {
        std::this_thread::sleep_for(1s);
        return;
    }
    tally.start();
    for (int i = 0; i < 30 && tally.seen == 0; i++) {
        sender.send();
        std::this_thread::sleep_for(100ms);
    }
}

// Time for the last frames to reach a subject that hands them over late.
void settle()
{
    std::this_thread::sleep_for(1500ms);
}

std::string seenText(Subject &subject)
{
    return subject.countsFrames() ? std::to_string(tally.seen) : "-";
}

void measureCpu(Subject &subject, Sender &sender, const Options &o)
{
    size_t frames = o.rate * o.seconds;
    tally.start();
    double before = subject.cpu();
    long woken = subject.wakeups();
    sender.steady(frames, o.rate);
    settle();
    std::printf("cpu_s=%.4f wakeups=%ld seen=%s sent=%zu\n", subject.cpu() - before,
                subject.wakeups() - woken, seenText(subject).c_str(), frames);
}

// "PREFIXmedian_ms=M PREFIXmax_ms=N" of sorted delays.
std::string spread(const std::vector<double> &d, const std::string &prefix = "")
{
    char text[32];
    std::string median = "-", max = "-";
    if (!d.empty()) {
        std::snprintf(text, sizeof text, "%.2f", d[d.size() / 2]);
        median = text;
        std::snprintf(text, sizeof text, "%.2f", d.back());
        max = text;
    }
    return prefix + "median_ms=" + median + " " + prefix + "max_ms=" + max;
}

void measureLatency(Subject &, Sender &sender, const Options &o)
{
    tally.start();
    sender.lone(o.lone, o.gapMs);
    settle();
    std::string lone = spread(tally.delays(), "lone_");
    size_t frames = o.rate * o.seconds;
    tally.start();
    sender.steady(frames, o.rate);
    settle();
    std::printf("%s %s load_seen=%zu load_sent=%zu\n", lone.c_str(),
                spread(tally.delays(), "load_").c_str(), tally.seen.load(), frames);
}

void measureFlood(Subject &subject, Sender &sender, const Options &o)
{
    tally.start();
    int64_t start = nowNs();
    while (tally.sent < static_cast<size_t>(o.frames))
        sender.send();
    double seconds = (nowNs() - start) / 1e9;
    settle();
    std::printf("sent=%ld rate=%.0f seen=%s\n", o.frames, o.frames / seconds,
                seenText(subject).c_str());
}

void measureDiscovery(const Options &o)
{
    LIBFMSINFO info{};
    std::snprintf(info.interface, sizeof info.interface, "%s", o.capture.c_str());
    testnet::Mac mac = testnet::macOf(o.capture);
    std::memcpy(info.ownmac, mac.data(), mac.size());
    std::vector<double> ms;
    int result = 0;
    const int fds = testnet::openFdCount(), threads = testnet::threadCount();
    int peak = threads;
    for (int i = 0; i < o.repeats; i++) {
        int64_t start = nowNs();
        result = libfms_testodsl(&info);
        ms.push_back((nowNs() - start) / 1e6);
        peak = std::max(peak, testnet::threadCount());
    }
    // The sockets are closed by threads of their own, a few ms later.
    for (int i = 0; i < 100 && testnet::threadCount() > threads; i++)
        std::this_thread::sleep_for(10ms);
    std::sort(ms.begin(), ms.end());
    std::printf("%s result=%d fds=%d/%d threads=%d/%d/%d\n", spread(ms).c_str(), result, fds,
                testnet::openFdCount(), threads, peak, testnet::threadCount());
}

using Measure = void (*)(Subject &, Sender &, const Options &);

Measure measureNamed(const std::string &command)
{
    if (command == "cpu")
        return measureCpu;
    if (command == "latency")
        return measureLatency;
    if (command == "flood")
        return measureFlood;
    throw std::runtime_error("unknown command " + command);
}

Options parse(int &argc, char **&argv)
{
    Options o;
    for (; argc > 1 && std::strncmp(argv[1], "--", 2) == 0; argc -= 2, argv += 2) {
        std::string name = argv[1], value = argc > 2 ? argv[2] : "";
        if (name == "--on" && argc > 3) {
            o.capture = value;
            o.peer = argv[3];
            o.ownNamespace = false;
            argc--, argv++;
        } else if (name == "--source") {
            o.source = value;
        } else if (name == "--rate") {
            o.rate = std::stod(value);
        } else if (name == "--seconds") {
            o.seconds = std::stod(value);
        } else if (name == "--gap") {
            o.gapMs = std::stod(value);
        } else if (name == "--lone") {
            o.lone = std::stoi(value);
        } else if (name == "--frames") {
            o.frames = std::stol(value);
        } else if (name == "--repeats") {
            o.repeats = std::stoi(value);
        } else {
            throw std::runtime_error("unknown option " + name);
        }
    }
    return o;
}

int run(int argc, char **argv)
{
    Options o = parse(argc, argv);
    if (argc < 2)
        throw std::runtime_error("usage: delivery [options] cpu|latency|flood SUBJECT... "
                                 "| discovery");
    if (o.ownNamespace) {
        if (!testnet::enterPrivateNamespace())
            throw std::runtime_error("needs root (a private network namespace)");
        testnet::addVeth(o.capture, "192.0.2.1/24", o.peer, "");
        testnet::addIpv6(o.capture, "2001:db8:1::1/64");
    }
    std::string command = argv[1];
    if (command == "discovery") {
        measureDiscovery(o);
        return 0;
    }
    Measure measure = measureNamed(command);
    tally.allocate(std::max<size_t>(o.rate * o.seconds, o.lone));
    Sender sender(o);
    for (int i = 2; i < argc; i++) {
        std::unique_ptr<Subject> subject = makeSubject(argv[i], o);
        waitUntilCapturing(*subject, sender);
        std::printf("%s ", argv[i]);
        measure(*subject, sender, o);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "delivery: %s\n", e.what());
        return 1;
    }
}
