#include "toolcamera.h"

#include <QElapsedTimer>
#include <QThread>

namespace {
const char kCameraAddress[] = "192.168.123.123";
const int kCameraPort = 8899;
} // namespace

ToolCamera::~ToolCamera()
{
    if (m_tele) {
        aktele_stop(m_tele);
        aktele_free(m_tele);
    }
    if (m_device)
        v7k_free(m_device);
    if (m_tele)
        aktele_module_exit();
}

bool ToolCamera::open()
{
    aktele_module_init();
    m_tele = aktele_alloc(AKTELE_KIND_UDP, kCameraAddress, kCameraPort, 4096);
    m_device = m_tele ? v7k_alloc(m_tele) : nullptr;
    if (!m_device)
        return false;
    return aktele_start(m_tele) == 0;
}

bool ToolCamera::waitFor(const std::function<bool(const v7k_context &)> &ready, int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (ready(*m_device))
            return true;
        if (clock.elapsed() >= ms)
            return false;
        QThread::msleep(20);
    }
}
