#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Every directory entry of a JPEG's EXIF block with its value, read as a full reader reads it:
// the block of the first "Exif" APP1 section and of the sections that continue it, as one. The
// tag writer lists a photo before and after writing and compares the two.
namespace ExifEntries {

struct Entry
{
    std::string group; // the directory, named as libexiv2 names it: "Image", "Photo", "GPSInfo"
    uint16_t tag = 0;
    uint16_t format = 0;
    uint32_t count = 0;
    // Big-endian whatever the block's order, so a block written in the other order compares
    // equal; for the thumbnail offset the thumbnail's bytes, since only those are its value.
    QByteArray value;

    bool operator<(const Entry &o) const;
    bool operator==(const Entry &o) const;
};

struct Block
{
    int sections = 0;           // "Exif" APP1 sections the block spans
    std::vector<Entry> entries; // sorted; directory links and unreadable values left out
};

// The sections up to the start of scan of a whole photo or of its header alone.
Block read(const char *jpeg, size_t size);

} // namespace ExifEntries
