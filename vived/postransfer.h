// The posfile_* side of a device: slot listing into the manager record's cache and one file
// download at a time, written into the main and per-lens tables as chunks arrive.
#pragma once

#include "frame.h"
#include "posfile.h"

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vived {

class Device;

// Slot listing and file download of one device, behind its manager record.
class PosTransfer
{
public:
    explicit PosTransfer(Device *device);
    ~PosTransfer();

    PosFileManager *manager() { return &m_manager; }
    Device *device() const { return m_device; }
    static PosTransfer *fromManager(PosFileManager *manager);

    int infoRequest(int slot);
    int infoGet(int slot, PosFileInfo *out);
    int fileRequest(int fileNumber, const char *path, int expectedSize, int recordSize,
                    bool programCompletes);
    uint32_t process() const { return m_manager.received; }
    int success(int fileNumber);
    int cancel();
    int remove(int fileNumber);
    void transportGone();

    // Chunks kept in flight during a download, and the retries of each.
    static constexpr int kWindow = 16;
    static constexpr int kChunkTries = 40;

private:
    void pump();
    void requestChunk(uint32_t offset, uint32_t length);
    void chunkArrived(unsigned generation, uint32_t offset, uint32_t length, const Frame &reply);
    void consume(const std::vector<uint8_t> &data);
    void allBytesIn();
    void abandon();     // stops the download and closes the main table
    void closeTables(); // the per-lens tables
    int chunkLength() const;

    PosFileManager m_manager;
    Device *m_device;
    // The download in progress; touched with the transport's dispatch lock held.
    unsigned m_generation = 0;
    bool m_active = false;
    bool m_programCompletes = false;
    uint8_t m_file = 0;
    uint32_t m_size = 0;
    int m_recordSize = 52;
    uint32_t m_nextRequest = 0;     // next offset to ask for
    uint32_t m_written = 0;         // bytes consumed in order
    std::map<uint32_t, std::vector<uint8_t>> m_ahead; // arrived before their turn
    std::set<uint32_t> m_inFlight;  // sequence numbers of waiting chunk requests
    uint32_t m_infoPending = 0;     // bit k: a description of slot k+1 is asked for
    std::vector<uint8_t> m_carry;   // start of a record split between chunks
    FILE *m_main = nullptr;         // the library's view of the main table until complete
};

} // namespace vived
