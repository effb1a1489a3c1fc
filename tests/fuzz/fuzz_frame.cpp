// Feeds what comes from the camera with hostile bytes: the frame decoder and every payload
// decoder, raw POS records of both sizes with the table row writers, and the firmware image
// checks and the decryption of the encrypted container.
#include "firmwareimage.h"
#include "frame.h"
#include "postable.h"
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
    for (int recordSize : {32, 52}) {
        for (size_t at = 0; at + size_t(recordSize) <= size; at += size_t(recordSize)) {
            vived::PosRecord record;
            if (!vived::PosTable::decode(data + at, recordSize, record))
                continue;
            vived::PosTable::mainRow(record, recordSize);
            std::string row;
            for (int lens = 0; lens < 5; ++lens)
                vived::PosTable::lensRow(record, lens, row);
        }
    }
    const std::vector<uint8_t> file(data, data + size);
    vived::FirmwareHeader header;
    if (vived::FirmwareImage::parse(file, header) &&
        header.bodyLength != size - vived::FirmwareImage::kHeaderSize)
        std::abort();
    std::vector<uint8_t> plain;
    if (vived::FirmwareImage::decrypt(file, plain) && plain.size() >= size)
        std::abort(); // padding and header always make the container longer
    return 0;
}
