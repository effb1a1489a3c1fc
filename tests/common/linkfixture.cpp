#include "linkfixture.h"

#include <QTest>

#include <arpa/inet.h>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

Link::Link(const QString &cameraAddress)
{
    qputenv("V7_CAMERA_ADDRESS", cameraAddress.toLatin1());
    aktele_module_init();
    // The simulator's address both ways: passed, and in the environment as the program's runs have it.
    const QByteArray host = cameraAddress.section(QLatin1Char(':'), 0, 0).toLatin1();
    const int port = cameraAddress.section(QLatin1Char(':'), 1, 1).toInt();
    tele = aktele_alloc(AKTELE_KIND_UDP, host.constData(), port, 4096);
    if (tele)
        device = v7k_alloc(tele);
    if (tele)
        aktele_start(tele);
}

Link::~Link()
{
    if (tele) {
        aktele_stop(tele);
        aktele_free(tele);
    }
    if (device)
        v7k_free(device);
    aktele_module_exit();
}

bool Link::waitFilled(int ms)
{
    return QTest::qWaitFor(
        [this] {
            return device->statusCount > 0 && device->firmwareMajor != 0 &&
                   std::strlen(device->buildDate) >= 5 && device->serial[0] != 0 &&
                   device->workParam.mode != 0;
        },
        ms);
}

AkTeleStats Link::stats() const
{
    AkTeleStats s = {};
    aktele_get_stats(tele, &s);
    return s;
}

QByteArray frameBytes(uint8_t command, uint32_t sequence, const vived::Bytes &payload)
{
    const std::vector<uint8_t> f =
        vived::encodeFrame(command, sequence, payload.data(), payload.size());
    return QByteArray(reinterpret_cast<const char *>(f.data()), int(f.size()));
}

FakeCamera::~FakeCamera()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FakeCamera::start()
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &n) != 0)
        return false;
    m_port = ntohs(a.sin_port);
    return true;
}

bool FakeCamera::receive(uint8_t command, vived::Frame &frame)
{
    pollfd p{m_fd, POLLIN, 0};
    uint8_t buffer[2048];
    for (int datagrams = 0; datagrams < 50 && ::poll(&p, 1, 3000) > 0; ++datagrams) {
        socklen_t n = sizeof m_peer;
        const ssize_t got = ::recvfrom(m_fd, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr *>(&m_peer), &n);
        if (got > 0 && vived::decodeFrame(buffer, size_t(got), frame) == vived::DecodeResult::Ok &&
            frame.command == command)
            return true;
    }
    return false;
}

void FakeCamera::send(const QByteArray &datagram)
{
    ::sendto(m_fd, datagram.constData(), size_t(datagram.size()), 0,
             reinterpret_cast<sockaddr *>(&m_peer), sizeof m_peer);
}
