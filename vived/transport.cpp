#include "transport.h"

#include "device.h"
#include "postransfer.h"
#include "upgrader.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace vived {

namespace {
// "host:port" from V7_CAMERA_ADDRESS replaces the address the program passes, so that tests
// and the demo reach a simulator on loopback and never the real camera address.
bool parseOverride(std::string &host, int &port)
{
    const char *env = std::getenv("V7_CAMERA_ADDRESS");
    if (!env || !*env)
        return false;
    const std::string text(env);
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    char *end = nullptr;
    const long p = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end || p <= 0 || p > 65535)
        return false;
    host = text.substr(0, colon);
    port = int(p);
    return true;
}
// An IPv4 address, or a host name with an IPv4 address ("localhost" in a test's environment).
bool resolve(const std::string &host, uint16_t port, sockaddr_in &out)
{
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &out.sin_addr) == 1)
        return true;
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    out.sin_addr = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}
} // namespace

Transport *Transport::create(const char *address, int port, int bufferSize)
{
    std::string host = address ? address : "";
    if (!parseOverride(host, port) && std::getenv("V7_CAMERA_ADDRESS")) {
        std::fprintf(stderr, "vived: V7_CAMERA_ADDRESS is not host:port, refusing to start\n");
        return nullptr;
    }
    sockaddr_in peer = {};
    if (port <= 0 || port > 65535 || !resolve(host, uint16_t(port), peer))
        return nullptr;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    // A connected socket only hears the camera's own address and port.
    if (::connect(fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer) != 0) {
        ::close(fd);
        return nullptr;
    }
    auto *t = new Transport;
    // A fresh start value keeps a camera that remembers recent sequence numbers from taking a
    // new link's first requests for repeats of an old one.
    std::random_device random;
    t->m_nextSequence = (uint32_t(random()) & 0x7fffffffu) | 1u;
    t->state = AKTELE_STATE_IDLE;
    t->m_socket = fd;
    t->m_peer = peer;
    t->m_bufferSize = size_t(std::max(bufferSize, int(kMaxFrameSize) + 64));
    return t;
}

Transport::~Transport()
{
    stop();
    {
        std::lock_guard<std::recursive_mutex> lock(m_dispatch);
        if (m_device)
            m_device->transportGone();
        m_device = nullptr;
        m_upgraders.clear();
    }
    if (m_socket >= 0)
        ::close(m_socket);
}

std::atomic<void (*)(const char *)> Transport::threadStart{nullptr};

bool Transport::start()
{
    if (m_running.exchange(true))
        return true;
    if (state != AKTELE_STATE_UPGRADE_FAILED)
        state = AKTELE_STATE_RUNNING;
    m_thread = std::thread([this] {
        if (void (*const started)(const char *) = threadStart.load())
            started("camera link");
        run();
    });
    std::lock_guard<std::recursive_mutex> lock(m_dispatch);
    if (m_device)
        m_device->linkStarted();
    return true;
}

void Transport::stop()
{
    if (!m_running.exchange(false))
        return;
    if (m_thread.joinable())
        m_thread.join();
    if (state == AKTELE_STATE_RUNNING)
        state = AKTELE_STATE_IDLE;
}

uint32_t Transport::request(uint8_t command, const Bytes &payload, ReplyHandler onReply, int tries,
                            int intervalMs, TimeoutHandler onTimeout)
{
    std::vector<uint8_t> datagram;
    uint32_t sequence;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        sequence = m_nextSequence++;
        if (m_nextSequence == 0)
            m_nextSequence = 1;
        datagram = encodeFrame(command, sequence, payload.data(), payload.size());
        if (datagram.empty())
            return 0;
        Pending p{command,
                  datagram,
                  std::move(onReply),
                  std::move(onTimeout),
                  std::max(tries, 1),
                  std::chrono::milliseconds(std::max(intervalMs, 10)),
                  {}};
        p.nextSend = Clock::now() + p.interval;
        --p.triesLeft;
        m_pending.emplace(sequence, std::move(p));
    }
    ++m_stats.requestsSent;
    send(datagram);
    return sequence;
}

void Transport::after(int ms, std::function<void()> fn)
{
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_timers.emplace_back(Clock::now() + std::chrono::milliseconds(ms), std::move(fn));
}

std::vector<uint32_t> Transport::waitingSequences()
{
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    std::vector<uint32_t> sequences;
    for (const auto &entry : m_pending)
        sequences.push_back(entry.first);
    return sequences;
}

void Transport::forget(uint32_t sequence)
{
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_pending.erase(sequence);
}

void Transport::attachDevice(Device *device)
{
    std::lock_guard<std::recursive_mutex> lock(m_dispatch);
    m_device = device;
}

void Transport::detachDevice(Device *device)
{
    std::lock_guard<std::recursive_mutex> lock(m_dispatch);
    if (m_device != device)
        return;
    m_device = nullptr;
    std::lock_guard<std::mutex> pendingLock(m_pendingMutex);
    m_pending.clear();
}

