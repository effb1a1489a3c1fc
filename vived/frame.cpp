#include "frame.h"

#include "byteorder.h"
#include "protocol.h"

#include <zlib.h>

namespace vived {

const char *decodeResultName(DecodeResult result)
{
    switch (result) {
    case DecodeResult::Ok:
        return "ok";
    case DecodeResult::TooShort:
        return "too short";
    case DecodeResult::BadMagic:
        return "bad magic";
    case DecodeResult::BadVersion:
        return "bad version";
    case DecodeResult::BadLength:
        return "bad length";
    case DecodeResult::BadCrc:
        return "bad crc";
    case DecodeResult::UnknownCommand:
        return "unknown command";
    }
    return "?";
}

static uint32_t frameCrc(const uint8_t *data, size_t size)
{
    return uint32_t(crc32(crc32(0L, Z_NULL, 0), data, uInt(size)));
}

DecodeResult decodeFrame(const uint8_t *data, size_t size, Frame &frame)
{
    if (!data || size < kFrameHeaderSize + kFrameTrailerSize)
        return DecodeResult::TooShort;
    if (data[0] != kFrameMagic0 || data[1] != kFrameMagic1)
        return DecodeResult::BadMagic;
    if (data[2] != kFrameVersion)
        return DecodeResult::BadVersion;
    const size_t length = ByteOrder::getBe16(data + 8);
    if (length > kMaxPayload || kFrameHeaderSize + length + kFrameTrailerSize != size)
        return DecodeResult::BadLength;
    const size_t crcAt = kFrameHeaderSize + length;
    if (ByteOrder::getBe32(data + crcAt) != frameCrc(data, crcAt))
        return DecodeResult::BadCrc;
    if (!isKnownCommand(data[3]))
        return DecodeResult::UnknownCommand;
    frame.command = data[3];
    frame.sequence = ByteOrder::getBe32(data + 4);
    frame.payload.assign(data + kFrameHeaderSize, data + crcAt);
    return DecodeResult::Ok;
}

std::vector<uint8_t> encodeFrame(uint8_t command, uint32_t sequence, const uint8_t *payload,
                                 size_t payloadSize)
{
    if (payloadSize > kMaxPayload || (payloadSize && !payload))
        return {};
    std::vector<uint8_t> out(kFrameHeaderSize + payloadSize + kFrameTrailerSize);
    out[0] = kFrameMagic0;
    out[1] = kFrameMagic1;
    out[2] = kFrameVersion;
    out[3] = command;
    ByteOrder::putBe32(out.data() + 4, sequence);
    ByteOrder::putBe16(out.data() + 8, uint16_t(payloadSize));
    for (size_t i = 0; i < payloadSize; ++i)
        out[kFrameHeaderSize + i] = payload[i];
    const size_t crcAt = kFrameHeaderSize + payloadSize;
    ByteOrder::putBe32(out.data() + crcAt, frameCrc(out.data(), crcAt));
    return out;
}

} // namespace vived
