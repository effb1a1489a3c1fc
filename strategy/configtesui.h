#pragma once

#include <QWidget>

// Page of the content area; its controls arrive with the feature that fills it.
class ConfigTesUi : public QWidget
{
    Q_OBJECT
public:

    explicit ConfigTesUi(QWidget *parent = nullptr);

};
