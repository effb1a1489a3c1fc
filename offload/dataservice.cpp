#include "dataservice.h"

#include "placeholderpage.h"

DataService *DataService::instance()
{
    static DataService *page = new DataService();
    return page;
}
DataService::DataService(QWidget *parent)
    : QWidget(parent)
{
    PlaceholderPage::decorate(this, QStringLiteral("影像拷贝"));
}

