#include "distanceautooptui.h"

#include <QDoubleValidator>

#include "applyworkparam.h"
#include "cameralink.h"
#include "editorstyle.h"
#include "prompt.h"

DistanceAutoOptUi::DistanceAutoOptUi(QWidget *parent)
    : IntervalEditor({QStringLiteral("间隔距离"), QStringLiteral("m"),
                      QStringLiteral("请确认设备正常连接并放下起落架")},
                     parent)
{
    setValidators([](QLineEdit *) { return EditorStyle::numberValidator(); });
}

// Only the one-time load learns whether the gear is down; ticking the box does not change it.
void DistanceAutoOptUi::onStateChanged(int)
{
    if (CameraLink::instance()->deviceHandle() && !landingGearDown)
        Prompt::inform(this, TriggerChecks::landingGearText());
}

void DistanceAutoOptUi::onClicked()
{
    StrategyApply::applyWorkParam(this, [this](const WorkParam &current) {
        return TriggerChecks::distance(form(), current);
    });
}
