// The C entry points: argument checks and handle validation, then the C++ classes.
#include "v7k.h"

#include "device.h"
#include "firmwareimage.h"
#include "postransfer.h"
#include "transport.h"
#include "upgrader.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <set>

using namespace vived;

namespace {
std::mutex &transportsMutex()
{
    static std::mutex m;
    return m;
}
std::set<Transport *> &transports()
{
    static std::set<Transport *> all;
    return all;
}
Transport *liveTransport(AkTele *tele)
{
    std::lock_guard<std::mutex> lock(transportsMutex());
    for (Transport *t : transports()) {
        if (static_cast<AkTele *>(t) == tele)
            return t;
    }
    return nullptr;
}
} // namespace

extern "C" {

int aktele_module_init(void)
{
    return 0;
}
int aktele_module_exit(void)
{
    return 0;
}

void aktele_set_thread_start(void (*start)(const char *name))
{
    Transport::threadStart = start;
}

AkTele *aktele_alloc(int kind, const char *address, int port, int bufferSize)
{
    if (kind != AKTELE_KIND_UDP)
        return nullptr;
    Transport *t = Transport::create(address, port, bufferSize);
    if (!t)
        return nullptr;
    std::lock_guard<std::mutex> lock(transportsMutex());
    transports().insert(t);
    return t;
}

int aktele_start(AkTele *tele)
{
    Transport *t = liveTransport(tele);
    return t && t->start() ? 0 : -1;
}

int aktele_stop(AkTele *tele)
{
    Transport *t = liveTransport(tele);
    if (!t)
        return -1;
    t->stop();
    return 0;
}

int aktele_free(AkTele *tele)
{
    Transport *t = liveTransport(tele);
    if (!t)
        return -1;
    {
        std::lock_guard<std::mutex> lock(transportsMutex());
        transports().erase(t);
    }
    delete t;
    return 0;
}

v7k_context *v7k_alloc(AkTele *tele)
{
    Transport *t = liveTransport(tele);
    if (!t)
        return nullptr;
    auto *device = new Device(t);
    t->attachDevice(device);
    return device->context();
}

int v7k_free(v7k_context *context)
{
    Device *d = Device::fromContext(context);
    if (!d)
        return -1;
    delete d;
    return 0;
}

int v7k_get_version(void *device)
{
    Device *d = Device::fromContext(device);
    return d ? d->requestVersion() : -1;
}

int v7k_get_builddate(void *device)
{
    Device *d = Device::fromContext(device);
    return d ? d->requestBuildDate() : -1;
}

int v7k_pos_record_size(const char *serial)
{
    if (!serial || std::strncmp(serial, "V7", 2) != 0)
        return 0;
    // Five-lens models record 52-byte POS records; every other V7 model 32-byte ones.
    if (serial[2] == 'K' && (serial[3] == '5' || serial[3] == '4'))
        return 52;
    return 32;
}

int v7k_forget_identity(void *device)
{
    Device *d = Device::fromContext(device);
    return d ? d->forgetIdentity() : -1;
}

int v7k_clear_state(void *device, uint32_t bits)
{
    Device *d = Device::fromContext(device);
    if (!d)
        return -1;
    d->clearStateBits(bits);
    return 0;
}

int v7k_change_work_mode(void *device, int mode)
{
    Device *d = Device::fromContext(device);
    return d ? d->changeWorkMode(mode) : -1;
}

int v7k_set_work_param(void *device, const WorkParam *param)
{
    Device *d = Device::fromContext(device);
    return d && param ? d->setWorkParam(*param) : -1;
}

int v7k_shutter(void *device)
{
    Device *d = Device::fromContext(device);
    return d ? d->shutter() : -1;
}

int aktele_get_stats(AkTele *tele, AkTeleStats *out)
{
    Transport *t = liveTransport(tele);
    if (!t || !out)
        return -1;
    const LinkStats s = t->stats();
    out->framesReceived = s.framesReceived;
    out->framesDropped = s.framesDropped;
    out->badFrames = s.badFrames;
    out->unknownCommands = s.unknownCommands;
    out->badPayloads = s.badPayloads;
    out->unexpectedReplies = s.unexpectedReplies;
    out->requestsSent = s.requestsSent;
    out->retransmissions = s.retransmissions;
    out->timeouts = s.timeouts;
    return 0;
}

// ---- POS transfer ----

PosFileManager *posfile_manager_init(void *arg)
{
    // arg is the device context's first word, which points at the library's device.
    Device *device = nullptr;
    if (arg) {
        Device *candidate = static_cast<Device *>(arg);
        if (Device::fromContext(candidate->context()) == candidate)
            device = candidate;
    }
    return device ? device->posTransfer()->manager() : nullptr;
}

int posfile_info_request(PosFileManager *handle, int slot)
{
    PosTransfer *t = PosTransfer::fromManager(handle);
    return t ? t->infoRequest(slot) : -1;
}

int posfile_info_get(PosFileManager *handle, int slot, PosFileInfo *out)
{
    PosTransfer *t = PosTransfer::fromManager(handle);
    return t ? t->infoGet(slot, out) : -1;
}

int posfile_file_request(PosFileManager *handle, int fileNumber, const char *path)
{
    PosTransfer *t = PosTransfer::fromManager(handle);
    if (!t || fileNumber < 1 || fileNumber > 255)
        return -1;
    // The plain request carries no size: take it from the cached description of the file,
    // else from the expected size the page stored in the record; the record size from the
    // description, else from the model word.
    int recordSize = t->device()->recordSizeFromSerial();
    for (const PosFileInfo &info : handle->cache) {
        if (info.fileNumber != fileNumber || info.endAddress < info.startAddress)
            continue;
        if (info.recordSize == 32 || info.recordSize == 52)
            recordSize = info.recordSize;
        return t->fileRequest(fileNumber, path, int(info.endAddress - info.startAddress),
                              recordSize, true);
    }
    if (handle->expectedSize == 0 || handle->expectedSize > uint32_t(INT32_MAX))
        return -1;
    return t->fileRequest(fileNumber, path, int(handle->expectedSize), recordSize, true);
}

int posfile_file_request_offset(PosFileManager *handle, int fileNumber, const char *path,
                                int expectedSize, int recordSize)
{
    PosTransfer *t = PosTransfer::fromManager(handle);
    return t ? t->fileRequest(fileNumber, path, expectedSize, recordSize, handle->completion == 1)
             : -1;
}

uint32_t posfile_process(PosFileManager *handle)
{
    PosTransfer *t = PosTransfer::fromManager(handle);
    return t ? t->process() : 0;
}

int posfile_file_success(PosFileManager *handle, int fileNumber)
{
    PosTransfer *t = PosTransfer::fromManager(handle);
    return t ? t->success(fileNumber) : -1;
}

int posfile_file_cancelRequest(PosFileManager *handle)
{
    PosTransfer *t = PosTransfer::fromManager(handle);
    return t ? t->cancel() : -1;
}

int posfile_file_remove(PosFileManager *handle, int fileNumber)
{
    PosTransfer *t = PosTransfer::fromManager(handle);
    return t ? t->remove(fileNumber) : -1;
}

// ---- Firmware upgrade ----

AkUpgrader *akupgrader_request(AkTele *tele, int code)
{
    Transport *t = liveTransport(tele);
    if (!t || code != AKUPGRADER_CODE_FIRMWARE)
        return nullptr;
    return t->newUpgrader();
}

int akupgrader_prepare_firmware(AkUpgrader *handle, const char *path, int modeA, int modeB,
                                const char *date)
{
    Upgrader *u = Upgrader::fromHandle(handle);
    return u ? u->prepare(path, modeA, modeB, date) : -1;
}

int akupgrader_start(AkUpgrader *handle)
{
    Upgrader *u = Upgrader::fromHandle(handle);
    return u ? u->start() : -1;
}

int akupgrader_set(AkUpgrader *handle)
{
    Upgrader *u = Upgrader::fromHandle(handle);
    return u ? u->set() : -1;
}

int akupgrader_get_progress(AkUpgrader *handle)
{
    Upgrader *u = Upgrader::fromHandle(handle);
    return u ? u->progress() : 0;
}

int akupgrader_get_rev(AkUpgrader *handle)
{
    Upgrader *u = Upgrader::fromHandle(handle);
    return u ? u->rev() : 0;
}

int akupgrader_stop(AkUpgrader *handle)
{
    Upgrader *u = Upgrader::fromHandle(handle);
    return u ? u->stop() : -1;
}

int setprogressempty(AkUpgrader *handle)
{
    Upgrader *u = Upgrader::fromHandle(handle);
    if (!u)
        return -1;
    u->reset();
    return 0;
}

int akupgrader_file_is_encrypt(const char *path)
{
    std::vector<uint8_t> head;
    FILE *f = path ? std::fopen(path, "rb") : nullptr;
    if (!f)
        return 0;
    head.resize(FirmwareImage::kEncryptedHeaderSize);
    const size_t n = std::fread(head.data(), 1, head.size(), f);
    std::fclose(f);
    head.resize(n);
    return FirmwareImage::isEncrypted(head) ? 1 : 0;
}

int akupgrader_file_decrypt(const char *source, const char *destination)
{
    std::vector<uint8_t> sealed, plain;
    if (!destination || !FirmwareImage::readFile(source, sealed) ||
        !FirmwareImage::decrypt(sealed, plain))
        return -1;
    if (!FirmwareImage::writeFile(destination, plain)) {
        std::remove(destination);
        return -1;
    }
    return 0;
}

// ---- Planning ----

double v7k_calc_alt_by_GSD(float gsd_m, double focal_mm)
{
    if (!std::isfinite(gsd_m) || !std::isfinite(focal_mm) || gsd_m < 0 || focal_mm < 0)
        return 0;
    return double(gsd_m) * (focal_mm * 1e-3) / (V7K_PIXEL_PITCH_UM * 1e-6);
}

double v7k_calc_baseline(float gsd_m, float forward_overlap)
{
    if (!std::isfinite(gsd_m) || !std::isfinite(forward_overlap) || gsd_m < 0)
        return 0;
    return std::max(0.0, double(gsd_m) * V7K_SENSOR_PIXELS_ALONG * (1.0 - double(forward_overlap)));
}

double v7k_calc_sidelap(float gsd_m, float side_overlap)
{
    if (!std::isfinite(gsd_m) || !std::isfinite(side_overlap) || gsd_m < 0)
        return 0;
    return std::max(0.0, double(gsd_m) * V7K_SENSOR_PIXELS_ACROSS * (1.0 - double(side_overlap)));
}

} // extern "C"
