#pragma once

#include <QWidget>

// The connection settings window opened by the network entry; it hosts the link page.
class AirSerial : public QWidget
{
    Q_OBJECT
public:
    static AirSerial *instance(QWidget *parent);

private:
    explicit AirSerial(QWidget *parent);
};
