#include "reductionwidget.h"

#include "placeholderpage.h"

ReductionWidget *ReductionWidget::instance()
{
    static ReductionWidget *page = new ReductionWidget();
    return page;
}
ReductionWidget::ReductionWidget(QWidget *parent)
    : QWidget(parent)
{
    PlaceholderPage::decorate(this, QStringLiteral("影像清空"));
}


void ReductionWidget::setStorage(int position, double free, double total)
{
    if (position < 0 || position >= 5)
        return;
    freeGiB[position] = free;
    totalGiB[position] = total;
}
