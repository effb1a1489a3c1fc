#include "camsimprocess.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUdpSocket>

#include <csignal>

#include "myflyui.h"
#include "mytipui.h"

bool CamsimProcess::start(const QStringList &options)
{
    // A port nobody holds right now; the simulator binds it a moment later.
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return false;
    m_port = probe.localPort();
    probe.close();
    return restart(options);
}

bool CamsimProcess::restart(const QStringList &options)
{
    stop();
    const QString address = QStringLiteral("127.0.0.1:%1").arg(m_port);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral(V7_CAMSIM_PATH),
                    QStringList{QStringLiteral("--listen"), address, QStringLiteral("--quiet")}
                        + options);
    if (!m_process.waitForStarted(5000))
        return false;
    qputenv("V7_CAMERA_ADDRESS", address.toLatin1());
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

struct PromptCatcher::Private
{
    QTimer timer;
    QStringList texts;
};

PromptCatcher::PromptCatcher()
    : d(new Private)
{
    QObject::connect(&d->timer, &QTimer::timeout, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *fly = qobject_cast<MyFlyUi *>(modal)) {
            const QString second = fly->label_3->text();
            d->texts << (second.isEmpty() ? fly->label_2->text()
                                          : fly->label_2->text() + QStringLiteral(" / ") + second);
            fly->accept();
        } else if (auto *tip = qobject_cast<MyTipUi *>(modal)) {
            d->texts << tip->label_2->text();
            m_yes ? tip->accept() : tip->reject();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            d->texts << box->text();
            for (QAbstractButton *button : box->buttons()) {
                if ((box->buttonRole(button) == QMessageBox::YesRole) == m_yes) {
                    button->click();
                    break;
                }
            }
        }
    });
    d->timer.start(10);
}

PromptCatcher::~PromptCatcher()
{
    delete d;
}

QStringList PromptCatcher::texts() const
{
    return d->texts;
}

void PromptCatcher::clear()
{
    d->texts.clear();
}
