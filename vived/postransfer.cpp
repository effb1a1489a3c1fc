#include "postransfer.h"

#include "device.h"
#include "postable.h"
#include "protocol.h"
#include "transport.h"

#include <cstring>
#include <mutex>

namespace vived {

namespace {
std::mutex &managersMutex()
{
    static std::mutex m;
    return m;
}
std::set<PosTransfer *> &managers()
{
    static std::set<PosTransfer *> all;
    return all;
}
} // namespace

PosTransfer::PosTransfer(Device *device)
    : m_device(device)
{
    std::memset(&m_manager, 0, sizeof m_manager);
    m_manager.state = POSFILE_STATE_READY;
    m_manager.device = device;
    std::lock_guard<std::mutex> lock(managersMutex());
    managers().insert(this);
}

PosTransfer::~PosTransfer()
{
    {
        std::lock_guard<std::mutex> lock(managersMutex());
        managers().erase(this);
    }
    if (m_main) // a download cut short by the device going away
        std::fclose(m_main);
}

PosTransfer *PosTransfer::fromManager(PosFileManager *manager)
{
    if (!manager)
        return nullptr;
    std::lock_guard<std::mutex> lock(managersMutex());
    for (PosTransfer *t : managers()) {
        if (t->manager() == manager)
            return t;
    }
    return nullptr;
}

void PosTransfer::transportGone()
{
    m_active = false;
    m_inFlight.clear();
    m_infoPending = 0;
}

int PosTransfer::infoRequest(int slot)
{
    Transport *t = m_device->transport();
    if (!t || slot < 1 || slot > POSFILE_SLOT_COUNT)
        return -1;
    const uint32_t bit = 1u << (slot - 1);
    auto handler = [this, slot, t, bit](const Frame &reply) {
        PosInfoPayload info;
        m_infoPending &= ~bit;
        if (reply.command == CmdError)
            return;
        if (!decodePosInfo(reply.payload, info) || info.slot != slot) {
            t->countUnexpected();
            return;
        }
        PosFileInfo entry;
        std::memset(&entry, 0, sizeof entry);
        entry.fileNumber = info.fileNumber;
        entry.startAddress = info.start;
        entry.year = info.time[0];
        entry.month = info.time[1];
        entry.day = info.time[2];
        entry.hour = info.time[3];
        entry.minute = info.time[4];
        entry.second = info.time[5];
        entry.endAddress = info.end;
        entry.recordSize = info.recordSize;
        entry.downloadCount = info.downloadCount;
        std::memcpy(&m_manager.cache[slot - 1], &entry, sizeof entry);
        m_manager.cacheMask |= 1u << (slot - 1);
        m_device->setStateBits(V7K_STATE_NEW_POS);
    };
    // The page asks again on every tick until the answer is in; one request per slot at a time
    // is enough (the transport repeats it), and a second answer would raise the new-data flag
    // for a slot the page has already taken.
    std::lock_guard<std::recursive_mutex> lock(t->dispatchMutex());
    if (m_infoPending & bit)
        return 0;
    auto onTimeout = [this, bit] { m_infoPending &= ~bit; };
    if (!t->request(CmdPosInfo, encodeBytes({uint8_t(slot)}), handler, 8, 250, onTimeout))
        return -1;
    m_infoPending |= bit;
    return 0;
}

int PosTransfer::infoGet(int slot, PosFileInfo *out)
{
    if (!out || slot < 1 || slot > POSFILE_SLOT_COUNT)
        return -1;
    Transport *t = m_device->transport();
    std::unique_lock<std::recursive_mutex> lock;
    if (t)
        lock = std::unique_lock<std::recursive_mutex>(t->dispatchMutex());
    if (!(m_manager.cacheMask & (1u << (slot - 1))))
        return -1;
    std::memcpy(out, &m_manager.cache[slot - 1], sizeof *out);
    return 0;
}

int PosTransfer::chunkLength() const
{
    // Whole records per chunk, so that a lost chunk never splits a table row.
    return (kMaxPosChunk / m_recordSize) * m_recordSize;
}

int PosTransfer::fileRequest(int fileNumber, const char *path, int expectedSize, int recordSize,
                             bool programCompletes)
{
    Transport *t = m_device->transport();
    if (!t || !path || fileNumber < 0 || fileNumber > 255 || expectedSize < 0 ||
        (recordSize != 32 && recordSize != 52))
        return -1;
    std::lock_guard<std::recursive_mutex> lock(t->dispatchMutex());
    if (m_active)
        abandon(); // the per-lens tables just opened for this file stay open
    FILE *main = std::fopen(path, "w");
    if (!main) {
        std::printf("open %s file error.\n", path);
        m_manager.state = POSFILE_STATE_RUNNING; // stalls until the program cancels
        return -1;
    }
    PosTable::writeMainHeader(main, recordSize);
    for (int i = 0; i < POSFILE_LENS_COUNT; ++i)
        m_manager.lensOpen[i] = m_manager.lensFile[i] ? 1 : 0;
    ++m_generation;
    m_active = true;
    m_programCompletes = programCompletes;
    m_file = uint8_t(fileNumber);
    m_size = uint32_t(expectedSize);
    m_recordSize = recordSize;
    m_nextRequest = 0;
    m_written = 0;
    m_ahead.clear();
    m_inFlight.clear();
    m_carry.clear();
    m_main = main;
    m_manager.file = main;
    m_manager.fileNumber = uint32_t(fileNumber);
    m_manager.expectedSize = uint32_t(expectedSize);
    m_manager.received = 0;
    m_manager.activity = POSFILE_ACTIVITY_TRANSFER;
    m_manager.state = POSFILE_STATE_RUNNING;
    if (m_size == 0)
        allBytesIn();
    else
        pump();
    return 0;
}

void PosTransfer::pump()
{
    while (m_active && m_inFlight.size() < size_t(kWindow) && m_nextRequest < m_size) {
        const uint32_t length = std::min<uint32_t>(uint32_t(chunkLength()), m_size - m_nextRequest);
        requestChunk(m_nextRequest, length);
        m_nextRequest += length;
    }
}

void PosTransfer::requestChunk(uint32_t offset, uint32_t length)
{
    Transport *t = m_device->transport();
    if (!t)
        return;
    const unsigned generation = m_generation;
    auto sequence = std::make_shared<uint32_t>(0);
    auto onReply = [this, generation, offset, length, sequence](const Frame &reply) {
        m_inFlight.erase(*sequence);
        chunkArrived(generation, offset, length, reply);
    };
    auto onTimeout = [this, sequence] { m_inFlight.erase(*sequence); };
    PosReadPayload read;
    read.fileNumber = m_file;
    read.offset = offset;
    read.length = uint16_t(length);
    *sequence = t->request(CmdPosRead, encodePosRead(read), onReply, kChunkTries, 200, onTimeout);
    if (*sequence)
        m_inFlight.insert(*sequence);
}

void PosTransfer::chunkArrived(unsigned generation, uint32_t offset, uint32_t length,
                               const Frame &reply)
{
    Transport *t = m_device->transport();
    if (!m_active || generation != m_generation || !t)
        return;
    if (reply.command == CmdError)
        return; // the camera refuses: the download stalls until the program cancels
    PosDataPayload data;
    if (!decodePosData(reply.payload, data) || data.fileNumber != m_file || data.offset != offset ||
        data.data.size() != length) {
        t->countUnexpected();
        requestChunk(offset, length);
        return;
    }
    ++m_manager.progress;
    if (offset == m_written) {
        consume(data.data);
        for (auto it = m_ahead.find(m_written); it != m_ahead.end(); it = m_ahead.find(m_written)) {
            consume(it->second);
            m_ahead.erase(it);
        }
    } else if (offset > m_written) {
        m_ahead.emplace(offset, std::move(data.data));
    }
    if (m_written == m_size)
        allBytesIn();
    else
        pump();
}

void PosTransfer::consume(const std::vector<uint8_t> &data)
{
    m_carry.insert(m_carry.end(), data.begin(), data.end());
    const size_t count = m_carry.size() / size_t(m_recordSize);
    FILE *lens[POSFILE_LENS_COUNT] = {};
    if (m_manager.independentPos == 1) {
        for (int i = 0; i < POSFILE_LENS_COUNT; ++i)
            lens[i] = m_manager.lensFile[i];
    }
    PosTable::writeRows(m_carry.data(), count, m_recordSize, m_main, lens);
    m_carry.erase(m_carry.begin(), m_carry.begin() + long(count * size_t(m_recordSize)));
    m_written += uint32_t(data.size());
    m_manager.received = m_written;
}

void PosTransfer::allBytesIn()
{
    std::fflush(m_main);
    // Indexed: the record is packed, so its pointers may not be bound to references.
    for (int i = 0; i < POSFILE_LENS_COUNT; ++i) {
        if (m_manager.lensFile[i])
            std::fflush(m_manager.lensFile[i]);
    }
    // From here on the tables are the program's to close.
    m_main = nullptr;
    m_active = false;
    if (m_programCompletes)
        m_manager.activity = POSFILE_ACTIVITY_IDLE;
}

int PosTransfer::success(int fileNumber)
{
    Transport *t = m_device->transport();
    if (!t || fileNumber < 0 || fileNumber > 255)
        return -1;
    auto handler = [this](const Frame &reply) {
        if (reply.command == CmdError)
            return;
        m_manager.activity = POSFILE_ACTIVITY_IDLE;
        m_manager.state = POSFILE_STATE_COMPLETE;
    };
    std::lock_guard<std::recursive_mutex> lock(t->dispatchMutex());
    return t->request(CmdPosSuccess, encodeBytes({uint8_t(fileNumber)}), handler) ? 0 : -1;
}

void PosTransfer::closeTables()
{
    for (int i = 0; i < POSFILE_LENS_COUNT; ++i) {
        if (m_manager.lensFile[i])
            std::fclose(m_manager.lensFile[i]);
        m_manager.lensFile[i] = nullptr;
        m_manager.lensOpen[i] = 0;
    }
}

void PosTransfer::abandon()
{
    Transport *t = m_device->transport();
    ++m_generation;
    m_active = false;
    if (t) {
        for (uint32_t sequence : m_inFlight)
            t->forget(sequence);
    }
    m_inFlight.clear();
    m_ahead.clear();
    m_carry.clear();
    if (m_main) {
        std::fclose(m_main);
        if (m_manager.file == m_main)
            m_manager.file = nullptr;
        m_main = nullptr;
    }
}

int PosTransfer::cancel()
{
    Transport *t = m_device->transport();
    std::unique_lock<std::recursive_mutex> lock;
    if (t)
        lock = std::unique_lock<std::recursive_mutex>(t->dispatchMutex());
    abandon();
    // A cancel ends the download whatever stage it reached: a main table that is complete but
    // not yet closed by the program, and every lens table, are closed with what they hold.
    if (m_manager.file) {
        std::fclose(m_manager.file);
        m_manager.file = nullptr;
    }
    closeTables();
    m_manager.activity = POSFILE_ACTIVITY_IDLE;
    m_manager.state = POSFILE_STATE_READY;
    if (!t)
        return -1;
    t->request(CmdPosCancel, encodeBytes({m_file}), [](const Frame &) {});
    return 0;
}

int PosTransfer::remove(int fileNumber)
{
    Transport *t = m_device->transport();
    if (!t || fileNumber < 1 || fileNumber > 255)
        return -1;
    std::lock_guard<std::recursive_mutex> lock(t->dispatchMutex());
    return t->request(CmdPosRemove, encodeBytes({uint8_t(fileNumber)}), [](const Frame &) {}) ? 0
                                                                                              : -1;
}

} // namespace vived
