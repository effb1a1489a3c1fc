// The firmware file formats (FIRMWARE.md): the plain image the camera installs and the
// encrypted container it is shipped in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vived {

// The fields of a plain image header.
struct FirmwareHeader
{
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t hardware = 0;       // 0 = any
    uint32_t bodyLength = 0;
    uint32_t bodyCrc = 0;
    std::string buildDate;      // at most 20 characters
    std::string model;          // model word the image is for, at most 8 characters; empty = any
};

// Builds, checks, encrypts and decrypts firmware files.
class FirmwareImage
{
public:
    static constexpr size_t kHeaderSize = 64;
    static constexpr size_t kEncryptedHeaderSize = 32;

    // A plain image: header followed by body.
    static std::vector<uint8_t> build(const FirmwareHeader &header, const std::vector<uint8_t> &body);
    // Checks magic, header CRC, body length and body CRC. On success fills header.
    static bool parse(const std::vector<uint8_t> &image, FirmwareHeader &header);

    static bool isEncrypted(const std::vector<uint8_t> &file);
    static bool encrypt(const std::vector<uint8_t> &plain, std::vector<uint8_t> &out);
    static bool decrypt(const std::vector<uint8_t> &file, std::vector<uint8_t> &plain);

    static bool readFile(const char *path, std::vector<uint8_t> &data, size_t limit = 64u << 20);
    static bool writeFile(const char *path, const std::vector<uint8_t> &data);
};

} // namespace vived
