// The UDP link to one camera: socket, receive thread, request retransmission and the dispatch
// of answers to the device and the upgrader.
#pragma once

#include "frame.h"
#include "protocol.h"
#include "v7k.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <netinet/in.h>

namespace vived {

class Device;
class Upgrader;

// Counters of what arrived and what was thrown away; read by tests and v7tool.
struct LinkStats
{
    uint32_t framesReceived = 0;    // valid frames, the same count that feeds the receive counter
    uint32_t framesDropped = 0;     // every datagram refused, by any reason below
    uint32_t badFrames = 0;         // magic, version, length or CRC wrong
    uint32_t unknownCommands = 0;
    uint32_t badPayloads = 0;       // a known command whose payload does not decode
    uint32_t unexpectedReplies = 0; // no request waits for it, or it does not fit the request
    uint32_t requestsSent = 0;
    uint32_t retransmissions = 0;
    uint32_t timeouts = 0;
};

// Socket, receive thread and waiting requests of one camera link.
class Transport : public AkTele
{
public:
    // Called first on the receive thread (aktele_set_thread_start).
    static std::atomic<void (*)(const char *)> threadStart;

    using ReplyHandler = std::function<void(const Frame &reply)>;
    using TimeoutHandler = std::function<void()>;

    static Transport *create(const char *address, int port, int bufferSize);
    ~Transport();

    bool start();
    void stop();

    // Sends a request and repeats it every intervalMs until a reply with its sequence number
    // arrives (handler runs on the receive thread, also for a CmdError answer) or the tries
    // are used up (onTimeout). Returns the sequence number, 0 when it could not be sent.
    uint32_t request(uint8_t command, const Bytes &payload, ReplyHandler onReply, int tries = 8,
                     int intervalMs = 250, TimeoutHandler onTimeout = {});
    // Runs fn on the receive thread (dispatch lock held) after ms milliseconds.
    void after(int ms, std::function<void()> fn);
    // Forgets a waiting request; a late answer then counts as unexpected.
    void forget(uint32_t sequence);

    // The device whose context the status frames feed. Detaching waits for a running dispatch
    // and forgets every waiting request.
    void attachDevice(Device *device);
    void detachDevice(Device *device);

    // A new upgrader owned by the transport, alive until the transport is freed.
    Upgrader *newUpgrader();

    // The POS manager's activity field shows a running upgrade to the link's heartbeat.
    void markUpgrade(bool running);
    void upgradeProgressed();

    // Feeds one datagram as if it had arrived from the camera, and lists the sequence numbers
    // of the waiting requests: the seam through which the link's fuzz target drives dispatch.
    void deliver(const uint8_t *data, size_t size) { handleDatagram(data, size); }
    std::vector<uint32_t> waitingSequences();

    void countUnexpected()
    {
        ++m_stats.unexpectedReplies;
        ++m_stats.framesDropped;
    }
    void countBadPayload() { ++m_stats.badPayloads; }
    LinkStats stats() const;
    // Guards everything the receive thread changes in the device and the upgraders.
    std::recursive_mutex &dispatchMutex() { return m_dispatch; }

private:
    using Clock = std::chrono::steady_clock;
    struct Pending
    {
        uint8_t command;
        std::vector<uint8_t> datagram;
        ReplyHandler onReply;
        TimeoutHandler onTimeout;
        int triesLeft;
        std::chrono::milliseconds interval;
        Clock::time_point nextSend;
    };

    Transport() = default;
    void run();
    void handleDatagram(const uint8_t *data, size_t size);
    void serviceTimers();
    void send(const std::vector<uint8_t> &datagram);

    int m_socket = -1;
    sockaddr_in m_peer = {};
    size_t m_bufferSize = 4096;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::mutex m_pendingMutex;
    std::map<uint32_t, Pending> m_pending;
    std::vector<std::pair<Clock::time_point, std::function<void()>>> m_timers;
    uint32_t m_nextSequence = 1;
    std::recursive_mutex m_dispatch;
    Device *m_device = nullptr;
    std::vector<std::unique_ptr<Upgrader>> m_upgraders;
    struct AtomicStats
    {
        std::atomic<uint32_t> framesReceived{0}, framesDropped{0}, badFrames{0},
            unknownCommands{0}, badPayloads{0}, unexpectedReplies{0}, requestsSent{0},
            retransmissions{0}, timeouts{0};
    } m_stats;
};

} // namespace vived
