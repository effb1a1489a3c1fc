#include "deviceinfo.h"

#include "placeholderpage.h"


DeviceInfo::DeviceInfo(QWidget *parent)
    : QWidget(parent)
{
    PlaceholderPage::decorate(this, QStringLiteral("设备信息"));
}

