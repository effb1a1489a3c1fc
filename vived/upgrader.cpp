#include "upgrader.h"

#include "device.h"
#include "firmwareimage.h"
#include "postransfer.h"
#include "protocol.h"
#include "transport.h"

#include <cstring>
#include <mutex>
#include <zlib.h>

namespace vived {

namespace {
std::mutex &upgradersMutex()
{
    static std::mutex m;
    return m;
}
std::set<Upgrader *> &upgraders()
{
    static std::set<Upgrader *> all;
    return all;
}
constexpr int kPollMs = 500;
} // namespace

Upgrader::Upgrader(Transport *transport)
    : m_transport(transport)
{
    std::lock_guard<std::mutex> lock(upgradersMutex());
    upgraders().insert(this);
}

Upgrader::~Upgrader()
{
    std::lock_guard<std::mutex> lock(upgradersMutex());
    upgraders().erase(this);
}

Upgrader *Upgrader::fromHandle(AkUpgrader *handle)
{
    std::lock_guard<std::mutex> lock(upgradersMutex());
    for (Upgrader *u : upgraders()) {
        if (static_cast<AkUpgrader *>(u) == handle)
            return u;
    }
    return nullptr;
}

int Upgrader::prepare(const char *path, int modeA, int modeB, const char *date)
{
    std::vector<uint8_t> image;
    FirmwareHeader header;
    if (!FirmwareImage::readFile(path, image) || !FirmwareImage::parse(image, header))
        return -1;
    if ((modeA != AKUPGRADER_TARGET_CAMERA && modeA != AKUPGRADER_TARGET_FLIGHT_CONTROLLER) ||
        modeB < 0 || modeB * 64 > kMaxFwChunk)
        return -1;
    std::lock_guard<std::recursive_mutex> lock(m_transport->dispatchMutex());
    ++m_generation;
    m_image = std::move(image);
    m_crc = uint32_t(crc32(crc32(0L, Z_NULL, 0), m_image.data(), uInt(m_image.size())));
    m_target = uint8_t(modeA);
    m_chunk = modeB == 0 ? 1024 : uint16_t(modeB * 64);
    m_date = date && *date && std::strlen(date) <= 8 ? date : "0";
    m_accepted = m_released = m_committed = false;
    m_next = m_acked = 0;
    m_ackedOffsets.clear();
    m_inFlight.clear();
    m_progress = 0;
    m_rev = 0;
    return 0;
}

void Upgrader::fail()
{
    // The program's window keeps polling; the heartbeat may judge the link again.
    m_transport->state = AKTELE_STATE_UPGRADE_FAILED;
    m_transport->markUpgrade(false);
}

int Upgrader::start()
{
    if (m_image.empty())
        return -1;
    std::lock_guard<std::recursive_mutex> lock(m_transport->dispatchMutex());
    FwStartPayload s;
    s.target = m_target;
    s.chunkSize = m_chunk;
    s.imageSize = uint32_t(m_image.size());
    s.imageCrc = m_crc;
    s.minimumDate = m_date;
    const unsigned generation = m_generation;
    if (m_transport->state == AKTELE_STATE_UPGRADE_FAILED)
        m_transport->state = AKTELE_STATE_RUNNING;
    m_transport->markUpgrade(true);
    auto handler = [this, generation](const Frame &reply) {
        if (!saysYes(generation, reply))
            return;
        m_accepted = true;
        pump();
    };
    return m_transport->request(CmdFwStart, encodeFwStart(s), handler, 8, 300) ? 0 : -1;
}

int Upgrader::set()
{
    std::lock_guard<std::recursive_mutex> lock(m_transport->dispatchMutex());
    m_released = true;
    pump();
    return m_image.empty() ? -1 : 0;
}

void Upgrader::pump()
{
    if (!m_accepted || !m_released || m_committed)
        return;
    while (m_inFlight.size() < size_t(kWindow) && m_next < m_image.size()) {
        sendChunk(m_next);
        m_next += std::min<uint32_t>(m_chunk, uint32_t(m_image.size()) - m_next);
    }
    if (m_acked == m_image.size())
        commit();
}

void Upgrader::sendChunk(uint32_t offset)
{
    const uint32_t length = std::min<uint32_t>(m_chunk, uint32_t(m_image.size()) - offset);
    FwChunkPayload chunk;
    chunk.offset = offset;
    chunk.data.assign(m_image.begin() + offset, m_image.begin() + offset + length);
    const unsigned generation = m_generation;
    auto handler = [this, generation, offset, length](const Frame &reply) {
        if (generation != m_generation)
            return;
        m_inFlight.erase(offset);
        FwChunkAck ack;
        if (reply.command == CmdError || !decodeFwChunkAck(reply.payload, ack) ||
            ack.offset != offset || ack.length != length || ack.result != ResultOk) {
            m_transport->countUnexpected();
            fail();
            return;
        }
        if (m_ackedOffsets.insert(offset).second)
            m_acked += length;
        m_progress = int(uint64_t(m_acked) * 99 / m_image.size());
        m_transport->upgradeProgressed();
        pump();
    };
    m_inFlight.insert(offset);
    m_transport->request(CmdFwChunk, encodeFwChunk(chunk), handler, 20, 250);
}

bool Upgrader::saysYes(unsigned generation, const Frame &reply)
{
    if (generation != m_generation)
        return false; // an answer to an upgrade given up since
    if (reply.command == CmdError || reply.payload.size() != 1 || reply.payload[0] != ResultOk) {
        fail();
        return false;
    }
    return true;
}

void Upgrader::commit()
{
    m_committed = true;
    const unsigned generation = m_generation;
    auto handler = [this, generation](const Frame &reply) {
        if (!saysYes(generation, reply))
            return;
        m_progress = 100;
        m_transport->after(kPollMs, [this, generation] {
            if (generation == m_generation)
                poll();
        });
    };
    m_transport->request(CmdFwCommit, encodeFwCommit(uint32_t(m_image.size()), m_crc), handler, 30,
                         300);
}

void Upgrader::poll()
{
    // The camera is silent while it restarts; the poll goes on until it answers installed.
    const unsigned generation = m_generation;
    auto again = [this, generation] {
        if (generation == m_generation)
            m_transport->after(kPollMs, [this, generation] {
                if (generation == m_generation)
                    poll();
            });
    };
    auto handler = [this, generation, again](const Frame &reply) {
        if (generation != m_generation)
            return;
        FwProgressPayload p;
        if (reply.command == CmdError || !decodeFwProgress(reply.payload, p)) {
            again();
            return;
        }
        if (p.phase == PhaseInstalled) {
            m_rev = 1;
            m_transport->markUpgrade(false);
            m_transport->request(CmdFwConfirm, {}, [](const Frame &) {});
        } else if (p.phase == PhaseFailed) {
            m_transport->markUpgrade(false);
            fail();
        } else {
            again();
        }
    };
    m_transport->request(CmdFwProgress, {}, handler, 1, kPollMs, again);
}

int Upgrader::stop()
{
    std::lock_guard<std::recursive_mutex> lock(m_transport->dispatchMutex());
    ++m_generation;
    m_inFlight.clear();
    m_transport->markUpgrade(false);
    return 0;
}

void Upgrader::reset()
{
    std::lock_guard<std::recursive_mutex> lock(m_transport->dispatchMutex());
    m_progress = 0;
    m_rev = 0;
}

} // namespace vived
