#include "camsimprocess.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "myflyui.h"
#include "mytipui.h"

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
