#include "shengjiui.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTimer>

#include "cameralink.h"
#include "framestyle.h"
#include "mylabel.h"
#include "look.h"

ShengjiTitlebar::ShengjiTitlebar(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(500, 32);
    FrameStyle::setScaledBackground(this, Look::resource("title_bk.png"));
    m_label = new QLabel(QStringLiteral("正在升级固件，请勿退出"), this);
    m_label->setGeometry(15, 0, 300, 32);
    m_label->setFont(Look::font(10));
    m_label->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
}

void ShengjiTitlebar::onClicked()
{
    // The bar has no button of its own: nothing may hide the window before the upgrade ends.
}

void ShengjiTitlebar::mousePressEvent(QMouseEvent *event)
{
    FrameStyle::dragWindow(this, event);
    event->ignore();
}

ShengJiUi::ShengJiUi(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ShengJiUi"));
    setFixedSize(500, 200);
    FrameStyle::makeFramelessRounded(this);
    FrameStyle::setScaledBackground(this, Look::resource("bg_warningbox.png"));
    const QString white = QStringLiteral("color: rgb(255, 255, 255);");
    const QFont yahei = Look::font(10);

    m_title = new ShengjiTitlebar(this);
    m_warning = new QLabel(QStringLiteral("升级中请勿断开电源，保持软件与设备的连接状态！"), this);
    m_warning->setGeometry(20, 50, 460, 24);
    m_warning->setAlignment(Qt::AlignCenter);
    m_warning->setFont(yahei);
    m_warning->setStyleSheet(white);

    m_bar = new QProgressBar(this);
    m_bar->setGeometry(40, 95, 420, 16);
    m_bar->setRange(0, 100);
    m_bar->setTextVisible(false);
    m_bar->setStyleSheet(QStringLiteral(
        "QProgressBar { background: rgb(210, 225, 240); border: none; border-radius: 3px; }"
        "QProgressBar::chunk { background: rgb(0, 160, 230); border-radius: 3px; }"));
    m_upgraded = new QLabel(QStringLiteral("已升级："), this);
    m_upgraded->setGeometry(190, 125, 70, 24);
    m_upgraded->setFont(yahei);
    m_upgraded->setStyleSheet(white);
    m_percent = new QLabel(QStringLiteral("0%"), this);
    m_percent->setGeometry(260, 125, 60, 24);
    m_percent->setFont(yahei);
    m_percent->setStyleSheet(white);

    m_success = new QLabel(QStringLiteral("升级成功"), this);
    m_success->setGeometry(0, 70, 500, 30);
    m_success->setAlignment(Qt::AlignCenter);
    m_success->setFont(Look::font(14));
    m_success->setStyleSheet(QStringLiteral("color: rgb(0, 200, 120);"));
    m_success->hide();
    m_okImage = new QLabel(this);
    m_okImage->setGeometry(196, 140, 108, 30);
    m_okImage->setPixmap(Look::picture("btn_B_nor.png"));
    m_okImage->setScaledContents(true);
    m_okImage->hide();
    m_ok = new Mylabel(this);
    m_ok->setGeometry(196, 140, 108, 30);
    m_ok->setText(QStringLiteral("确定"));
    m_ok->setAlignment(Qt::AlignCenter);
    m_ok->setFont(QFont(QStringLiteral("Adobe Arabic"), 12));
    m_ok->setStyleSheet(white);
    m_ok->hide();
    connect(m_ok, &Mylabel::clicked, this, &ShengJiUi::onPress);

    m_progressTimer = new QTimer(this);
    connect(m_progressTimer, &QTimer::timeout, this, &ShengJiUi::onTimeout);
    m_progressTimer->start(500);
}

int ShengJiUi::progressValue() const
{
    return m_bar->value();
}

void ShengJiUi::showProgress(int percent)
{
    CameraLink::instance()->setUpgradeProgress(percent);
    m_bar->setValue(percent);
    m_percent->setText(QString::number(percent) + QLatin1Char('%'));
}

void ShengJiUi::showSuccess()
{
    m_title->label()->hide();
    m_bar->hide();
    m_upgraded->hide();
    m_percent->hide();
    m_warning->hide();
    m_success->show();
    m_okImage->show();
    m_ok->show();
}

void ShengJiUi::showProgressForPreview(int percent)
{
    showProgress(percent);
}

void ShengJiUi::showSuccessForPreview()
{
    showSuccess();
}

void ShengJiUi::onTimeout()
{
    CameraLink *link = CameraLink::instance();
    AkUpgrader *upgrader = link->upgraderHandle();
    if (!upgrader)
        return;
    const int progress = akupgrader_get_progress(upgrader);
    if (progress != 100 || akupgrader_get_rev(upgrader) != 1) {
        showProgress(progress);
        return;
    }

    m_succeeded = true;
    showSuccess();
    akupgrader_stop(upgrader);
    // The camera restarts with its new firmware: the link reads who it is again and shows no
    // status of the old one meanwhile.
    link->cameraRestarted();
    setprogressempty(upgrader);
    m_progressTimer->stop();
}

void ShengJiUi::onPress()
{
    CameraLink::instance()->setUpgradeRunning(false);
    accept();
}

void ShengJiUi::reject()
{
    // Escape must not close the window while the camera is being written.
    if (m_succeeded)
        onPress();
}

void ShengJiUi::closeEvent(QCloseEvent *event)
{
    if (!m_succeeded) {
        event->ignore();
        return;
    }
    CameraLink::instance()->setUpgradeRunning(false);
    QDialog::closeEvent(event);
}
