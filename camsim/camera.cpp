#include "camera.h"

#include "byteorder.h"
#include "firmwareimage.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

using namespace vived;

namespace {
constexpr size_t kRemembered = 256;
constexpr double kRememberSeconds = 10;
constexpr uint32_t kMaxImage = 16u << 20;

const char *commandName(uint8_t c)
{
    switch (c) {
    case CmdVersion:
        return "version";
    case CmdBuildDate:
        return "build date";
    case CmdWorkParamGet:
        return "get work parameters";
    case CmdWorkParamSet:
        return "set work parameters";
    case CmdWorkMode:
        return "work mode";
    case CmdShutter:
        return "shutter";
    case CmdPosInfo:
        return "POS slot info";
    case CmdPosRead:
        return "POS read";
    case CmdPosSuccess:
        return "POS success";
    case CmdPosCancel:
        return "POS cancel";
    case CmdPosRemove:
        return "POS remove";
    case CmdFwStart:
        return "firmware start";
    case CmdFwChunk:
        return "firmware chunk";
    case CmdFwCommit:
        return "firmware commit";
    case CmdFwProgress:
        return "firmware progress";
    case CmdFwConfirm:
        return "firmware confirm";
    default:
        return "?";
    }
}
} // namespace

Camera::Camera(const CameraConfig &config, Log log)
    : m_config(config)
    , m_log(std::move(log))
    , m_slots(PosFlights::generate(config))
{
    m_workParam = config.workParam;
    if (m_workParam.mode == 0) {
        m_workParam.mode = 1;
        m_workParam.timeInterval = 20;
    }
    if (config.cameraState >= 0)
        m_cameraState = uint8_t(config.cameraState);
    else
        m_cameraState = config.currentGeneration() ? 0x1f : 0x00;
}

bool Camera::cameraGood(int camera) const
{
    const bool bit = m_cameraState & (1u << camera);
    // Current firmware sets the bit of a camera in order; older firmware sets it on a fault.
    return m_config.currentGeneration() ? bit : !bit;
}

void Camera::fire()
{
    ++m_photoCount;
    for (int i = 0; i < 5; ++i) {
        if (cameraGood(i))
            ++m_cameraPhotos[i];
    }
}

bool Camera::activationHolds(double now) const
{
    switch (m_workParam.activation) {
    case 1:
        return m_config.landingGear != 0;
    case 3:
        return now - m_bootAt >= m_workParam.powerOnDelay;
    case 5:
        return now - m_paramSetAt >= m_workParam.manualDelay;
    default:
        return true; // external level and altitude: the bench has no aircraft
    }
}

void Camera::tick(double now)
{
    const double dt = std::max(0.0, now - m_lastTick);
    m_lastTick = now;
    if (m_restartUntil >= 0 && now >= m_restartUntil) {
        m_restartUntil = -1;
        m_config.firmwareMajor = m_pendingMajor;
        m_config.firmwareMinor = m_pendingMinor;
        if (!m_pendingDate.empty())
            m_config.buildDate = m_pendingDate;
        m_bootAt = now;
        m_phase = PhaseInstalled;
        m_log("restarted on firmware " + std::to_string(m_config.firmwareMajor) + "." +
              std::to_string(m_config.firmwareMinor));
    }
    if (restarting(now) || m_workMode != 1 || !activationHolds(now)) {
        m_nextShot = -1;
        return;
    }
    if (m_workParam.mode == 2 && m_workParam.timeInterval > 0) {
        const double interval = m_workParam.timeInterval / 10.0;
        if (m_nextShot < 0)
            m_nextShot = now + interval;
        while (now >= m_nextShot) {
            fire();
            m_nextShot += interval;
        }
    } else if (m_workParam.mode == 3 && m_workParam.distanceInterval > 0) {
        m_distance += m_config.speed * dt;
        const double interval = m_workParam.distanceInterval / 10.0;
        while (m_distance >= interval) {
            fire();
            m_distance -= interval;
        }
    }
}

namespace {
constexpr double kSelfTestResultSeconds = 1.0;
}

std::vector<uint8_t> Camera::statusFrame()
{
    StatusPayload s;
    s.state = m_config.gps ? V7K_STATE_GPS_GOOD : 0;
    s.photoCount = m_photoCount;
    s.satellites = m_config.gps ? m_config.satellites : 0;
    for (const PosSlot &slot : m_slots)
        s.posBytes += uint32_t(slot.data.size());
    std::memcpy(s.cameraPhotos, m_cameraPhotos, sizeof m_cameraPhotos);
    s.cameraState = m_cameraState;
    // A camera reports 1 for a moment between testing (0) and done (2), with its cameras' results
    // already in the state byte.
    const double sinceBoot = m_lastTick - m_bootAt;
    const double testing = m_config.selfTestSeconds;
    s.selfTest = sinceBoot < testing                                        ? 0
                 : testing > 0 && sinceBoot < testing + kSelfTestResultSeconds ? 1
                                                                               : 2;
    s.landingGear = uint16_t(m_config.landingGear);
    s.workMode = m_workMode;
    s.upgradePhase = m_phase;
    s.workParam = m_workParam;
    static uint32_t pushCount = 0;
    const Bytes payload = encodeStatus(s);
    return encodeFrame(CmdStatus, ++pushCount, payload.data(), payload.size());
}

