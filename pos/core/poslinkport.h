#pragma once

#include <QString>

#include "v7k.h"

// What the WiFi transfer reads from the camera link. The page serves it from the program's
// camera link, v7tool from the handles it opens itself.
class PosLinkPort
{
public:
    virtual ~PosLinkPort() = default;
    virtual bool connected() const = 0;
    // The transfer manager of the connected camera; null while there is none. Asked afresh on
    // every step, never kept: it belongs to a device that a disconnect releases.
    virtual PosFileManager *manager() const = 0;
    // Bit 0 of the device context's state word (a slot description arrived); -1 without one.
    virtual int newPosData() const = 0;
    virtual int clearNewPosData() = 0;
    virtual QString firmwareVersionText() const = 0;
    virtual int posRecordSize() const = 0;
    // A download starts: the link gives its heartbeat a full period before judging the camera.
    virtual void transferStarted() {}
};
