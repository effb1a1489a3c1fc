#include "devicedebugopt.h"

#include <QLabel>

#include "cameralink.h"
#include "framestyle.h"
#include "mylabel.h"
#include "statustick.h"
#include "look.h"

namespace {
const char *const kCaptions[5] = {"一号相机(前)：触发次数", "二号相机(右)：触发次数",
                                  "三号相机(后)：触发次数", "四号相机(左)：触发次数",
                                  "五号相机(中)：触发次数"};


QLabel *text(QWidget *parent, const QString &value, int x, int y, int w,
             Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto *label = new QLabel(value, parent);
    label->setGeometry(x, y, w, 24);
    label->setAlignment(alignment);
    label->setFont(Look::font(10));
    label->setStyleSheet(QStringLiteral("color:#666666;"));
    return label;
}
} // namespace

DeviceDebugOpt *DeviceDebugOpt::instance()
{
    static DeviceDebugOpt *page = new DeviceDebugOpt();
    return page;
}

DeviceDebugOpt::DeviceDebugOpt(QWidget *parent)
    : QWidget(parent)
{
    resize(584, 415);
    FrameStyle::setScaledBackground(this, Look::resource("smal_bk.png"));
    for (int camera = 0; camera < 5; ++camera) {
        const int y = 40 + 52 * camera;
        text(this, QString::fromUtf8(kCaptions[camera]), 70, y, 170,
             Qt::AlignRight | Qt::AlignVCenter);
        Row &row = m_rows[camera];
        row.triggerCount = text(this, QStringLiteral("0"), 248, y, 70);
        text(this, QStringLiteral("拍照数量"), 322, y, 64);
        row.statusBackground = new QLabel(this);
        row.statusBackground->setGeometry(390, y, 60, 24);
        row.statusBackground->setScaledContents(true);
        row.photoCount = text(this, QStringLiteral("0"), 390, y, 60, Qt::AlignCenter);
        row.statusIcon = new QLabel(this);
        row.statusIcon->setGeometry(460, y + 4, 16, 16);
        row.statusIcon->setScaledContents(true);
    }
    // No camera yet: every row shows the good pictures, as the first status will for a camera in
    // order.
    v7k_context none{};
    none.cameraState = 0x1f;
    refresh(none);

    m_shutter = new Mylabel(this);
    m_shutter->setGeometry(270, 330, 47, 46);
    m_shutter->setScaledContents(true);
    m_shutter->setPixmap(Look::picture("photograph_normal.png"));
    text(this, QStringLiteral("点击进行拍照测试"), 194, 380, 200, Qt::AlignCenter);
    connect(m_shutter, &Mylabel::clicked, this, &DeviceDebugOpt::onClicked);
    connect(m_shutter, &Mylabel::clickleave, this, &DeviceDebugOpt::onClickleave);

    connect(CameraLink::instance(), &CameraLink::statusRefreshed, this, &DeviceDebugOpt::refresh);
}

void DeviceDebugOpt::onClicked()
{
    m_shutter->setPixmap(Look::picture("photograph_click.png"));
    // The counters show the effect at the next status refresh.
    if (v7k_context *device = CameraLink::instance()->deviceHandle())
        v7k_shutter(device);
}

void DeviceDebugOpt::onClickleave()
{
    m_shutter->setPixmap(Look::picture("photograph_normal.png"));
}

void DeviceDebugOpt::refresh(const v7k_context &context)
{
    const StatusView view = StatusTick::evaluate(context);
    for (int camera = 0; camera < 5; ++camera) {
        Row &row = m_rows[camera];
        const bool good = view.cameraGood[camera];
        row.triggerCount->setText(QString::number(view.triggerCount));
        row.photoCount->setText(QString::number(view.cameraPhotos[camera]));
        row.statusBackground->setPixmap(Look::picture(good ? "normal.png" : "wenti.png"));
        row.photoCount->setStyleSheet(good ? QStringLiteral("color: rgb(46, 139, 87);")
                                           : QStringLiteral("color: rgb(190, 110, 0);"));
        row.statusIcon->setPixmap(Look::picture(good ? "round_normal.png" : "round_error.png"));
    }
}