Upgrader *Transport::newUpgrader()
{
    std::lock_guard<std::recursive_mutex> lock(m_dispatch);
    m_upgraders.push_back(std::make_unique<Upgrader>(this));
    return m_upgraders.back().get();
}

void Transport::markUpgrade(bool running)
{
    std::lock_guard<std::recursive_mutex> lock(m_dispatch);
    if (!m_device)
        return;
    PosFileManager *m = m_device->posTransfer()->manager();
    if (running)
        m->activity = POSFILE_ACTIVITY_UPGRADE;
    else if (m->activity == POSFILE_ACTIVITY_UPGRADE)
        m->activity = POSFILE_ACTIVITY_IDLE;
}

void Transport::upgradeProgressed()
{
    std::lock_guard<std::recursive_mutex> lock(m_dispatch);
    if (m_device)
        ++m_device->posTransfer()->manager()->progress;
}

LinkStats Transport::stats() const
{
    LinkStats s;
    s.framesReceived = m_stats.framesReceived;
    s.framesDropped = m_stats.framesDropped;
    s.badFrames = m_stats.badFrames;
    s.unknownCommands = m_stats.unknownCommands;
    s.badPayloads = m_stats.badPayloads;
    s.unexpectedReplies = m_stats.unexpectedReplies;
    s.requestsSent = m_stats.requestsSent;
    s.retransmissions = m_stats.retransmissions;
    s.timeouts = m_stats.timeouts;
    return s;
}

void Transport::send(const std::vector<uint8_t> &datagram)
{
    // A refused send (no route, camera port closed) is the same as a lost datagram: the
    // retransmission covers it.
    (void)::send(m_socket, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void Transport::run()
{
    std::vector<uint8_t> buffer(m_bufferSize);
    while (m_running) {
        pollfd pfd{m_socket, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, 20);
        if (ready > 0 && (pfd.revents & POLLIN)) {
            for (int burst = 0; burst < 256; ++burst) {
                const ssize_t n =
                    ::recv(m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
                if (n < 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK)
                        break;
                    continue; // ECONNREFUSED from an earlier send: nothing listens yet
                }
                if (size_t(n) > buffer.size()) { // truncated: longer than any frame
                    ++m_stats.framesDropped;
                    ++m_stats.badFrames;
                    continue;
                }
                handleDatagram(buffer.data(), size_t(n));
            }
        }
        serviceTimers();
    }
}

void Transport::handleDatagram(const uint8_t *data, size_t size)
{
    Frame frame;
    const DecodeResult result = decodeFrame(data, size, frame);
    if (result != DecodeResult::Ok) {
        ++m_stats.framesDropped;
        if (result == DecodeResult::UnknownCommand)
            ++m_stats.unknownCommands;
        else
            ++m_stats.badFrames;
        return;
    }
    if (isRequest(frame.command) || !decodeAnyPayload(frame.command, frame.payload)) {
        ++m_stats.framesDropped;
        ++m_stats.badPayloads;
        return;
    }
    ++m_stats.framesReceived;
    std::lock_guard<std::recursive_mutex> lock(m_dispatch);
    if (m_device)
        m_device->frameArrived();
    if (frame.command == CmdStatus) {
        if (m_device)
            m_device->statusArrived(frame);
        return;
    }
    ReplyHandler handler;
    {
        std::lock_guard<std::mutex> pendingLock(m_pendingMutex);
        auto it = m_pending.find(frame.sequence);
        const bool fits =
            it != m_pending.end() &&
            (frame.command == CmdError || frame.command == (it->second.command | kReplyBit));
        if (!fits) {
            countUnexpected();
            return;
        }
        handler = std::move(it->second.onReply);
        m_pending.erase(it);
    }
    if (handler)
        handler(frame);
}

void Transport::serviceTimers()
{
    const auto now = Clock::now();
    std::vector<std::vector<uint8_t>> resend;
    std::vector<TimeoutHandler> expired;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        for (auto it = m_timers.begin(); it != m_timers.end();) {
            if (it->first <= now) {
                expired.push_back(std::move(it->second));
                it = m_timers.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            Pending &p = it->second;
            if (p.nextSend > now) {
                ++it;
                continue;
            }
            if (p.triesLeft <= 0) {
                ++m_stats.timeouts;
                expired.push_back(std::move(p.onTimeout));
                it = m_pending.erase(it);
                continue;
            }
            --p.triesLeft;
            p.nextSend = now + p.interval;
            resend.push_back(p.datagram);
            ++it;
        }
    }
    for (const auto &d : resend) {
        ++m_stats.retransmissions;
        send(d);
    }
    if (expired.empty())
        return;
    std::lock_guard<std::recursive_mutex> lock(m_dispatch);
    for (auto &handler : expired) {
        if (handler)
            handler();
    }
}

} // namespace vived
