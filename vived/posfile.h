/* POS file transfer over the device link: the slot descriptions, the manager record the program
 * reads and writes directly, the transfer calls and the helpers that decode POS records and
 * write their tables. Included by v7k.h. */
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "staticcheck.h"

#ifdef __cplusplus
extern "C" {
#endif

#define POSFILE_SLOT_COUNT 14
#define POSFILE_LENS_COUNT 5

#pragma pack(push, 1)
/* One slot's description as posfile_info_get leaves it: 31 bytes, multi-byte fields in the
 * PC's own byte order. A slot without a file has fileNumber 0 and start == end == 0. */
typedef struct PosFileInfo
{
    uint8_t fileNumber;         /* 0 passed back to the file calls */
    uint32_t startAddress;      /* 1 */
    uint8_t reserved5[4];       /* 5 */
    uint8_t year;               /* 9 year - 2000, camera clock (UTC) */
    uint8_t month;              /* 10 */
    uint8_t day;                /* 11 */
    uint8_t hour;               /* 12 */
    uint8_t minute;             /* 13 */
    uint8_t second;             /* 14 */
    uint32_t endAddress;        /* 15 size in bytes = end - start */
    uint8_t recordSize;         /* 19 32 or 52, as the camera wrote the file */
    uint8_t reserved20[9];      /* 20 */
    uint8_t downloadCount;      /* 29 how many times the file was downloaded */
    uint8_t reserved30;         /* 30 */
} PosFileInfo;

/* Transfer state byte of the manager record. */
#define POSFILE_STATE_READY 1       /* ready for the next request (the program sets it) */
#define POSFILE_STATE_RUNNING 2     /* the library is receiving the file */
#define POSFILE_STATE_COMPLETE 3    /* all bytes written and flushed; the program closes file */

/* What the manager is busy with (activity field), read by the link's heartbeat. */
#define POSFILE_ACTIVITY_IDLE 0
#define POSFILE_ACTIVITY_TRANSFER 1
#define POSFILE_ACTIVITY_UPGRADE 2

/* The manager record returned by posfile_manager_init. The library owns it; the program reads
 * and writes the fields below at their byte offsets, from the GUI thread, while the receive
 * thread updates them.
 *
 * 64-bit note: the per-lens FILE pointers cannot sit in the 4-byte words at 0x1d7..0x1e7. Those
 * words keep their place and meaning ("table i is open") as lensOpen[]; the pointers themselves
 * are lensFile[] at 0x1f3. Whoever opens a per-lens table stores its pointer in lensFile[i]
 * (and may set lensOpen[i]); the library writes rows into every non-null lensFile[i] and never
 * closes them, except on a cancel. The main table pointer at 0x1b6 fits in its 8 bytes. */
typedef struct PosFileManager
{
    PosFileInfo cache[POSFILE_SLOT_COUNT]; /* 0x000 cached descriptions, entry k = slot k+1 */
    uint32_t cacheMask;         /* 0x1b2 bit k set: cache[k] holds an answer of the camera */
    FILE *file;                 /* 0x1b6 main table of the current download */
    uint8_t state;              /* 0x1be POSFILE_STATE_* */
    uint32_t received;          /* 0x1bf bytes received so far for the current file */
    uint32_t reserved1c3;       /* 0x1c3 */
    uint32_t fileNumber;        /* 0x1c7 file number of the current file */
    uint32_t expectedSize;      /* 0x1cb expected size in bytes of the current file */
    uint32_t completion;        /* 0x1cf 1 at request time: the program marks completion itself
                                   (firmware before 4.5); 1 after posfile_file_success */
    uint32_t independentPos;    /* 0x1d3 1 = also write the five per-lens tables */
    uint32_t lensOpen[POSFILE_LENS_COUNT]; /* 0x1d7 front, right, back, left, centre */
    uint32_t activity;          /* 0x1eb POSFILE_ACTIVITY_* */
    uint32_t progress;          /* 0x1ef advances with every accepted chunk of the activity */
    FILE *lensFile[POSFILE_LENS_COUNT]; /* 0x1f3 per-lens tables, null when not open */
    void *device;               /* 0x21b the library's device this manager belongs to */
} PosFileManager;
#pragma pack(pop)

VIVED_STATIC_ASSERT(sizeof(PosFileInfo) == 31, "PosFileInfo is 31 bytes");
VIVED_STATIC_ASSERT(offsetof(PosFileInfo, startAddress) == 1, "startAddress");
VIVED_STATIC_ASSERT(offsetof(PosFileInfo, year) == 9, "year");
VIVED_STATIC_ASSERT(offsetof(PosFileInfo, second) == 14, "second");
VIVED_STATIC_ASSERT(offsetof(PosFileInfo, endAddress) == 15, "endAddress");
VIVED_STATIC_ASSERT(offsetof(PosFileInfo, downloadCount) == 29, "downloadCount");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, cacheMask) == 0x1b2, "cacheMask");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, file) == 0x1b6, "file");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, state) == 0x1be, "state");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, received) == 0x1bf, "received");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, fileNumber) == 0x1c7, "fileNumber");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, expectedSize) == 0x1cb, "expectedSize");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, completion) == 0x1cf, "completion");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, independentPos) == 0x1d3, "independentPos");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, lensOpen) == 0x1d7, "lensOpen");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, activity) == 0x1eb, "activity");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, progress) == 0x1ef, "progress");
VIVED_STATIC_ASSERT(offsetof(PosFileManager, lensFile) == 0x1f3, "lensFile");

