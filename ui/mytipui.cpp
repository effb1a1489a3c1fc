#include "mytipui.h"

#include <QLabel>

#include "mylabel.h"
#include "promptdialog.h"

MyTipUi::MyTipUi(QWidget *parent)
    : QDialog(parent)
{
    PromptDialog::setUpFrame(this, "MyTipUi");
    label_2 = PromptDialog::textLabel(this, 10, 40, 311, 51, QStringLiteral("是否切换工作模式？"));
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setWordWrap(true);
    m_yes = PromptDialog::textButton(this, 40, 100, QStringLiteral("是"));
    m_no = PromptDialog::textButton(this, 180, 100, QStringLiteral("否"));
    connect(m_yes, &Mylabel::clicked, this, &MyTipUi::onClicked);
    connect(m_no, &Mylabel::clicked, this, &MyTipUi::onClicked);
}

void MyTipUi::onClicked()
{
    if (sender() == m_yes)
        accept();
    else if (sender() == m_no)
        reject();
}
