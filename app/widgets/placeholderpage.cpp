#include "placeholderpage.h"

#include <QFont>
#include <QLabel>
#include <QWidget>

#include "framestyle.h"

namespace PlaceholderPage {

void decorate(QWidget *page, const QString &title)
{
    page->resize(606, 508);
    FrameStyle::setScaledBackground(page, QStringLiteral(":/V7KAPP/res/smal_bk.png"));
    auto *label = new QLabel(title, page);
    label->setGeometry(0, 220, 606, 40);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(QFont(QStringLiteral("微软雅黑"), 14));
    label->setStyleSheet(QStringLiteral("color: rgb(102, 102, 102);"));
}

} // namespace PlaceholderPage
