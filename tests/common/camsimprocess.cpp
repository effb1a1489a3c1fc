#include "camsimprocess.h"

#include <csignal>

bool CamsimProcess::start(const QStringList &options)
{
    // The simulator takes a free port itself and names it before it answers anything.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(V7_CAMSIM_PATH),
                    QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                QStringLiteral("--quiet")} +
                        options);
    const QByteArray prefix = "listening on 127.0.0.1:";
    while (m_port == 0 && m_process.waitForReadyRead(5000)) {
        while (m_port == 0 && m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith(prefix))
                m_port = quint16(line.mid(prefix.size()).toUInt());
        }
    }
    if (m_port == 0)
        return false;
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

void CamsimProcess::toggleSilence()
{
    ::kill(pid_t(m_process.processId()), SIGUSR1);
}
