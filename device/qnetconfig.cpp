#include "qnetconfig.h"

QNetConfig *QNetConfig::instance()
{
    static QNetConfig *page = new QNetConfig();
    return page;
}

QNetConfig::QNetConfig(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("QNetConfig"));
}
