// One datagram of the camera protocol (PROTOCOL.md): header, payload and CRC-32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vived {

constexpr uint8_t kFrameMagic0 = 0x56; // 'V'
constexpr uint8_t kFrameMagic1 = 0x37; // '7'
constexpr uint8_t kFrameVersion = 1;
constexpr size_t kFrameHeaderSize = 10;
constexpr size_t kFrameTrailerSize = 4;
constexpr size_t kMaxPayload = 1400;
constexpr size_t kMaxFrameSize = kFrameHeaderSize + kMaxPayload + kFrameTrailerSize;

// A decoded frame; the payload is copied out of the datagram.
struct Frame
{
    uint8_t command = 0;
    uint32_t sequence = 0;
    std::vector<uint8_t> payload;
};

enum class DecodeResult {
    Ok,
    TooShort,       // shorter than header + trailer
    BadMagic,
    BadVersion,
    BadLength,      // payload length runs past the datagram, or bytes follow the frame
    BadCrc,
    UnknownCommand,
};

const char *decodeResultName(DecodeResult result);

// Decodes one whole datagram; nothing in it is trusted.
DecodeResult decodeFrame(const uint8_t *data, size_t size, Frame &frame);
// Encodes a frame; a payload longer than kMaxPayload is refused with an empty result.
std::vector<uint8_t> encodeFrame(uint8_t command, uint32_t sequence, const uint8_t *payload,
                                 size_t payloadSize);
inline std::vector<uint8_t> encodeFrame(const Frame &frame)
{
    return encodeFrame(frame.command, frame.sequence, frame.payload.data(), frame.payload.size());
}

} // namespace vived
