// Commands and payloads of the camera protocol (PROTOCOL.md), shared by the library and the
// simulator. Every payload is encoded and decoded field by field; decoders refuse any payload
// whose length is not exactly what the command carries.
#pragma once

#include "v7k.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vived {

enum Command : uint8_t {
    CmdStatus = 0x01,           // camera -> library, pushed
    CmdVersion = 0x02,
    CmdBuildDate = 0x03,
    CmdWorkParamGet = 0x04,
    CmdWorkParamSet = 0x05,
    CmdWorkMode = 0x06,
    CmdShutter = 0x07,
    CmdPosInfo = 0x10,
    CmdPosRead = 0x11,
    CmdPosSuccess = 0x12,
    CmdPosCancel = 0x13,
    CmdPosRemove = 0x14,
    CmdFwStart = 0x20,
    CmdFwChunk = 0x21,
    CmdFwCommit = 0x22,
    CmdFwProgress = 0x23,
    CmdFwConfirm = 0x24,
    CmdError = 0xff,            // camera -> library, answers a request it refuses
};
constexpr uint8_t kReplyBit = 0x80;

bool isKnownCommand(uint8_t command);
inline bool isRequest(uint8_t command) { return command != CmdStatus && command < kReplyBit; }

// Result and error codes carried in replies.
enum ResultCode : uint8_t {
    ResultOk = 0,
    ResultBadArgument = 1,
    ResultNoSuchFile = 2,
    ResultBadOffset = 3,
    ResultBusy = 4,
    ResultBadImage = 5,
    ResultUnknownCommand = 6,
};

// Firmware upgrade phases reported by CmdFwProgress.
enum UpgradePhase : uint8_t {
    PhaseIdle = 0,
    PhaseReceiving = 1,
    PhaseInstalling = 2,
    PhaseInstalled = 3,
    PhaseFailed = 4,
};

// The status frame a camera pushes several times a second.
struct StatusPayload
{
    uint32_t state = 0;         // bit 1 GPS hardware good
    uint32_t photoCount = 0;
    int32_t satellites = 0;
    uint32_t posBytes = 0;
    uint16_t cameraPhotos[5] = {};
    uint8_t cameraState = 0;
    uint8_t selfTest = 0;
    uint16_t landingGear = 0;
    uint8_t workMode = 1;
    uint8_t upgradePhase = PhaseIdle;
    WorkParam workParam = {};
};
constexpr size_t kStatusSize = 60;

// Answer to a version request.
struct VersionPayload
{
    uint8_t hardware = 0;
    uint8_t major = 0;
    uint8_t minor = 0;
    std::string serial;         // at most 15 characters
};
constexpr size_t kVersionSize = 20;

// Answer to a POS slot info request.
struct PosInfoPayload
{
    uint8_t slot = 0;
    uint8_t fileNumber = 0;     // 0: the slot holds no file
    uint32_t start = 0;
    uint32_t end = 0;
    uint8_t time[6] = {};       // year - 2000, month, day, hour, minute, second (UTC)
    uint8_t recordSize = 0;
    uint8_t downloadCount = 0;
};
constexpr size_t kPosInfoSize = 18;

// A request for one chunk of a POS file.
struct PosReadPayload
{
    uint8_t fileNumber = 0;
    uint32_t offset = 0;
    uint16_t length = 0;
};
constexpr size_t kPosReadSize = 7;
constexpr uint16_t kMaxPosChunk = 1024;

// The chunk of a POS file that answers a read.
struct PosDataPayload
{
    uint8_t fileNumber = 0;
    uint32_t offset = 0;
    std::vector<uint8_t> data;
};

// Announcement of a firmware image.
struct FwStartPayload
{
    uint8_t target = 0;
    uint16_t chunkSize = 0;
    uint32_t imageSize = 0;
    uint32_t imageCrc = 0;
    std::string minimumDate;    // "yyyymmdd" or "0"
};
constexpr size_t kFwStartSize = 20;

// One chunk of a firmware image.
struct FwChunkPayload
{
    uint32_t offset = 0;
    std::vector<uint8_t> data;
};
constexpr uint16_t kMaxFwChunk = 1408;

// The acknowledgement of a firmware chunk.
struct FwChunkAck
{
    uint32_t offset = 0;
    uint16_t length = 0;
    uint8_t result = 0;
};

// The camera's upgrade phase, polled through its restart.
struct FwProgressPayload
{
    uint8_t phase = PhaseIdle;
    uint8_t major = 0;
    uint8_t minor = 0;
    uint32_t received = 0;
};
constexpr size_t kFwProgressSize = 7;

using Bytes = std::vector<uint8_t>;

void putWorkParam(uint8_t *out, const WorkParam &p); // the camera's 24-byte little-endian record
WorkParam getWorkParam(const uint8_t *in);

Bytes encodeStatus(const StatusPayload &s);
bool decodeStatus(const Bytes &in, StatusPayload &s);
Bytes encodeVersion(const VersionPayload &v);
bool decodeVersion(const Bytes &in, VersionPayload &v);
Bytes encodeBuildDate(const std::string &date);     // at most 20 characters
bool decodeBuildDate(const Bytes &in, std::string &date);
Bytes encodeWorkParam(const WorkParam &p);
bool decodeWorkParam(const Bytes &in, WorkParam &p);
Bytes encodeResultWorkParam(uint8_t result, const WorkParam &p);
bool decodeResultWorkParam(const Bytes &in, uint8_t &result, WorkParam &p);
Bytes encodePosInfo(const PosInfoPayload &i);
bool decodePosInfo(const Bytes &in, PosInfoPayload &i);
Bytes encodePosRead(const PosReadPayload &r);
bool decodePosRead(const Bytes &in, PosReadPayload &r);
Bytes encodePosData(const PosDataPayload &d);
bool decodePosData(const Bytes &in, PosDataPayload &d);
Bytes encodeFwStart(const FwStartPayload &s);
bool decodeFwStart(const Bytes &in, FwStartPayload &s);
Bytes encodeFwChunk(const FwChunkPayload &c);
bool decodeFwChunk(const Bytes &in, FwChunkPayload &c);
Bytes encodeFwChunkAck(const FwChunkAck &a);
bool decodeFwChunkAck(const Bytes &in, FwChunkAck &a);
Bytes encodeFwProgress(const FwProgressPayload &p);
bool decodeFwProgress(const Bytes &in, FwProgressPayload &p);
// Small fixed payloads: a run of u8 fields, and the two u32 of a commit.
Bytes encodeBytes(std::initializer_list<uint8_t> fields);
bool decodeBytes(const Bytes &in, size_t count, uint8_t *fields);
Bytes encodeFwCommit(uint32_t size, uint32_t crc);
bool decodeFwCommit(const Bytes &in, uint32_t &size, uint32_t &crc);

// Decodes the payload of any known command by its own decoder; used by the fuzz target so
// that every payload decoder sees hostile input. True when the payload is well formed.
bool decodeAnyPayload(uint8_t command, const Bytes &payload);

} // namespace vived
