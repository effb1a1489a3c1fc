// The simulated camera's behaviour: answers requests, runs triggers, self-test and the
// firmware install, and builds the status frame it pushes.
#pragma once

#include "cameraconfig.h"
#include "frame.h"
#include "posflights.h"
#include "protocol.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

// The camera's state and its answer to each request.
class Camera
{
public:
    using Log = std::function<void(const std::string &)>;

    Camera(const CameraConfig &config, Log log);

    // Advances triggers, self-test and restart to the time now (seconds since start).
    void tick(double now);
    // The answer to one request, or nothing (status frames and answers are never answered).
    // A repeated sequence number gets the first answer again without doing the work twice.
    std::vector<uint8_t> handle(const vived::Frame &request, double now);
    std::vector<uint8_t> statusFrame();
    // True while the camera restarts after an upgrade: it neither listens nor sends.
    bool restarting(double now) const { return now < m_restartUntil; }

    const std::vector<PosSlot> &slots() const { return m_slots; }

private:
    vived::Bytes answer(const vived::Frame &request, double now, uint8_t &command);
    vived::Bytes posInfo(const vived::Bytes &payload, uint8_t &command);
    vived::Bytes posRead(const vived::Bytes &payload, uint8_t &command);
    vived::Bytes fwStart(const vived::Bytes &payload, uint8_t &command);
    vived::Bytes fwChunk(const vived::Bytes &payload, uint8_t &command);
    vived::Bytes fwCommit(const vived::Bytes &payload, double now, uint8_t &command);
    vived::Bytes error(uint8_t requestCommand, uint8_t code, uint8_t &command);
    PosSlot *slotByFile(uint8_t fileNumber);
    bool cameraGood(int camera) const;
    void fire();
    bool activationHolds(double now) const;

    CameraConfig m_config;
    Log m_log;
    std::vector<PosSlot> m_slots;
    uint32_t m_photoCount = 0;
    uint16_t m_cameraPhotos[5] = {};
    uint8_t m_cameraState = 0;
    uint8_t m_workMode = 1;
    WorkParam m_workParam = {};
    double m_paramSetAt = 0;
    double m_bootAt = 0;
    double m_lastTick = 0;
    double m_nextShot = -1;
    double m_distance = 0;
    // Firmware upgrade.
    uint8_t m_phase = vived::PhaseIdle;
    vived::FwStartPayload m_upgrade;
    std::vector<uint8_t> m_image;
    std::vector<bool> m_chunkSeen;
    uint32_t m_imageReceived = 0;
    double m_restartUntil = -1;
    uint8_t m_pendingMajor = 0, m_pendingMinor = 0;
    std::string m_pendingDate;
    // Answers by sequence number, for repeated requests.
    struct Remembered { uint32_t sequence; double at; std::vector<uint8_t> datagram; };
    std::deque<Remembered> m_answers;
};
