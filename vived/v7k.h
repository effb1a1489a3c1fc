/* Public C interface of the device library: the calls the program makes to reach the camera,
 * and the device context that the library keeps current behind the device handle. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "staticcheck.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The camera's trigger configuration: 24 bytes, little-endian, sent and received whole. */
#pragma pack(push, 1)
typedef struct WorkParam
{
    uint8_t mode;               /* 1 debug, 2 fixed time, 3 fixed distance, 4 PWM, 5 IO, 6 edge */
    uint8_t activation;         /* 1 landing gear, 2 external level, 3 power-on delay,
                                   4 altitude, 5 manual delay */
    uint8_t reserved2[2];
    uint8_t activationLevel;
    uint8_t reserved5;
    uint16_t powerOnDelay;      /* s */
    uint16_t activationAltitude; /* m */
    uint16_t manualDelay;       /* s */
    uint8_t pulseTime;          /* 0.1 ms */
    uint8_t pulsePeriod;        /* 0.1 ms */
    uint16_t pulseDuration;     /* ms */
    uint8_t ioLevel;
    uint8_t edgeRising;
    uint16_t ioDuration;        /* ms */
    uint16_t timeInterval;      /* 0.1 s */
    uint16_t distanceInterval;  /* 0.1 m */
} WorkParam;

/* The record the library keeps current from the camera's status frames. The program reads it
 * directly, so the offsets are part of the interface. */
typedef struct v7k_context
{
    void *posfileArg;           /* 0x00 handed to posfile_manager_init */
    uint32_t state;             /* 0x08 bit 0 new POS data, bit 1 GPS hardware good */
    uint32_t statusCount;       /* 0x0c status frames received; 0 = no status yet */
    uint8_t reserved10[4];
    uint32_t photoCount;        /* 0x14 exposures triggered */
    uint8_t reserved18[32];
    int32_t satellites;         /* 0x38 satellites in use */
    uint8_t reserved3c[4];
    double posValue;            /* 0x40 POS bytes the camera holds, read as an integer */
    uint8_t reserved48[24];
    WorkParam workParam;        /* 0x60 copy of the camera's work parameters */
    uint8_t reserved78[26];
    uint16_t cameraPhotos[5];   /* 0x92 photo count per camera 1..5 */
    uint8_t hardwareVersion;    /* 0x9c */
    uint8_t reserved9d[11];
    char serial[16];            /* 0xa8 zero-terminated, begins with the model word */
    uint8_t firmwareMajor;      /* 0xb8 0.0 = not yet read */
    uint8_t firmwareMinor;      /* 0xb9 */
    uint8_t cameraState;        /* 0xba bit i for camera i+1 */
    uint8_t reservedbb;
    uint16_t landingGear;       /* 0xbc landing-gear signal, 0 = not lowered */
    char buildDate[21];         /* 0xbe zero-terminated */
    uint8_t selfTest;           /* 0xd3 0 testing, 2 done */
    uint32_t receiveCounter;    /* 0xd4 advances with every frame received */
} v7k_context;
#pragma pack(pop)

VIVED_STATIC_ASSERT(sizeof(WorkParam) == 24, "WorkParam is 24 bytes");
VIVED_STATIC_ASSERT(offsetof(WorkParam, timeInterval) == 20, "timeInterval");
VIVED_STATIC_ASSERT(offsetof(WorkParam, distanceInterval) == 22, "distanceInterval");
VIVED_STATIC_ASSERT(offsetof(v7k_context, posfileArg) == 0x00, "posfileArg");
VIVED_STATIC_ASSERT(offsetof(v7k_context, state) == 0x08, "state");
VIVED_STATIC_ASSERT(offsetof(v7k_context, statusCount) == 0x0c, "statusCount");
VIVED_STATIC_ASSERT(offsetof(v7k_context, photoCount) == 0x14, "photoCount");
VIVED_STATIC_ASSERT(offsetof(v7k_context, satellites) == 0x38, "satellites");
VIVED_STATIC_ASSERT(offsetof(v7k_context, posValue) == 0x40, "posValue");
VIVED_STATIC_ASSERT(offsetof(v7k_context, workParam) == 0x60, "workParam");
VIVED_STATIC_ASSERT(offsetof(v7k_context, cameraPhotos) == 0x92, "cameraPhotos");
VIVED_STATIC_ASSERT(offsetof(v7k_context, hardwareVersion) == 0x9c, "hardwareVersion");
VIVED_STATIC_ASSERT(offsetof(v7k_context, serial) == 0xa8, "serial");
VIVED_STATIC_ASSERT(offsetof(v7k_context, firmwareMajor) == 0xb8, "firmwareMajor");
VIVED_STATIC_ASSERT(offsetof(v7k_context, firmwareMinor) == 0xb9, "firmwareMinor");
VIVED_STATIC_ASSERT(offsetof(v7k_context, cameraState) == 0xba, "cameraState");
VIVED_STATIC_ASSERT(offsetof(v7k_context, landingGear) == 0xbc, "landingGear");
VIVED_STATIC_ASSERT(offsetof(v7k_context, buildDate) == 0xbe, "buildDate");
VIVED_STATIC_ASSERT(offsetof(v7k_context, selfTest) == 0xd3, "selfTest");
VIVED_STATIC_ASSERT(offsetof(v7k_context, receiveCounter) == 0xd4, "receiveCounter");

#define V7K_STATE_NEW_POS 0x1u
#define V7K_STATE_GPS_GOOD 0x2u

