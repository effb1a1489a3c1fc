#include "simprocess.h"

#include <QTest>

#include <csignal>
#include <cstring>

SimProcess::~SimProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool SimProcess::start(const QStringList &arguments)
{
    m_process.start(QStringLiteral(V7_CAMSIM),
                    QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} +
                        arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    while (m_process.waitForReadyRead(5000)) {
        while (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("listening on 127.0.0.1:")) {
                m_port = quint16(line.mid(int(sizeof "listening on 127.0.0.1:" - 1)).toUInt());
                return m_port != 0;
            }
        }
    }
    return false;
}

bool SimProcess::toggleSilence(bool expectSilent)
{
    ::kill(pid_t(m_process.processId()), SIGUSR1);
    const QByteArray want = expectSilent ? "silent" : "speaking";
    while (m_process.waitForReadyRead(5000)) {
        while (m_process.canReadLine()) {
            if (m_process.readLine().trimmed() == want)
                return true;
        }
    }
    return false;
}

Link::Link(const QString &cameraAddress)
{
    qputenv("V7_CAMERA_ADDRESS", cameraAddress.toLatin1());
    aktele_module_init();
    // The simulator's address both ways: passed, and in the environment as the program's runs have it.
    const QByteArray host = cameraAddress.section(QLatin1Char(':'), 0, 0).toLatin1();
    const int port = cameraAddress.section(QLatin1Char(':'), 1, 1).toInt();
    tele = aktele_alloc(AKTELE_KIND_UDP, host.constData(), port, 4096);
    if (tele)
        device = v7k_alloc(tele);
    if (tele)
        aktele_start(tele);
}

Link::~Link()
{
    if (tele) {
        aktele_stop(tele);
        aktele_free(tele);
    }
    if (device)
        v7k_free(device);
    aktele_module_exit();
}

bool Link::waitFilled(int ms)
{
    for (int waited = 0; waited < ms; waited += 50) {
        if (device->statusCount > 0 && device->firmwareMajor != 0 &&
            std::strlen(device->buildDate) >= 5 && device->serial[0] != 0 &&
            device->workParam.mode != 0)
            return true;
        QTest::qWait(50);
    }
    return false;
}

AkTeleStats Link::stats() const
{
    AkTeleStats s = {};
    aktele_get_stats(tele, &s);
    return s;
}
