#include "downloaddata.h"

#include "placeholderpage.h"

DownloadData *DownloadData::instance()
{
    static DownloadData *page = new DownloadData();
    return page;
}
DownloadData::DownloadData(QWidget *parent)
    : QWidget(parent)
{
    PlaceholderPage::decorate(this, QStringLiteral("POS下载"));
}


void DownloadData::initTransfer(void *posfileArg)
{
    m_manager = posfile_manager_init(posfileArg);
}
