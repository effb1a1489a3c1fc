// Generated survey flights for the simulated camera's POS slots: lines at a heading with turns,
// positions, attitude, speed, time and, on five-lens models, per-lens trigger offsets.
#pragma once

#include "cameraconfig.h"

#include <cstdint>
#include <vector>

// One of the fourteen slots and the file it holds.
struct PosSlot
{
    uint8_t fileNumber = 0;     // 0: empty slot
    uint32_t start = 0;
    uint32_t end = 0;
    uint8_t time[6] = {};       // first record's time, UTC calendar; zeros when the file has none
    uint8_t downloadCount = 0;
    std::vector<uint8_t> data;
};

// Generates the slots from the configuration, the same for the same seed.
class PosFlights
{
public:
    // Fourteen slots; the first config.slots hold a file.
    static std::vector<PosSlot> generate(const CameraConfig &config);
    static uint8_t fileNumberOfSlot(int slot) { return uint8_t(0x20 + slot); }
};
