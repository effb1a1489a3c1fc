#pragma once

#include "v7k.h"

#include <QProcess>
#include <QStringList>

// The camera simulator as a child process on a free loopback port that it picks itself.
class SimProcess
{
public:
    ~SimProcess();
    bool start(const QStringList &arguments);
    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // Sends SIGUSR1 and waits until the simulator reports the new state.
    bool toggleSilence(bool expectSilent);

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// The library's handles, pointed at a simulator through V7_CAMERA_ADDRESS and started.
class Link
{
public:
    explicit Link(const SimProcess &sim) : Link(sim.address()) {}
    explicit Link(const QString &cameraAddress);
    ~Link();
    bool ok() const { return tele && device; }
    // Waits until version, serial, build date and work parameters are in the context.
    bool waitFilled(int ms = 5000);
    AkTeleStats stats() const;

    AkTele *tele = nullptr;
    v7k_context *device = nullptr;
};