/* Transfer calls. handle is the manager; slots are 1..14. Results are 0, or -1 when the call
 * could not be sent (no link, bad argument); the answers arrive in the manager. */

/* arg is the first word of the device context (v7k_context.posfileArg). One manager per device;
 * a second call returns the same record. 0 on failure. */
PosFileManager *posfile_manager_init(void *arg);
/* Asks for one slot's description; the answer lands in cache[slot-1] and sets the new-POS bit
 * of the device context's state word. */
int posfile_info_request(PosFileManager *handle, int slot);
/* Copies the cached description of the slot into out: 0, or -1 when none has arrived. */
int posfile_info_get(PosFileManager *handle, int slot, PosFileInfo *out);
/* Downloads a file whose size and record size come from the cached description. */
int posfile_file_request(PosFileManager *handle, int fileNumber, const char *path);
/* Downloads expectedSize bytes of a file of recordSize-byte records (32 or 52) into the main
 * table at path, and into the per-lens tables when independentPos is 1. */
int posfile_file_request_offset(PosFileManager *handle, int fileNumber, const char *path,
                                int expectedSize, int recordSize);
/* Bytes received so far for the current file. */
uint32_t posfile_process(PosFileManager *handle);
/* Confirms the file to the camera (it counts the download); state becomes 3 on its answer. */
int posfile_file_success(PosFileManager *handle, int fileNumber);
/* Stops the current download. What was written stays on disk; the library closes the tables. */
int posfile_file_cancelRequest(PosFileManager *handle);
/* Deletes the file on the camera; its slot then reads as empty. */
int posfile_file_remove(PosFileManager *handle, int fileNumber);

/* Big-endian field readers for POS records; p points at the field's first byte. */
int16_t _posfile_big2littles(const void *p);
uint16_t _posfile_big2littleus(const void *p);
int32_t __posfile_big2littlel(const void *p); /* NOLINT(bugprone-reserved-identifier): the
                                                 program calls it by this name */

/* Converts a UTC calendar time (year - 2000, month, day, hour, minute, second) to the PC's
 * local time in place; out-of-range fields are normalised (month 13 = January of the next
 * year). 0, or -1 for a null pointer (fields left unchanged). */
int _utc2localtime(uint8_t *year, uint8_t *month, uint8_t *day, uint8_t *hour, uint8_t *minute,
                   uint8_t *second);

/* Moves (lon, lat) in degrees by distance metres along heading degrees (clockwise from north)
 * on the WGS84 ellipsoid. 0, or -1 for non-finite input or a latitude beyond +-90. */
int CalcNextPoint(double lon, double lat, double distance, double heading, double *outLon,
                  double *outLat);

/* Writes the header line of one per-lens table. 0, or -1 on a null file or a write error. */
int _ofrm_initexcelheadoffsetsingle(FILE *file);

#ifdef __cplusplus
}
#endif
