#include "updataui.h"

#include "framestyle.h"
#include "mylabel.h"

#include <QLabel>

UpdataUi::UpdataUi(QWidget *parent)
    : QWidget(parent)
{
    resize(400, 260);
    FrameStyle::makeFramelessRounded(this);
    FrameStyle::setScaledBackground(this, QStringLiteral(":/V7KAPP/res/bg_warningbox.png"));
    auto *close = new Mylabel(this);
    close->setGeometry(370, 10, 16, 16);
    close->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/btn_closegray_nor.png")));
    close->setScaledContents(true);
    connect(close, &Mylabel::clicked, this, &QWidget::close);
}
