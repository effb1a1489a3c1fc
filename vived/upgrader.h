// Sends one firmware image to the camera: announce, chunks with acknowledgement, commit, then
// polls until the camera has restarted on the new image.
#pragma once

#include "akupgrader.h"
#include "frame.h"

#include <atomic>
#include <set>
#include <string>
#include <vector>

// The opaque C handle; Upgrader is the only kind.
struct AkUpgrader
{
};

namespace vived {

class Transport;

// One firmware upgrade at a time over a transport.
class Upgrader : public AkUpgrader
{
public:
    explicit Upgrader(Transport *transport);
    ~Upgrader();

    static Upgrader *fromHandle(AkUpgrader *handle);

    int prepare(const char *path, int modeA, int modeB, const char *date);
    int start();
    int set();
    int stop();
    int progress() const { return m_progress; }
    int rev() const { return m_rev; }
    void reset();

    static constexpr int kWindow = 8;

private:
    void pump();
    void sendChunk(uint32_t offset);
    void commit();
    // Whether a one-byte reply answers this upgrade with yes; any other answer fails it.
    bool saysYes(unsigned generation, const Frame &reply);
    void poll();
    void fail();

    Transport *m_transport;
    std::vector<uint8_t> m_image;
    uint32_t m_crc = 0;
    uint8_t m_target = 0;
    uint16_t m_chunk = 1024;
    std::string m_date = "0";
    unsigned m_generation = 0;  // a stop or a new prepare ends the answers of the previous run
    bool m_accepted = false;
    bool m_released = false;    // akupgrader_set seen
    bool m_committed = false;
    uint32_t m_next = 0;
    uint32_t m_acked = 0;
    std::set<uint32_t> m_ackedOffsets;
    std::set<uint32_t> m_inFlight;  // offsets
    std::atomic<int> m_progress{0};
    std::atomic<int> m_rev{0};
};

} // namespace vived
