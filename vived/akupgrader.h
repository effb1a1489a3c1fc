/* Firmware upgrade over the device link, and the encrypted firmware file format
 * (vived/FIRMWARE.md). Included by v7k.h. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct AkTele AkTele;

/* The upgrader's handle; opaque. */
typedef struct AkUpgrader AkUpgrader;

#define AKUPGRADER_CODE_FIRMWARE 241    /* the only request code: firmware image transfer */

/* Upgrade targets (mode a of akupgrader_prepare_firmware). */
#define AKUPGRADER_TARGET_CAMERA 0
#define AKUPGRADER_TARGET_FLIGHT_CONTROLLER 3

/* A new upgrader on a transport; the transport keeps it until it is freed, so the program need
 * not release it. code must be AKUPGRADER_CODE_FIRMWARE. 0 on failure. A new request replaces
 * the transport's previous upgrader for incoming answers. */
AkUpgrader *akupgrader_request(AkTele *tele, int code);
/* Loads a plain firmware image. modeA is the target (AKUPGRADER_TARGET_*), modeB the chunk size
 * in units of 64 bytes (0 = 1024 bytes, at most 22), date a build date "yyyymmdd" the camera's
 * running firmware must be at least ("0" = no condition). 0, or -1 for an unreadable file or an
 * image that is not a firmware image. */
int akupgrader_prepare_firmware(AkUpgrader *handle, const char *path, int modeA, int modeB,
                                const char *date);
/* Announces the image to the camera. */
int akupgrader_start(AkUpgrader *handle);
/* Lets the chunks go once the camera has accepted the announcement. */
int akupgrader_set(AkUpgrader *handle);
/* 0..99 while chunks are acknowledged, 100 once the camera has checked the whole image. */
int akupgrader_get_progress(AkUpgrader *handle);
/* 1 once the camera came back from its restart running the new image. */
int akupgrader_get_rev(AkUpgrader *handle);
/* Stops sending; the handle stays usable for another prepare. */
int akupgrader_stop(AkUpgrader *handle);
/* Forgets progress and confirmation, for the next upgrade. */
int setprogressempty(AkUpgrader *handle);

/* 1 when the file is an encrypted firmware image, 0 otherwise (also when unreadable). */
int akupgrader_file_is_encrypt(const char *path);
/* Decrypts an encrypted image into a plain one at destination. 0, or -1 on any fault (the
 * destination is then removed). */
int akupgrader_file_decrypt(const char *source, const char *destination);

#ifdef __cplusplus
}
#endif
