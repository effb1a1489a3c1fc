#pragma once

#include "intervaleditor.h"

// The fixed-distance editor: shoot every N metres once the chosen activation holds.
class DistanceAutoOptUi : public IntervalEditor
{
    Q_OBJECT
public:
    explicit DistanceAutoOptUi(QWidget *parent = nullptr);

public slots:
    void onStateChanged(int state) override;
    void onClicked() override;
};
