#include "timerautooptui.h"

#include <QRegularExpressionValidator>

#include "applyworkparam.h"
#include "cameralink.h"
#include "prompt.h"

TimerAutoOptUi::TimerAutoOptUi(QWidget *parent)
    : IntervalEditor(
          {QStringLiteral("间隔时间"), QStringLiteral("s"), QStringLiteral("已放下起落架")}, parent)
{
    // The "." is the pattern's wildcard, so this lets through more than numbers; the checks
    // refuse what is not one.
    static const QRegularExpression pattern(QStringLiteral(
        "^(([0-9]+.[0-9]*[1-9][0-9]*)|([0-9]*[1-9][0-9]*.[0-9]+)|([0-9]*[1-9][0-9]*))$"));
    setValidators([](QLineEdit *) { return new QRegularExpressionValidator(pattern); });
}

// The operator says the gear is down; the camera's own signal decides whether that holds.
void TimerAutoOptUi::onStateChanged(int)
{
    const v7k_context *device = CameraLink::instance()->deviceHandle();
    if (!device)
        return;
    landingGearDown = device->landingGear != 0;
    if (!landingGearDown)
        Prompt::inform(this, TriggerChecks::landingGearText());
}

void TimerAutoOptUi::onClicked()
{
    StrategyApply::applyWorkParam(
        this, [this](const WorkParam &current) { return TriggerChecks::timer(form(), current); });
}