/* ---- Transport ------------------------------------------------------------------------------
 * One transport is one UDP socket to one camera plus the receive thread that keeps the device
 * context current. The handle is an AkTele; its first field is public because the program shows
 * a failed flight-controller upgrade from it. */
typedef struct AkTele
{
    volatile int32_t state;     /* AKTELE_STATE_*; written by the library only */
} AkTele;

#define AKTELE_STATE_IDLE 0
#define AKTELE_STATE_RUNNING 1
#define AKTELE_STATE_UPGRADE_FAILED 2   /* the camera refused or could not install an image */

#define AKTELE_KIND_UDP 78      /* the only transport kind: 'N', network */

/* Process-wide set-up and tear-down. Both are idempotent and return 0. */
int aktele_module_init(void);
int aktele_module_exit(void);
/* start, when set, is called first on every thread the library starts, with the thread's name:
 * the program prepares its crash handling there as on its own threads. */
void aktele_set_thread_start(void (*start)(const char *name));

/* Opens a UDP socket towards address:port. kind must be AKTELE_KIND_UDP; bufferSize is the
 * largest datagram read (never less than one full frame). The environment variable
 * V7_CAMERA_ADDRESS=host:port (an IPv4 address or a host name) overrides address and port;
 * when it is set but malformed nothing is opened. Returns 0 on failure. */
AkTele *aktele_alloc(int kind, const char *address, int port, int bufferSize);
/* Starts the receive thread; starting a running transport does nothing. 0 or -1. */
int aktele_start(AkTele *tele);
/* Stops the receive thread; the socket and every handle allocated from it stay valid. */
int aktele_stop(AkTele *tele);
/* Stops and releases the transport. Device handles allocated from it must be freed after. */
int aktele_free(AkTele *tele);

/* Link counters: what arrived, what was refused and why, what was repeated. */
typedef struct AkTeleStats
{
    uint32_t framesReceived;    /* valid frames; each advanced the receive counter */
    uint32_t framesDropped;     /* datagrams refused for any of the reasons below */
    uint32_t badFrames;         /* wrong magic, version, length or CRC */
    uint32_t unknownCommands;
    uint32_t badPayloads;       /* known command, malformed payload */
    uint32_t unexpectedReplies; /* an answer nobody waits for, or one that does not fit */
    uint32_t requestsSent;
    uint32_t retransmissions;
    uint32_t timeouts;          /* requests given up */
} AkTeleStats;
int aktele_get_stats(AkTele *tele, AkTeleStats *out);

/* ---- Device ---------------------------------------------------------------------------------
 * The device handle is the device context itself. Requests return at once; the answer arrives
 * in the context, written by the receive thread. Requests are retransmitted until answered or
 * until their time-out (PROTOCOL.md); they return 0 when sent, -1 without a transport. */
v7k_context *v7k_alloc(AkTele *tele);
int v7k_free(v7k_context *device);

/* Asks for hardware version, firmware version and serial (0xb8/0xb9 become non-zero). An
 * answer with another version than the last one also refreshes the build date. */
int v7k_get_version(void *device);
/* Asks for the firmware build date text (0xbe). */
int v7k_get_builddate(void *device);
/* The POS record size of a camera model from the model word its serial begins with: 52 for the
 * five-lens models ("V7K5", "V7K4"), 32 for every other V7 model, 0 for anything else. */
int v7k_pos_record_size(const char *serial);
/* Empties firmware version, serial and build date in the context and asks for them again: after
 * a reconnect or an upgrade the program then sees only the camera's fresh answers. */
int v7k_forget_identity(void *device);
/* Clears bits of the state word without racing the receive thread (the new-POS bit). */
int v7k_clear_state(void *device, uint32_t bits);
/* 1 = the camera's normal working mode, 0 = configuration mode (triggers held while the
 * program edits the work parameters). */
int v7k_change_work_mode(void *device, int mode);
/* Sends the record whole; the camera's copy comes back into the context. */
int v7k_set_work_param(void *device, const WorkParam *param);
/* Fires all cameras once. */
int v7k_shutter(void *device);

/* Context readers. Each takes the device handle, that is the context itself. */
int v7k_get_mode(void *device);
int v7k_get_fixtime(void *device);          /* 0.1 s */
uint32_t v7k_get_index(void *device);       /* receive counter */
WorkParam v7k_get_work_param(void *device);
int v7k_get_valid(void *device);            /* 1 once the camera's record has arrived */

/* ---- Planning -------------------------------------------------------------------------------
 * Photogrammetry for the VestraneV7 camera: a 23.46 x 12.65 mm sensor of 5640 x 3040 pixels,
 * pixel pitch 4.16 um, mounted with the long side across the track. No handle needed.
 *   flying height   = GSD x focal length / pixel pitch
 *   exposure spacing = GSD x 3040 x (1 - forward overlap)
 *   line spacing     = GSD x 5640 x (1 - side overlap)
 * GSD in metres, focal length in millimetres, overlaps as fractions; results in metres.
 * Negative or non-finite inputs give 0. */
#define V7K_SENSOR_PIXELS_ACROSS 5640
#define V7K_SENSOR_PIXELS_ALONG 3040
#define V7K_PIXEL_PITCH_UM 4.16
double v7k_calc_alt_by_GSD(float gsd_m, double focal_mm);
double v7k_calc_baseline(float gsd_m, float forward_overlap);
double v7k_calc_sidelap(float gsd_m, float side_overlap);

#ifdef __cplusplus
}
#endif

#include "posfile.h"
#include "akupgrader.h"
