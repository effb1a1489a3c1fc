#include "camsimprocess.h"

#include <csignal>

bool CamsimProcess::start(const QStringList &options)
{
    m_port = 0;
    return restart(options);
}

bool CamsimProcess::restart(const QStringList &options)
{
    stop();
    // A first start lets the simulator take a free port; it names it before it answers anything.
    const QString listen = m_port ? address() : QStringLiteral("127.0.0.1:0");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(V7_CAMSIM_PATH),
                    QStringList{QStringLiteral("--listen"), listen, QStringLiteral("--quiet")} +
                        options);
    const QByteArray prefix = "listening on 127.0.0.1:";
    quint16 announced = 0;
    while (announced == 0 && m_process.waitForReadyRead(5000)) {
        while (announced == 0 && m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith(prefix))
                announced = quint16(line.mid(prefix.size()).toUInt());
        }
    }
    if (announced == 0 || (m_port != 0 && announced != m_port))
        return false;
    m_port = announced;
    qputenv("V7_CAMERA_ADDRESS", address().toLatin1());
    return true;
}

void CamsimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool CamsimProcess::toggleSilence(bool expectSilent)
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
