#include "device.h"

#include "byteorder.h"
#include "postransfer.h"
#include "protocol.h"
#include "transport.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

namespace vived {

namespace {
std::mutex &registryMutex()
{
    static std::mutex m;
    return m;
}
std::set<Device *> &registry()
{
    static std::set<Device *> devices;
    return devices;
}

uint32_t *contextWord(v7k_context &c, size_t offset)
{
    return reinterpret_cast<uint32_t *>(reinterpret_cast<char *>(&c) + offset);
}
} // namespace

Device::Device(Transport *transport)
    : m_transport(transport)
{
    std::memset(&m_context, 0, sizeof m_context);
    m_context.posfileArg = this;
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().insert(this);
}

Device::~Device()
{
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        registry().erase(this);
    }
    if (m_transport)
        m_transport->detachDevice(this);
}

Device *Device::fromContext(void *context)
{
    if (!context)
        return nullptr;
    std::lock_guard<std::mutex> lock(registryMutex());
    for (Device *d : registry()) {
        if (d->context() == context)
            return d;
    }
    return nullptr;
}

PosTransfer *Device::posTransfer()
{
    if (!m_pos)
        m_pos = std::make_unique<PosTransfer>(this);
    return m_pos.get();
}

void Device::frameArrived()
{
    __atomic_fetch_add(contextWord(m_context, offsetof(v7k_context, receiveCounter)), 1u,
                       __ATOMIC_RELAXED);
}

void Device::setStateBits(uint32_t bits)
{
    __atomic_fetch_or(contextWord(m_context, offsetof(v7k_context, state)), bits, __ATOMIC_RELAXED);
}

void Device::clearStateBits(uint32_t bits)
{
    __atomic_fetch_and(contextWord(m_context, offsetof(v7k_context, state)), ~bits,
                       __ATOMIC_RELAXED);
}

void Device::statusArrived(const Frame &frame)
{
    StatusPayload s;
    if (!decodeStatus(frame.payload, s))
        return;
    if (s.state & V7K_STATE_GPS_GOOD)
        setStateBits(V7K_STATE_GPS_GOOD);
    else
        clearStateBits(V7K_STATE_GPS_GOOD);
    m_context.photoCount = s.photoCount;
    m_context.satellites = s.satellites;
    m_context.posValue = double(s.posBytes);
    if (s.workParam.mode != 0)
        m_context.workParam = s.workParam;
    std::memcpy(m_context.cameraPhotos, s.cameraPhotos, sizeof s.cameraPhotos);
    m_context.cameraState = s.cameraState;
    m_context.landingGear = s.landingGear;
    m_context.selfTest = s.selfTest;
    __atomic_fetch_add(contextWord(m_context, offsetof(v7k_context, statusCount)), 1u,
                       __ATOMIC_RELEASE);
}

void Device::linkStarted()
{
    requestVersion();
    requestBuildDate();
    requestWorkParam();
}

void Device::transportGone()
{
    m_transport = nullptr;
    if (m_pos)
        m_pos->transportGone();
}

int Device::recordSizeFromSerial() const
{
    return v7k_pos_record_size(m_context.serial);
}

int Device::forgetIdentity()
{
    if (!m_transport)
        return -1;
    {
        std::lock_guard<std::recursive_mutex> lock(m_transport->dispatchMutex());
        m_context.firmwareMajor = 0;
        m_context.firmwareMinor = 0;
        std::memset(m_context.serial, 0, sizeof m_context.serial);
        std::memset(m_context.buildDate, 0, sizeof m_context.buildDate);
        m_lastVersion = 0;
    }
    const int version = requestVersion();
    const int date = requestBuildDate();
    return version == 0 && date == 0 ? 0 : -1;
}

int Device::simpleRequest(uint8_t command, const std::vector<uint8_t> &payload)
{
    if (!m_transport)
        return -1;
    return m_transport->request(command, payload, [](const Frame &) {}) ? 0 : -1;
}

int Device::requestVersion()
{
    if (!m_transport)
        return -1;
    auto handler = [this](const Frame &reply) {
        VersionPayload v;
        if (reply.command == CmdError)
            return;
        if (!decodeVersion(reply.payload, v)) {
            m_transport->countBadPayload();
            return;
        }
        // Serial first: a program that sees a version also finds the serial beside it.
        char serial[16] = {};
        v.serial.copy(serial, sizeof serial - 1);
        std::memcpy(m_context.serial, serial, sizeof serial);
        m_context.hardwareVersion = v.hardware;
        m_context.firmwareMinor = v.minor;
        m_context.firmwareMajor = v.major;
        // New firmware brings a new build date, which the program asks for only while it
        // has none; fetch it here so that the old date does not stay on show.
        const unsigned version = unsigned(v.major) << 8 | v.minor;
        if (m_lastVersion != 0 && version != m_lastVersion)
            requestBuildDate();
        m_lastVersion = version;
    };
    return m_transport->request(CmdVersion, {}, handler) ? 0 : -1;
}

int Device::requestBuildDate()
{
    if (!m_transport)
        return -1;
    auto handler = [this](const Frame &reply) {
        std::string date;
        if (reply.command == CmdError)
            return;
        if (!decodeBuildDate(reply.payload, date)) {
            m_transport->countBadPayload();
            return;
        }
        char text[21] = {};
        date.copy(text, sizeof text - 1);
        std::memcpy(m_context.buildDate, text, sizeof text);
    };
    return m_transport->request(CmdBuildDate, {}, handler) ? 0 : -1;
}

int Device::requestWorkParam()
{
    if (!m_transport)
        return -1;
    auto handler = [this](const Frame &reply) {
        WorkParam p;
        if (reply.command != CmdError && decodeWorkParam(reply.payload, p) && p.mode != 0)
            m_context.workParam = p;
    };
    return m_transport->request(CmdWorkParamGet, {}, handler) ? 0 : -1;
}

int Device::changeWorkMode(int mode)
{
    if (mode < 0 || mode > 255)
        return -1;
    return simpleRequest(CmdWorkMode, encodeBytes({uint8_t(mode)}));
}

int Device::setWorkParam(const WorkParam &param)
{
    if (!m_transport)
        return -1;
    auto handler = [this](const Frame &reply) {
        uint8_t result = 0;
        WorkParam kept;
        if (reply.command != CmdError && decodeResultWorkParam(reply.payload, result, kept) &&
            result == ResultOk && kept.mode != 0)
            m_context.workParam = kept;
    };
    return m_transport->request(CmdWorkParamSet, encodeWorkParam(param), handler) ? 0 : -1;
}

int Device::shutter()
{
    if (!m_transport)
        return -1;
    auto handler = [this](const Frame &reply) {
        if (reply.command != CmdError && reply.payload.size() == 5 && reply.payload[0] == ResultOk)
            m_context.photoCount = ByteOrder::getBe32(reply.payload.data() + 1);
    };
    return m_transport->request(CmdShutter, {}, handler) ? 0 : -1;
}

} // namespace vived