std::vector<uint8_t> Camera::handle(const Frame &request, double now)
{
    if (!isRequest(request.command))
        return {};
    while (!m_answers.empty() && now - m_answers.front().at > kRememberSeconds)
        m_answers.pop_front();
    for (const Remembered &r : m_answers) {
        if (r.sequence == request.sequence)
            return r.datagram;
    }
    if (request.command != CmdPosRead && request.command != CmdFwChunk &&
        request.command != CmdFwProgress)
        m_log(std::string("request: ") + commandName(request.command));
    uint8_t command = request.command | kReplyBit;
    const Bytes payload = answer(request, now, command);
    std::vector<uint8_t> datagram =
        encodeFrame(command, request.sequence, payload.data(), payload.size());
    m_answers.push_back({request.sequence, now, datagram});
    if (m_answers.size() > kRemembered)
        m_answers.pop_front();
    return datagram;
}

Bytes Camera::error(uint8_t requestCommand, uint8_t code, uint8_t &command)
{
    command = CmdError;
    m_log(std::string("refused ") + commandName(requestCommand) + ", code " + std::to_string(code));
    return encodeBytes({requestCommand, code});
}

PosSlot *Camera::slotByFile(uint8_t fileNumber)
{
    for (PosSlot &slot : m_slots) {
        if (fileNumber != 0 && slot.fileNumber == fileNumber)
            return &slot;
    }
    return nullptr;
}

Bytes Camera::answer(const Frame &request, double now, uint8_t &command)
{
    const Bytes &p = request.payload;
    uint8_t b[2] = {};
    WorkParam wp;
    switch (request.command) {
    case CmdVersion: {
        if (!p.empty())
            return error(request.command, ResultBadArgument, command);
        VersionPayload v;
        v.hardware = m_config.hardware;
        v.major = m_config.firmwareMajor;
        v.minor = m_config.firmwareMinor;
        v.serial = m_config.effectiveSerial();
        return encodeVersion(v);
    }
    case CmdBuildDate:
        return encodeBuildDate(m_config.buildDate);
    case CmdWorkParamGet:
        return encodeWorkParam(m_workParam);
    case CmdWorkParamSet:
        if (!decodeWorkParam(p, wp) || wp.mode < 1 || wp.mode > 6)
            return error(request.command, ResultBadArgument, command);
        m_workParam = wp;
        m_paramSetAt = now;
        m_nextShot = -1;
        m_log("work parameters: mode " + std::to_string(wp.mode) + ", interval " +
              std::to_string(wp.timeInterval));
        return encodeResultWorkParam(ResultOk, m_workParam);
    case CmdWorkMode:
        if (!decodeBytes(p, 1, b) || b[0] > 1)
            return error(request.command, ResultBadArgument, command);
        m_workMode = b[0];
        return encodeBytes({ResultOk, m_workMode});
    case CmdShutter: {
        fire();
        Bytes out(5);
        out[0] = ResultOk;
        ByteOrder::putBe32(out.data() + 1, m_photoCount);
        return out;
    }
    case CmdPosInfo:
        return posInfo(p, command);
    case CmdPosRead:
        return posRead(p, command);
    case CmdPosSuccess: {
        PosSlot *slot = decodeBytes(p, 1, b) ? slotByFile(b[0]) : nullptr;
        if (!slot)
            return error(request.command, ResultNoSuchFile, command);
        ++slot->downloadCount;
        return encodeBytes({b[0], ResultOk});
    }
    case CmdPosCancel:
        if (!decodeBytes(p, 1, b))
            return error(request.command, ResultBadArgument, command);
        return encodeBytes({b[0]});
    case CmdPosRemove: {
        PosSlot *slot = decodeBytes(p, 1, b) ? slotByFile(b[0]) : nullptr;
        if (!slot)
            return error(request.command, ResultNoSuchFile, command);
        *slot = PosSlot();
        m_log("removed file " + std::to_string(b[0]));
        return encodeBytes({b[0], ResultOk});
    }
    case CmdFwStart:
        return fwStart(p, command);
    case CmdFwChunk:
        return fwChunk(p, command);
    case CmdFwCommit:
        return fwCommit(p, now, command);
    case CmdFwProgress: {
        FwProgressPayload g;
        g.phase = m_phase;
        g.major = m_config.firmwareMajor;
        g.minor = m_config.firmwareMinor;
        g.received = m_imageReceived;
        return encodeFwProgress(g);
    }
    case CmdFwConfirm:
        if (m_phase == PhaseInstalled || m_phase == PhaseFailed)
            m_phase = PhaseIdle;
        return {};
    default:
        return error(request.command, ResultUnknownCommand, command);
    }
}

