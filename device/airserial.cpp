#include "airserial.h"

#include "framestyle.h"
#include "mylabel.h"
#include "qnetconfig.h"

AirSerial *AirSerial::instance(QWidget *parent)
{
    static AirSerial *window = new AirSerial(parent);
    return window;
}

AirSerial::AirSerial(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("AirSerial"));
    setFixedSize(260, 160);
    FrameStyle::makeFramelessRounded(this);
    FrameStyle::setScaledBackground(this, QStringLiteral(":/V7KAPP/res/bg_warningbox.png"));
    QNetConfig::instance()->setParent(this);
    QNetConfig::instance()->move(0, 30);
    auto *close = new Mylabel(this);
    close->setGeometry(236, 8, 14, 14);
    close->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/close.png")));
    close->setScaledContents(true);
    connect(close, &Mylabel::clicked, this, &QWidget::hide);
}
