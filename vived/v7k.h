/* Public C interface of the device library: the calls the program makes to reach the camera,
 * and the device context that the library keeps current behind the device handle. */
#pragma once

#include <stddef.h>
#include <stdint.h>

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
    uint8_t reserved0c[8];
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

#ifdef __cplusplus
#define V7K_STATIC_ASSERT static_assert
#else
#define V7K_STATIC_ASSERT _Static_assert
#endif
V7K_STATIC_ASSERT(sizeof(WorkParam) == 24, "WorkParam is 24 bytes");
V7K_STATIC_ASSERT(offsetof(WorkParam, timeInterval) == 20, "timeInterval");
V7K_STATIC_ASSERT(offsetof(WorkParam, distanceInterval) == 22, "distanceInterval");
V7K_STATIC_ASSERT(offsetof(v7k_context, posfileArg) == 0x00, "posfileArg");
V7K_STATIC_ASSERT(offsetof(v7k_context, state) == 0x08, "state");
V7K_STATIC_ASSERT(offsetof(v7k_context, photoCount) == 0x14, "photoCount");
V7K_STATIC_ASSERT(offsetof(v7k_context, satellites) == 0x38, "satellites");
V7K_STATIC_ASSERT(offsetof(v7k_context, posValue) == 0x40, "posValue");
V7K_STATIC_ASSERT(offsetof(v7k_context, workParam) == 0x60, "workParam");
V7K_STATIC_ASSERT(offsetof(v7k_context, cameraPhotos) == 0x92, "cameraPhotos");
V7K_STATIC_ASSERT(offsetof(v7k_context, hardwareVersion) == 0x9c, "hardwareVersion");
V7K_STATIC_ASSERT(offsetof(v7k_context, serial) == 0xa8, "serial");
V7K_STATIC_ASSERT(offsetof(v7k_context, firmwareMajor) == 0xb8, "firmwareMajor");
V7K_STATIC_ASSERT(offsetof(v7k_context, firmwareMinor) == 0xb9, "firmwareMinor");
V7K_STATIC_ASSERT(offsetof(v7k_context, cameraState) == 0xba, "cameraState");
V7K_STATIC_ASSERT(offsetof(v7k_context, landingGear) == 0xbc, "landingGear");
V7K_STATIC_ASSERT(offsetof(v7k_context, buildDate) == 0xbe, "buildDate");
V7K_STATIC_ASSERT(offsetof(v7k_context, selfTest) == 0xd3, "selfTest");
V7K_STATIC_ASSERT(offsetof(v7k_context, receiveCounter) == 0xd4, "receiveCounter");

#define V7K_STATE_NEW_POS 0x1u
#define V7K_STATE_GPS_GOOD 0x2u

/* Context readers. Each takes the device handle, that is the context itself. */
int v7k_get_mode(void *device);
int v7k_get_fixtime(void *device);
uint32_t v7k_get_index(void *device);
WorkParam v7k_get_work_param(void *device);
int v7k_get_valid(void *device);

/* Requests to the camera. */
int v7k_change_work_mode(void *device, int mode);

#ifdef __cplusplus
}
#endif