Bytes Camera::posInfo(const Bytes &p, uint8_t &command)
{
    uint8_t slotNumber = 0;
    if (!decodeBytes(p, 1, &slotNumber) || slotNumber < 1 || slotNumber > 14)
        return error(CmdPosInfo, ResultBadArgument, command);
    const PosSlot &slot = m_slots[slotNumber - 1u];
    PosInfoPayload info;
    info.slot = slotNumber;
    info.fileNumber = slot.fileNumber;
    info.start = slot.start;
    info.end = slot.end;
    std::memcpy(info.time, slot.time, 6);
    info.recordSize = uint8_t(m_config.recordSize());
    info.downloadCount = slot.downloadCount;
    return encodePosInfo(info);
}

Bytes Camera::posRead(const Bytes &p, uint8_t &command)
{
    PosReadPayload r;
    if (!decodePosRead(p, r))
        return error(CmdPosRead, ResultBadArgument, command);
    const PosSlot *slot = slotByFile(r.fileNumber);
    if (!slot)
        return error(CmdPosRead, ResultNoSuchFile, command);
    if (r.offset >= slot->data.size())
        return error(CmdPosRead, ResultBadOffset, command);
    PosDataPayload d;
    d.fileNumber = r.fileNumber;
    d.offset = r.offset;
    const size_t end = std::min(slot->data.size(), size_t(r.offset) + r.length);
    d.data.assign(slot->data.begin() + r.offset, slot->data.begin() + long(end));
    return encodePosData(d);
}

Bytes Camera::fwStart(const Bytes &p, uint8_t &command)
{
    FwStartPayload s;
    if (!decodeFwStart(p, s) || s.imageSize == 0 || s.imageSize > kMaxImage ||
        (s.target != 0 && s.target != 3))
        return error(CmdFwStart, ResultBadArgument, command);
    // A minimum date asks for a camera built on or after it ("0": no condition).
    std::string digits;
    for (char c : m_config.buildDate) {
        if (c >= '0' && c <= '9')
            digits.push_back(c);
    }
    if (s.minimumDate != "0" && digits.substr(0, 8) < s.minimumDate)
        return error(CmdFwStart, ResultBadImage, command);
    m_upgrade = s;
    m_image.assign(s.imageSize, 0);
    m_chunkSeen.assign((s.imageSize + s.chunkSize - 1) / s.chunkSize, false);
    m_imageReceived = 0;
    m_phase = PhaseReceiving;
    m_log("firmware upgrade announced: " + std::to_string(s.imageSize) + " bytes, target " +
          std::to_string(s.target));
    return encodeBytes({ResultOk});
}

Bytes Camera::fwChunk(const Bytes &p, uint8_t &command)
{
    FwChunkPayload c;
    if (m_phase != PhaseReceiving || !decodeFwChunk(p, c))
        return error(CmdFwChunk, ResultBusy, command);
    if (c.offset % m_upgrade.chunkSize != 0 || c.offset >= m_image.size() ||
        c.data.size() > m_image.size() - c.offset ||
        (c.data.size() != m_upgrade.chunkSize && c.offset + c.data.size() != m_image.size()))
        return error(CmdFwChunk, ResultBadOffset, command);
    std::copy(c.data.begin(), c.data.end(), m_image.begin() + c.offset);
    const size_t index = c.offset / m_upgrade.chunkSize;
    if (!m_chunkSeen[index]) {
        m_chunkSeen[index] = true;
        m_imageReceived += uint32_t(c.data.size());
    }
    FwChunkAck ack;
    ack.offset = c.offset;
    ack.length = uint16_t(c.data.size());
    ack.result = ResultOk;
    return encodeFwChunkAck(ack);
}

Bytes Camera::fwCommit(const Bytes &p, double now, uint8_t &command)
{
    uint32_t size = 0, crc = 0;
    if (m_phase != PhaseReceiving || !decodeFwCommit(p, size, crc))
        return error(CmdFwCommit, ResultBusy, command);
    FirmwareHeader header;
    const uint32_t actual =
        uint32_t(crc32(crc32(0L, Z_NULL, 0), m_image.data(), uInt(m_image.size())));
    const std::string model = m_config.effectiveSerial().substr(0, 4);
    if (size != m_image.size() || m_imageReceived != size || crc != actual ||
        crc != m_upgrade.imageCrc || !FirmwareImage::parse(m_image, header) ||
        (!header.model.empty() && header.model != model)) {
        m_phase = PhaseFailed;
        return error(CmdFwCommit, ResultBadImage, command);
    }
    m_pendingMajor = header.major;
    m_pendingMinor = header.minor;
    m_pendingDate = header.buildDate;
    m_phase = PhaseInstalling;
    m_restartUntil = now + m_config.restartSeconds;
    m_log("firmware image checked, installing " + std::to_string(header.major) + "." +
          std::to_string(header.minor) + " and restarting");
    return encodeBytes({ResultOk});
}
