#include "updataui.h"

#include <QLabel>
#include <QPushButton>

#include "cameralink.h"
#include "framestyle.h"
#include "mylabel.h"
#include "upgradestarter.h"
#include "look.h"

namespace {

QLabel *text(QWidget *parent, const QString &content, int x, int y, int w, int size = 10)
{
    auto *label = new QLabel(content, parent);
    label->setGeometry(x, y, w, 22);
    label->setFont(Look::font(size));
    label->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    return label;
}

QPushButton *button(QWidget *parent, const QString &content, int x, int y)
{
    auto *b = new QPushButton(content, parent);
    b->setGeometry(x, y, 108, 30);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFont(Look::font(10));
    b->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: rgb(0, 160, 230); border: none; border-radius: 4px; }"
        "QPushButton:pressed { background: rgb(22, 155, 213); }"
        "QPushButton:disabled { background: rgb(90, 90, 90); color: rgb(160, 160, 160); }"));
    return b;
}

} // namespace

UpdataUi::UpdataUi(QWidget *over)
    : m_over(over)
{
    setObjectName(QStringLiteral("UpdataUi"));
    setFixedSize(380, 230);
    FrameStyle::makeFramelessRounded(this);
    FrameStyle::setScaledBackground(this, Look::resource("bg_warningbox.png"));

    auto *tip = new QLabel(this);
    tip->setGeometry(20, 14, 28, 28);
    tip->setPixmap(Look::picture("Tip.png"));
    tip->setScaledContents(true);
    text(this, QStringLiteral("Vestrane"), 56, 17, 150, 12);
    auto *close = new Mylabel(this);
    close->setGeometry(350, 14, 16, 16);
    close->setPixmap(Look::picture("btn_closegray_nor.png"));
    close->setScaledContents(true);
    connect(close, &Mylabel::clicked, this, &QWidget::close);

    text(this, QStringLiteral("SN号："), 40, 66, 120);
    text(this, QStringLiteral("当前固件版本号:"), 40, 98, 120);
    const CameraLink *link = CameraLink::instance();
    const CameraIdentity &identity = link->identity();
    m_serial = text(this, QString::fromLatin1(identity.serial), 170, 66, 180);
    m_version = text(this,
                     identity.firmwareVersionText.isEmpty()
                         ? QString()
                         : QStringLiteral("V") + identity.firmwareVersionText,
                     170, 98, 180);
    m_status = text(this, QString(), 40, 130, 300);
    m_status->setStyleSheet(QStringLiteral("color: rgb(245, 196, 0);"));

    m_check = button(this, QStringLiteral("检查新版本"), 60, 172);
    m_upgrade = button(this, QStringLiteral("本地升级"), 212, 172);
    connect(m_check, &QPushButton::clicked, this, &UpdataUi::slotCheck);
    connect(m_upgrade, &QPushButton::clicked, this, &UpdataUi::slotShengji);

    const bool connected = link->isConnected();
    if (!connected) {
        m_serial->clear();
        m_version->clear();
    }
    m_check->setEnabled(connected);
    m_upgrade->setEnabled(connected);
    const AkTele *tele = link->teleHandle();
    if (tele && tele->state == AKTELE_STATE_UPGRADE_FAILED) {
        m_status->setText(QStringLiteral("飞控升级失败"));
        m_version->clear();
    }
}

void UpdataUi::slotShengji()
{
    const QString path = UpgradeStarter::chooseFile(this);
    if (!path.isEmpty())
        UpgradeStarter::start(UpgradeStarter::Variant::UpdateWindow, path, this, m_over);
}

void UpdataUi::slotCheck()
{
    const v7k_context *device = CameraLink::instance()->deviceHandle();
    if (!device)
        return;
    const QString version =
        QStringLiteral("V%1.%2").arg(device->firmwareMajor).arg(device->firmwareMinor);
    const QString serial =
        QString::fromLatin1(device->serial, int(qstrnlen(device->serial, sizeof device->serial)));
    if (version == m_version->text() && serial == m_serial->text())
        m_check->setText(QStringLiteral("已是最新版本"));
}
