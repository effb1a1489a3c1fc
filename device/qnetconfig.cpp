#include "qnetconfig.h"

#include <QFont>
#include <QLabel>
#include <QTimer>

#include "cameralink.h"
#include "mylabel.h"
#include "prompt.h"
#include "look.h"

namespace {
const QString kBlack = QStringLiteral("color: rgb(0, 0, 0);");
const QString kWhite = QStringLiteral("color: rgb(255, 255, 255);");
} // namespace

QNetConfig *QNetConfig::instance()
{
    static QNetConfig *page = new QNetConfig(CameraLink::instance());
    return page;
}

QNetConfig::QNetConfig(CameraLink *link, QWidget *parent)
    : QWidget(parent)
    , m_link(link)
{
    setObjectName(QStringLiteral("QNetConfig"));
    resize(243, 125);

    m_caption = new QLabel(QStringLiteral("网络状态："), this);
    m_caption->setObjectName(QStringLiteral("label_6"));
    m_caption->setGeometry(50, 10, 91, 21);
    m_caption->setStyleSheet(kWhite);
    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("label_9"));
    m_state->setGeometry(140, 10, 71, 21);
    m_network = new QLabel(this);
    m_network->setObjectName(QStringLiteral("label_7"));
    m_network->setGeometry(60, 90, 141, 21);
    m_network->setStyleSheet(kWhite);

    m_buttonImage = new Mylabel(this);
    m_buttonImage->setGeometry(75, 50, 108, 32);
    m_buttonImage->setScaledContents(true);
    m_buttonText = new Mylabel(this);
    m_buttonText->setGeometry(110, 50, 108, 32);
    m_buttonText->setFont(QFont(QStringLiteral("Microsoft YaHei"), 12));
    showNotConnected();
    showButtonLook(false);

    connect(m_buttonText, &Mylabel::clicked, this, &QNetConfig::onClicked);
    connect(m_buttonText, qOverload<>(&Mylabel::enterEvent), this, &QNetConfig::onenterEvent);
    connect(m_buttonText, qOverload<>(&Mylabel::leaveEvent), this, &QNetConfig::onleaveEvent);

    connect(m_link, &CameraLink::connected, this, &QNetConfig::showConnected);
    connect(m_link, &CameraLink::disconnected, this, &QNetConfig::showNotConnected);
    connect(m_link, &CameraLink::connectRefused, this,
            [this](const QString &message) { Prompt::inform(this, message); });
    connect(m_link, &CameraLink::linkLost, this, &QNetConfig::showLost);
    // Power and WiFi are fine here: the crew has to close the other program, not climb the mast.
    connect(m_link, &CameraLink::cameraTaken, this, [this](const QString &program, qint64 pid) {
        const QString who = QStringLiteral("%1（进程%2）正在使用相机，关闭它后再连接！").arg(program).arg(pid);
        QTimer::singleShot(0, this, [this, who] {
            Prompt::inform(this, QStringLiteral("相机被其他程序占用"), who);
        });
    });
}

void QNetConfig::showConnected(const QString &networkName)
{
    m_network->setText(networkName);
    m_network->show();
    m_state->setText(QStringLiteral("已连接"));
    m_state->setStyleSheet(QStringLiteral("color: rgb(0, 170, 0);"));
    m_buttonText->setText(QStringLiteral("断开"));
}

void QNetConfig::showNotConnected()
{
    m_network->hide();
    m_state->setText(QStringLiteral("未连接"));
    m_state->setStyleSheet(QStringLiteral("color:  rgb(255, 0, 0);"));
    m_buttonText->setText(QStringLiteral("连接"));
    showButtonLook(m_buttonText->underMouse());
}

// Every page already shows the disconnected state when this box appears: the operator reads the
// reason over a window that tells the truth.
void QNetConfig::showLost()
{
    QTimer::singleShot(0, this, [this] {
        Prompt::inform(this, QStringLiteral("相机断开"), QStringLiteral("请检查相机供电和本地WIFI连接！"));
    });
}

// One look per state of the pointer: the pressed look lasts only as long as the press.
void QNetConfig::showButtonLook(bool hovered)
{
    m_buttonText->setStyleSheet(hovered ? kWhite : kBlack);
    m_buttonImage->setPixmap(QPixmap(hovered ? Look::resource("btn_blue_hover.png")
                                             : Look::resource("btn_nor.png")));
}

void QNetConfig::onClicked()
{
    m_buttonText->setStyleSheet(kBlack);
    m_buttonImage->setPixmap(Look::picture("btn_blue_hover.png"));
    if (m_link->isConnected())
        m_link->disconnectCamera();
    else
        m_link->connectCamera();
    showButtonLook(m_buttonText->underMouse());
}

void QNetConfig::onenterEvent()
{
    showButtonLook(true);
}

void QNetConfig::onleaveEvent()
{
    showButtonLook(false);
}
