#include "collectassistant.h"

#include "placeholderpage.h"


CollectAssistant::CollectAssistant(QWidget *parent)
    : QWidget(parent)
{
    PlaceholderPage::decorate(this, QStringLiteral("航线规划"));
}

