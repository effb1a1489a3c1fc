#include "camsimprocess.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "myflyui.h"
#include "mylabel.h"
#include "mytipui.h"

PromptCatcher::PromptCatcher()
{
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (m_inTurn) {
            auto *fly = qobject_cast<MyFlyUi *>(modal);
            if (m_last.data() == modal || (fly && !fly->okText->isVisible()))
                return;
            m_last = modal;
            if (qobject_cast<MyTipUi *>(modal))
                m_yes = !m_turns.isEmpty() && m_turns.takeFirst() == QLatin1String("yes");
        }
        if (auto *fly = qobject_cast<MyFlyUi *>(modal)) {
            const QString second = fly->label_3->text();
            m_texts << (second.isEmpty() ? fly->label_2->text()
                                         : fly->label_2->text() + QStringLiteral(" / ") + second);
            fly->accept();
        } else if (auto *tip = qobject_cast<MyTipUi *>(modal)) {
            m_texts << tip->label_2->text();
            m_yes ? tip->accept() : tip->reject();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            m_texts << box->text();
            for (QAbstractButton *button : box->buttons()) {
                if ((box->buttonRole(button) == QMessageBox::YesRole) == m_yes) {
                    button->click();
                    break;
                }
            }
        }
    });
    m_timer.start(10);
}
