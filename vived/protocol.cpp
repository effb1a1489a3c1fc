#include "protocol.h"

#include "byteorder.h"

#include <cstring>

namespace vived {

bool isKnownCommand(uint8_t c)
{
    if (c == CmdError || c == CmdStatus)
        return true;
    const uint8_t base = c & uint8_t(~kReplyBit);
    return (base >= CmdVersion && base <= CmdShutter) ||
           (base >= CmdPosInfo && base <= CmdPosRemove) ||
           (base >= CmdFwStart && base <= CmdFwConfirm);
}

void putWorkParam(uint8_t *o, const WorkParam &p)
{
    std::memset(o, 0, 24);
    o[0] = p.mode;
    o[1] = p.activation;
    o[2] = p.reserved2[0];
    o[3] = p.reserved2[1];
    o[4] = p.activationLevel;
    o[5] = p.reserved5;
    ByteOrder::putLe16(o + 6, p.powerOnDelay);
    ByteOrder::putLe16(o + 8, p.activationAltitude);
    ByteOrder::putLe16(o + 10, p.manualDelay);
    o[12] = p.pulseTime;
    o[13] = p.pulsePeriod;
    ByteOrder::putLe16(o + 14, p.pulseDuration);
    o[16] = p.ioLevel;
    o[17] = p.edgeRising;
    ByteOrder::putLe16(o + 18, p.ioDuration);
    ByteOrder::putLe16(o + 20, p.timeInterval);
    ByteOrder::putLe16(o + 22, p.distanceInterval);
}

WorkParam getWorkParam(const uint8_t *i)
{
    WorkParam p;
    p.mode = i[0];
    p.activation = i[1];
    p.reserved2[0] = i[2];
    p.reserved2[1] = i[3];
    p.activationLevel = i[4];
    p.reserved5 = i[5];
    p.powerOnDelay = ByteOrder::getLe16(i + 6);
    p.activationAltitude = ByteOrder::getLe16(i + 8);
    p.manualDelay = ByteOrder::getLe16(i + 10);
    p.pulseTime = i[12];
    p.pulsePeriod = i[13];
    p.pulseDuration = ByteOrder::getLe16(i + 14);
    p.ioLevel = i[16];
    p.edgeRising = i[17];
    p.ioDuration = ByteOrder::getLe16(i + 18);
    p.timeInterval = ByteOrder::getLe16(i + 20);
    p.distanceInterval = ByteOrder::getLe16(i + 22);
    return p;
}

Bytes encodeStatus(const StatusPayload &s)
{
    Bytes b(kStatusSize, 0);
    uint8_t *o = b.data();
    ByteOrder::putBe32(o, s.state);
    ByteOrder::putBe32(o + 4, s.photoCount);
    ByteOrder::putBe32(o + 8, uint32_t(s.satellites));
    ByteOrder::putBe32(o + 12, s.posBytes);
    for (int i = 0; i < 5; ++i)
        ByteOrder::putBe16(o + 16 + size_t(2 * i), s.cameraPhotos[i]);
    o[26] = s.cameraState;
    o[27] = s.selfTest;
    ByteOrder::putBe16(o + 28, s.landingGear);
    o[30] = s.workMode;
    o[31] = s.upgradePhase;
    putWorkParam(o + 32, s.workParam);
    return b;
}

bool decodeStatus(const Bytes &in, StatusPayload &s)
{
    if (in.size() != kStatusSize)
        return false;
    const uint8_t *i = in.data();
    s.state = ByteOrder::getBe32(i);
    s.photoCount = ByteOrder::getBe32(i + 4);
    s.satellites = int32_t(ByteOrder::getBe32(i + 8));
    s.posBytes = ByteOrder::getBe32(i + 12);
    for (int k = 0; k < 5; ++k)
        s.cameraPhotos[k] = ByteOrder::getBe16(i + 16 + size_t(2 * k));
    s.cameraState = i[26];
    s.selfTest = i[27];
    s.landingGear = ByteOrder::getBe16(i + 28);
    s.workMode = i[30];
    s.upgradePhase = i[31];
    s.workParam = getWorkParam(i + 32);
    return true;
}

Bytes encodeVersion(const VersionPayload &v)
{
    Bytes b(kVersionSize, 0);
    b[0] = v.hardware;
    b[1] = v.major;
    b[2] = v.minor;
    std::memcpy(b.data() + 4, v.serial.data(), std::min<size_t>(v.serial.size(), 15));
    return b;
}

// Text fields are NUL-padded; anything after the first NUL and bytes below 0x20 are refused
// so that a hostile camera cannot plant control characters in the program's labels.
static bool readText(const uint8_t *p, size_t n, std::string &out)
{
    out.clear();
    size_t k = 0;
    for (; k < n && p[k]; ++k) {
        if (p[k] < 0x20 || p[k] == 0x7f)
            return false;
        out.push_back(char(p[k]));
    }
    for (; k < n; ++k) {
        if (p[k])
            return false;
    }
    return true;
}

bool decodeVersion(const Bytes &in, VersionPayload &v)
{
    if (in.size() != kVersionSize || in[3] != 0 || in[19] != 0)
        return false;
    v.hardware = in[0];
    v.major = in[1];
    v.minor = in[2];
    return readText(in.data() + 4, 16, v.serial);
}

Bytes encodeBuildDate(const std::string &date)
{
    const size_t n = std::min<size_t>(date.size(), 20);
    Bytes b(1 + n);
    b[0] = uint8_t(n);
    std::memcpy(b.data() + 1, date.data(), n);
    return b;
}

bool decodeBuildDate(const Bytes &in, std::string &date)
{
    if (in.empty() || in[0] > 20 || in.size() != size_t(1 + in[0]))
        return false;
    return readText(in.data() + 1, in[0], date) && date.size() == in[0];
}

Bytes encodeWorkParam(const WorkParam &p)
{
    Bytes b(24);
    putWorkParam(b.data(), p);
    return b;
}

bool decodeWorkParam(const Bytes &in, WorkParam &p)
{
    if (in.size() != 24)
        return false;
    p = getWorkParam(in.data());
    return true;
}

Bytes encodeResultWorkParam(uint8_t result, const WorkParam &p)
{
    Bytes b(25);
    b[0] = result;
    putWorkParam(b.data() + 1, p);
    return b;
}

bool decodeResultWorkParam(const Bytes &in, uint8_t &result, WorkParam &p)
{
    if (in.size() != 25)
        return false;
    result = in[0];
    p = getWorkParam(in.data() + 1);
    return true;
}

Bytes encodePosInfo(const PosInfoPayload &i)
{
    Bytes b(kPosInfoSize);
    b[0] = i.slot;
    b[1] = i.fileNumber;
    ByteOrder::putBe32(b.data() + 2, i.start);
    ByteOrder::putBe32(b.data() + 6, i.end);
    std::memcpy(b.data() + 10, i.time, 6);
    b[16] = i.recordSize;
    b[17] = i.downloadCount;
    return b;
}

bool decodePosInfo(const Bytes &in, PosInfoPayload &i)
{
    if (in.size() != kPosInfoSize)
        return false;
    i.slot = in[0];
    i.fileNumber = in[1];
    i.start = ByteOrder::getBe32(in.data() + 2);
    i.end = ByteOrder::getBe32(in.data() + 6);
    std::memcpy(i.time, in.data() + 10, 6);
    i.recordSize = in[16];
    i.downloadCount = in[17];
    return i.end >= i.start;
}

Bytes encodePosRead(const PosReadPayload &r)
{
    Bytes b(kPosReadSize);
    b[0] = r.fileNumber;
    ByteOrder::putBe32(b.data() + 1, r.offset);
    ByteOrder::putBe16(b.data() + 5, r.length);
    return b;
}

bool decodePosRead(const Bytes &in, PosReadPayload &r)
{
    if (in.size() != kPosReadSize)
        return false;
    r.fileNumber = in[0];
    r.offset = ByteOrder::getBe32(in.data() + 1);
    r.length = ByteOrder::getBe16(in.data() + 5);
    return r.length > 0 && r.length <= kMaxPosChunk;
}

Bytes encodePosData(const PosDataPayload &d)
{
    Bytes b(5 + d.data.size());
    b[0] = d.fileNumber;
    ByteOrder::putBe32(b.data() + 1, d.offset);
    std::memcpy(b.data() + 5, d.data.data(), d.data.size());
    return b;
}

bool decodePosData(const Bytes &in, PosDataPayload &d)
{
    if (in.size() < 5 || in.size() > 5 + size_t(kMaxPosChunk))
        return false;
    d.fileNumber = in[0];
    d.offset = ByteOrder::getBe32(in.data() + 1);
    d.data.assign(in.begin() + 5, in.end());
    return true;
}

Bytes encodeFwStart(const FwStartPayload &s)
{
    Bytes b(kFwStartSize, 0);
    b[0] = s.target;
    ByteOrder::putBe16(b.data() + 2, s.chunkSize);
    ByteOrder::putBe32(b.data() + 4, s.imageSize);
    ByteOrder::putBe32(b.data() + 8, s.imageCrc);
    std::memcpy(b.data() + 12, s.minimumDate.data(), std::min<size_t>(s.minimumDate.size(), 8));
    return b;
}

bool decodeFwStart(const Bytes &in, FwStartPayload &s)
{
    if (in.size() != kFwStartSize)
        return false;
    s.target = in[0];
    s.chunkSize = ByteOrder::getBe16(in.data() + 2);
    s.imageSize = ByteOrder::getBe32(in.data() + 4);
    s.imageCrc = ByteOrder::getBe32(in.data() + 8);
    return s.chunkSize > 0 && s.chunkSize <= kMaxFwChunk &&
           readText(in.data() + 12, 8, s.minimumDate);
}

Bytes encodeFwChunk(const FwChunkPayload &c)
{
    Bytes b(4 + c.data.size());
    ByteOrder::putBe32(b.data(), c.offset);
    std::memcpy(b.data() + 4, c.data.data(), c.data.size());
    return b;
}

bool decodeFwChunk(const Bytes &in, FwChunkPayload &c)
{
    if (in.size() <= 4 || in.size() > 4 + size_t(kMaxFwChunk))
        return false;
    c.offset = ByteOrder::getBe32(in.data());
    c.data.assign(in.begin() + 4, in.end());
    return true;
}

Bytes encodeFwChunkAck(const FwChunkAck &a)
{
    Bytes b(7);
    ByteOrder::putBe32(b.data(), a.offset);
    ByteOrder::putBe16(b.data() + 4, a.length);
    b[6] = a.result;
    return b;
}

bool decodeFwChunkAck(const Bytes &in, FwChunkAck &a)
{
    if (in.size() != 7)
        return false;
    a.offset = ByteOrder::getBe32(in.data());
    a.length = ByteOrder::getBe16(in.data() + 4);
    a.result = in[6];
    return true;
}

Bytes encodeFwProgress(const FwProgressPayload &p)
{
    Bytes b(kFwProgressSize);
    b[0] = p.phase;
    b[1] = p.major;
    b[2] = p.minor;
    ByteOrder::putBe32(b.data() + 3, p.received);
    return b;
}

bool decodeFwProgress(const Bytes &in, FwProgressPayload &p)
{
    if (in.size() != kFwProgressSize)
        return false;
    p.phase = in[0];
    p.major = in[1];
    p.minor = in[2];
    p.received = ByteOrder::getBe32(in.data() + 3);
    return p.phase <= PhaseFailed;
}

Bytes encodeBytes(std::initializer_list<uint8_t> fields)
{
    return Bytes(fields);
}

bool decodeBytes(const Bytes &in, size_t count, uint8_t *fields)
{
    if (in.size() != count)
        return false;
    std::memcpy(fields, in.data(), count);
    return true;
}

Bytes encodeFwCommit(uint32_t size, uint32_t crc)
{
    Bytes b(8);
    ByteOrder::putBe32(b.data(), size);
    ByteOrder::putBe32(b.data() + 4, crc);
    return b;
}

bool decodeFwCommit(const Bytes &in, uint32_t &size, uint32_t &crc)
{
    if (in.size() != 8)
        return false;
    size = ByteOrder::getBe32(in.data());
    crc = ByteOrder::getBe32(in.data() + 4);
    return true;
}

bool decodeAnyPayload(uint8_t command, const Bytes &p)
{
    uint8_t f[4];
    WorkParam wp;
    std::string text;
    uint32_t a, b;
    switch (command) {
    case CmdStatus: {
        StatusPayload s;
        return decodeStatus(p, s);
    }
    case CmdVersion:
    case CmdBuildDate:
    case CmdWorkParamGet:
    case CmdShutter:
    case CmdFwProgress:
    case CmdFwConfirm:
    case CmdFwConfirm | kReplyBit:
        return p.empty();
    case CmdVersion | kReplyBit: {
        VersionPayload v;
        return decodeVersion(p, v);
    }
    case CmdBuildDate | kReplyBit:
        return decodeBuildDate(p, text);
    case CmdWorkParamGet | kReplyBit:
    case CmdWorkParamSet:
        return decodeWorkParam(p, wp);
    case CmdWorkParamSet | kReplyBit:
        return decodeResultWorkParam(p, f[0], wp);
    case CmdWorkMode:
    case CmdPosInfo:
    case CmdPosSuccess:
    case CmdPosCancel:
    case CmdPosRemove:
    case CmdPosCancel | kReplyBit:
    case CmdFwStart | kReplyBit:
    case CmdFwCommit | kReplyBit:
        return decodeBytes(p, 1, f);
    case CmdWorkMode | kReplyBit:
    case CmdPosSuccess | kReplyBit:
    case CmdPosRemove | kReplyBit:
    case CmdError:
        return decodeBytes(p, 2, f);
    case CmdShutter | kReplyBit:
        return p.size() == 5;
    case CmdPosInfo | kReplyBit: {
        PosInfoPayload i;
        return decodePosInfo(p, i);
    }
    case CmdPosRead: {
        PosReadPayload r;
        return decodePosRead(p, r);
    }
    case CmdPosRead | kReplyBit: {
        PosDataPayload d;
        return decodePosData(p, d);
    }
    case CmdFwStart: {
        FwStartPayload s;
        return decodeFwStart(p, s);
    }
    case CmdFwChunk: {
        FwChunkPayload c;
        return decodeFwChunk(p, c);
    }
    case CmdFwChunk | kReplyBit: {
        FwChunkAck k;
        return decodeFwChunkAck(p, k);
    }
    case CmdFwCommit:
        return decodeFwCommit(p, a, b);
    case CmdFwProgress | kReplyBit: {
        FwProgressPayload g;
        return decodeFwProgress(p, g);
    }
    default:
        return false;
    }
}

} // namespace vived
