#pragma once

#include "camsimprocess.h"
#include "frame.h"
#include "protocol.h"
#include "v7k.h"

#include <QString>

#include <netinet/in.h>

// The library's handles, pointed at a simulator through V7_CAMERA_ADDRESS and started.
class Link
{
public:
    explicit Link(const CamsimProcess &sim) : Link(sim.address()) {}
    explicit Link(const QString &cameraAddress);
    ~Link();
    bool ok() const { return tele && device; }
    // Waits until version, serial, build date and work parameters are in the context.
    bool waitFilled(int ms = 5000);
    AkTeleStats stats() const;

    AkTele *tele = nullptr;
    v7k_context *device = nullptr;
};

QByteArray frameBytes(uint8_t command, uint32_t sequence, const vived::Bytes &payload);

// A camera played by the test on a loopback port, for datagrams no honest camera sends (or
// for none at all).
class FakeCamera
{
public:
    ~FakeCamera();
    bool start();
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // Waits for a request of this command, skipping others (retransmissions, start-up asks).
    bool receive(uint8_t command, vived::Frame &frame);
    void send(const QByteArray &datagram);
    void send(uint8_t command, uint32_t sequence, const vived::Bytes &payload)
    {
        send(frameBytes(command, sequence, payload));
    }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    sockaddr_in m_peer = {};
};
