// Feeds the camera-frame decoder and every payload decoder with hostile bytes.
#include "frame.h"
#include "protocol.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    vived::Frame frame;
    if (vived::decodeFrame(data, size, frame) == vived::DecodeResult::Ok) {
        vived::decodeAnyPayload(frame.command, frame.payload);
        // A frame the decoder accepts must be exactly what the encoder makes of it.
        const std::vector<uint8_t> again = vived::encodeFrame(frame);
        if (again.size() != size || !std::equal(again.begin(), again.end(), data))
            std::abort();
    }
    if (size > 0) {
        // The first byte picks a command, the rest is its payload, so that payload decoders
        // see hostile input without the fuzzer having to forge a CRC first.
        const vived::Bytes payload(data + 1, data + size);
        vived::decodeAnyPayload(data[0], payload);
        vived::decodeAnyPayload(uint8_t(data[0] | vived::kReplyBit), payload);
    }
    return 0;
}
