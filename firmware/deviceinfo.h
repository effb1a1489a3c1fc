#pragma once

#include <QWidget>

// Page of the content area; its controls arrive with the feature that fills it.
class DeviceInfo : public QWidget
{
    Q_OBJECT
public:

    explicit DeviceInfo(QWidget *parent = nullptr);
    void hideValueFields() {}
};
