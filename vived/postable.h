// POS records as the camera stores them (32 or 52 bytes, big-endian) and the tab-separated
// tables the library writes from them: the main table and the five per-lens tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vived {

// One decoded POS record with the values the tables print.
struct PosRecord
{
    int id = 0;
    int32_t lonRaw = 0;
    int32_t latRaw = 0;
    double lon = 0, lat = 0, alt = 0, heading = 0, pitch = 0, roll = 0, psiGps = 0, speed = 0;
    std::string time;
    int32_t offsets[5] = {};    // front, right, back, left, centre (52-byte records)
};

// Decodes raw records and formats the rows of the main and per-lens tables.
class PosTable
{
public:
    static bool decode(const uint8_t *raw, int recordSize, PosRecord &record);
    // The time cell of a raw record: Unix or calendar time in local time, or empty.
    static std::string timeText(const uint8_t *raw);
    static std::string mainHeader(int recordSize);
    static std::string mainRow(const PosRecord &record, int recordSize);
    static std::string lensHeader();
    // The row of lens 0..4 for this record; false when the lens has no row (negative offset).
    static bool lensRow(const PosRecord &record, int lens, std::string &row);

    // The table of lens 0..4 beside a main table: the main path up to its ".xls" (split on
    // ".xls", the first non-empty piece) followed by "Front.xls", "Right.xls", "Back.xls",
    // "Left.xls" or "Center.xls".
    static std::string lensPath(const std::string &mainPath, int lens);
    // Opens the five lens tables with "w+" in lens order; a table that cannot be opened leaves
    // it and the later ones closed. Once all five are open each gets its header line. Returns
    // how many were opened.
    static int openLensTables(const std::string &mainPath, FILE *out[5]);
    static bool writeMainHeader(FILE *main, int recordSize);
    // Writes the rows of `count` whole records: one per record to the main table and, for
    // 52-byte records, one per lens to every lens table that is open (lens may be null). The one
    // writer of both the WiFi download and the raw files read from disk. False on a write error.
    static bool writeRows(const uint8_t *raw, size_t count, int recordSize, FILE *main,
                          FILE *const *lens);
};

} // namespace vived
