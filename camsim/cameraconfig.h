// Everything a simulated camera is made of, set from options or a scenario file.
#pragma once

#include "v7k.h"

#include <cstdint>
#include <map>
#include <string>

// Model, versions, flights, signals and faults of one simulated camera.
struct CameraConfig
{
    std::string model = "V7K5";         // model word: V7K5 (52-byte POS records) or V7K3 (32)
    std::string serial;                 // empty: model word + "2019032801"
    uint8_t hardware = 2;
    uint8_t firmwareMajor = 4;
    uint8_t firmwareMinor = 41;
    std::string buildDate = "2019-03-28";
    int slots = 14;                     // slots holding a file, 0..14; the rest are empty
    int records = 120;                  // records of slot 1; slot s holds records + 7 (s - 1)
    uint32_t seed = 1;
    std::string timeMode = "mixed";     // unix, calendar, none, mixed (by slot)
    int cameraState = -1;               // -1: all five good for the firmware's generation
    double selfTestSeconds = 0;         // self-test state 0 this long after each start
    bool gps = true;
    int satellites = 12;
    int landingGear = 0;
    double speed = 0;                   // m/s, drives the fixed-distance trigger
    double restartSeconds = 2;          // silence while an upgrade "installs"
    WorkParam workParam = {};           // mode 0 here means: debug mode, 2 s interval
    // Fault injection.
    double dropShare = 0;               // 0..1 of datagrams lost, each direction
    double corruptShare = 0;            // 0..1 of sent datagrams with one byte flipped
    int delayMs = 0;                    // added before every answer
    double silentAt = -1;               // seconds after start to go silent, -1 never
    double silentFor = 0;
    int statusHz = 5;
    std::string exportDir;              // write every slot's raw file here at start
    std::string posDriveDir;            // the POS drive: raw files in <dir>/VESTRANEPOS
    bool quiet = false;

    // Applies "key" = "value"; false with a message for an unknown key or a bad value.
    bool set(const std::string &key, const std::string &value, std::string &error);
    bool loadScenario(const std::string &path, std::string &error);
    void applyDemo();
    std::string effectiveSerial() const { return serial.empty() ? model + "2019032801" : serial; }
    int recordSize() const;
    bool currentGeneration() const { return firmwareMajor == 4 && firmwareMinor >= 41; }
};
