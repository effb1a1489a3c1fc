#pragma once

#include <cstddef>
#include <cstdint>

// The zip format's record signatures and fixed sizes, for the readers and writers that handle
// records themselves beside the zip library.
namespace ZipRecords {

constexpr uint32_t LocalSignature = 0x04034b50;
constexpr uint32_t DirectorySignature = 0x02014b50;
constexpr uint32_t EndSignature = 0x06054b50;
constexpr uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr uint32_t Zip64EndSignature = 0x06064b50;
constexpr size_t LocalSize = 30;
constexpr size_t DirectorySize = 46;
constexpr size_t EndSize = 22;
constexpr size_t Zip64LocatorSize = 20;
constexpr size_t Zip64EndSize = 56;

} // namespace ZipRecords
