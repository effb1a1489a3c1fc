// One camera behind a transport: owns the device context the program reads, turns status
// frames and answers into context fields, and sends the v7k_* requests.
#pragma once

#include "frame.h"
#include "v7k.h"

#include <memory>

namespace vived {

class Transport;
class PosTransfer;

// One camera: its device context, the requests that fill it and its POS transfer.
class Device
{
public:
    explicit Device(Transport *transport);
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // The Device behind a context pointer the program passes, or nullptr for anything that is
    // not a live context of this library (a context the program made itself, a freed one).
    static Device *fromContext(void *context);

    v7k_context *context() { return &m_context; }
    Transport *transport() const { return m_transport; }
    PosTransfer *posTransfer();

    int requestVersion();
    int requestBuildDate();
    int requestWorkParam();
    int changeWorkMode(int mode);
    int setWorkParam(const WorkParam &param);
    int shutter();
    // Empties version, serial and build date and asks for them again, so that what follows is
    // the camera's own answer (a reconnect may find another camera or other firmware).
    int forgetIdentity();

    // Called by the transport with its dispatch lock held.
    void frameArrived();
    void statusArrived(const Frame &frame);
    void linkStarted();
    void transportGone();
    void setStateBits(uint32_t bits);
    void clearStateBits(uint32_t bits);
    // The model's POS record size from the serial's model word: 52 or 32, 0 when unknown.
    int recordSizeFromSerial() const;

private:
    int simpleRequest(uint8_t command, const std::vector<uint8_t> &payload);

    alignas(8) v7k_context m_context;
    Transport *m_transport;
    std::unique_ptr<PosTransfer> m_pos;
    unsigned m_lastVersion = 0; // major << 8 | minor of the last version answer
};

} // namespace vived
