#include "promptdialog.h"

#include <QDialog>
#include <QFont>
#include <QLabel>

#include "framestyle.h"
#include "mylabel.h"

namespace PromptDialog {

void setUpFrame(QDialog *dialog, const char *objectName)
{
    dialog->setObjectName(QString::fromLatin1(objectName));
    dialog->setFixedSize(322, 160);
    FrameStyle::makeFramelessRounded(dialog);
    FrameStyle::setScaledBackground(dialog, QStringLiteral(":/V7KAPP/res/bg_warningbox.png"));
    auto *icon = new QLabel(dialog);
    icon->setObjectName(QStringLiteral("label"));
    icon->setGeometry(10, 8, 24, 24);
    icon->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/tishi.png")));
    icon->setScaledContents(true);
}

QLabel *textLabel(QDialog *dialog, int x, int y, int w, int h, const QString &text)
{
    auto *label = new QLabel(text, dialog);
    label->setGeometry(x, y, w, h);
    label->setFont(QFont(QStringLiteral("微软雅黑"), 12));
    label->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

Mylabel *textButton(QDialog *dialog, int x, int y, const QString &text, QLabel **image)
{
    auto *back = new QLabel(dialog);
    back->setGeometry(x, y, 108, 30);
    back->setPixmap(QPixmap(QStringLiteral(":/V7KAPP/res/btn_B_nor.png")));
    back->setScaledContents(true);
    auto *label = new Mylabel(dialog);
    label->setGeometry(x, y, 108, 30);
    label->setText(text);
    label->setFont(QFont(QStringLiteral("Adobe Arabic"), 12));
    label->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    label->setAlignment(Qt::AlignCenter);
    if (image)
        *image = back;
    return label;
}

} // namespace PromptDialog
