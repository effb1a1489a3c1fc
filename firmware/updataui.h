#pragma once

#include <QWidget>

// The update window opened by the title bar's version button.
class UpdataUi : public QWidget
{
    Q_OBJECT
public:
    explicit UpdataUi(QWidget *parent = nullptr);
};
