#include "myflyui.h"

#include <QLabel>
#include <QTimer>

#include "mylabel.h"
#include "promptdialog.h"
#include "look.h"

MyFlyUi::MyFlyUi(QWidget *parent)
    : QDialog(parent)
{
    PromptDialog::setUpFrame(this, "MyFlyUi");
    label_2 = PromptDialog::textLabel(this, 30, 40, 271, 21, QStringLiteral("请检查是否连接起落架！"));
    label_2->setObjectName(QStringLiteral("label_2"));
    label_3 = PromptDialog::textLabel(this, 30, 70, 271, 21, QString());
    label_3->setObjectName(QStringLiteral("label_3"));
    label_3->setFont(QFont());

    rotating = new QLabel(this);
    rotating->setGeometry(140, 80, 44, 44);
    rotating->setPixmap(Look::picture("xuanzhuan2.png"));
    rotating->setScaledContents(true);
    rotating->hide();

    okText = PromptDialog::textButton(this, 114, 110, QStringLiteral("确定"), &okImage);
    connect(okText, &Mylabel::clicked, this, &MyFlyUi::onClicked);

    rotationTimer = new QTimer(this);
    connect(rotationTimer, &QTimer::timeout, this, &MyFlyUi::onTimeout);
}

void MyFlyUi::onClicked()
{
    if (sender() == okText)
        accept();
}

void MyFlyUi::onTimeout()
{
    static const char *const frames[] = {"xuanzhuan.png", "xuanzhuan2.png", "xuanzhuan1.png"};
    rotating->setPixmap(Look::picture(frames[rotationCount % 3]));
    ++rotationCount;
}
