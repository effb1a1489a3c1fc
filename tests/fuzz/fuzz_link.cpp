// Drives the library's dispatch with hostile answers to requests that really wait: context
// fields, slot descriptions, POS chunks written into tables, upgrade answers.
#include "device.h"
#include "postransfer.h"
#include "protocol.h"
#include "transport.h"

#include <cstdio>
#include <cstdlib>

#include <arpa/inet.h>
#include <sys/socket.h>

using namespace vived;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The requests go to a loopback port this process holds and never reads.
    static const uint16_t port = [] {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            std::abort();
        return ntohs(address.sin_port);
    }();
    unsetenv("V7_CAMERA_ADDRESS");
    Transport *t = Transport::create("127.0.0.1", port, 4096);
    if (!t)
        return 0;
    auto *device = new Device(t);
    t->attachDevice(device);
    device->requestVersion();
    device->requestBuildDate();
    device->requestWorkParam();
    device->shutter();
    WorkParam p = {};
    p.mode = 2;
    device->setWorkParam(p);
    PosTransfer *pos = device->posTransfer();
    for (int slot = 1; slot <= 3; ++slot)
        pos->infoRequest(slot);
    PosFileManager *m = pos->manager();
    m->independentPos = 1;
    for (int i = 0; i < POSFILE_LENS_COUNT; ++i)
        m->lensFile[i] = std::fopen("/dev/null", "w");
    pos->fileRequest(0x21, "/dev/null", 52 * 40 + 7, 52, false);
    pos->success(0x21);

    // Each piece: selector (1), length (2, big-endian), bytes. A selector with bit 7 makes the
    // bytes a command and payload sealed into a valid frame that answers a waiting request; without
    // it the bytes are a raw datagram.
    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t selector = data[at];
        const size_t length =
            std::min<size_t>(size_t(data[at + 1]) << 8 | data[at + 2], size - at - 3);
        const uint8_t *piece = data + at + 3;
        at += 3 + length;
        if (!(selector & 0x80) || length == 0) {
            t->deliver(piece, length);
            continue;
        }
        const std::vector<uint32_t> waiting = t->waitingSequences();
        const uint32_t sequence = waiting.empty() ? selector : waiting[selector % waiting.size()];
        const std::vector<uint8_t> frame = encodeFrame(piece[0], sequence, piece + 1, length - 1);
        if (!frame.empty())
            t->deliver(frame.data(), frame.size());
    }
    const v7k_context *c = device->context();
    if (c->serial[sizeof c->serial - 1] != 0 || c->buildDate[sizeof c->buildDate - 1] != 0)
        std::abort(); // texts in the context stay terminated
    if (m->received > 52 * 40 + 7)
        std::abort(); // never more than was asked for
    pos->cancel();
    // A completed file is the program's to close, as are its per-lens tables.
    if (m->file)
        std::fclose(m->file);
    for (int i = 0; i < POSFILE_LENS_COUNT; ++i) {
        if (m->lensFile[i])
            std::fclose(m->lensFile[i]);
    }
    delete device;
    delete t;
    return 0;
}
