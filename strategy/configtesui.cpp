#include "configtesui.h"

#include "placeholderpage.h"


ConfigTesUi::ConfigTesUi(QWidget *parent)
    : QWidget(parent)
{
    PlaceholderPage::decorate(this, QStringLiteral("采集策略"));
}

