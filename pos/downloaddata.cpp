#include "downloaddata.h"

#include "cameralink.h"
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

PosFileManager *DownloadData::manager() const
{
    return CameraLink::instance()->posManager();
}
