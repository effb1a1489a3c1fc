#include "applyworkparam.h"

#include "cameralink.h"
#include "prompt.h"

namespace StrategyApply {

bool applyWorkParam(QWidget *editor, const Fill &fill)
{
    CameraLink *link = CameraLink::instance();
    if (link->cameraConnected() == 0) {
        Prompt::inform(editor, QStringLiteral("相机未连接！"));
        return false;
    }
    v7k_context *device = link->deviceHandle();
    if (!device)
        return false;
    const CheckResult result = fill(v7k_get_work_param(device));
    if (!result.ok()) {
        Prompt::inform(editor, result.message);
        return false;
    }
    if (!Prompt::ask(editor, QStringLiteral("是否切换工作模式？")))
        return false;
    // The link may have gone while the question was open.
    device = link->deviceHandle();
    if (!device)
        return false;
    v7k_set_work_param(device, &result.record);
    Prompt::inform(editor, QStringLiteral("设置完成"));
    return true;
}

} // namespace StrategyApply
