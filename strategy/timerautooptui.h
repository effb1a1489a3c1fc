#pragma once

#include "intervaleditor.h"

// The fixed-time editor: shoot every N seconds once the chosen activation holds.
class TimerAutoOptUi : public IntervalEditor
{
    Q_OBJECT
public:
    explicit TimerAutoOptUi(QWidget *parent = nullptr);

public slots:
    void onStateChanged(int state) override;
    void onClicked() override;
};
