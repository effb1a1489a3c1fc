#pragma once

#include <functional>

#include "v7k.h"

// The camera as one tool command reaches it: a transport and a device for the command's life,
// on the camera's own address unless V7_CAMERA_ADDRESS points elsewhere.
class ToolCamera
{
public:
    ToolCamera() = default;
    ToolCamera(const ToolCamera &) = delete;
    ToolCamera &operator=(const ToolCamera &) = delete;
    ~ToolCamera();

    bool open();
    // Polls the device context until `ready` holds or `ms` pass; true when it held.
    bool waitFor(const std::function<bool(const v7k_context &)> &ready, int ms);
    v7k_context *device() const { return m_device; }

private:
    AkTele *m_tele = nullptr;
    v7k_context *m_device = nullptr;
};
