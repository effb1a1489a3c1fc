#include "statustick.h"

namespace {

const QString kCaptureCaption = QStringLiteral("采集策略：");
const QString kCurrentCaption = QStringLiteral("当前策略：");
const QString kAllFaulty = QStringLiteral("5个相机全部故障，请检查");
const QString kFaultSuffix = QStringLiteral("相机故障，请检查");

// Under earlier firmware the bits map to the panel in a different order: bit 0 is the right
// camera's icon, not the front one's.
constexpr StatusView::Slot kEarlierSlots[5] = {StatusView::Label17, StatusView::Label14,
                                               StatusView::Label13, StatusView::Label15,
                                               StatusView::Label16};

} // namespace

bool StatusTick::isCurrentGeneration(const v7k_context &context)
{
    return context.firmwareMajor == 4 && context.firmwareMinor >= 41;
}

QString StatusTick::strategyText(const v7k_context &context)
{
    void *device = const_cast<v7k_context *>(&context);
    switch (v7k_get_mode(device)) {
    case 1:
        return QStringLiteral("调试模式");
    case 2:
        // The camera counts tenths: 2.5 s shows as 2.50 s, never cut to whole seconds.
        return QStringLiteral("定时%1s").arg(v7k_get_fixtime(device) / 10.0, 0, 'f', 2);
    case 3:
        return QStringLiteral("定距%1m").arg(context.workParam.distanceInterval / 10.0, 0, 'f', 1);
    case 4:
        return QStringLiteral("PWM触发");
    case 5:
        return QStringLiteral("IO触发");
    case 6:
        return QStringLiteral("沿触发");
    default:
        return QString();
    }
}

QString StatusTick::cameraList(quint8 state, bool listSetBits)
{
    QString list;
    for (int camera = 1; camera <= 5; ++camera) {
        const bool set = state & (1u << (camera - 1));
        if (set != listSetBits)
            continue;
        list += list.isEmpty() ? QStringLiteral("%1号").arg(camera)
                               : QStringLiteral("、%1号").arg(camera);
    }
    return list;
}

StatusView StatusTick::evaluate(const v7k_context &context)
{
    StatusView view;
    void *device = const_cast<v7k_context *>(&context);
    const quint8 state = context.cameraState & 0x1f;
    const bool current = isCurrentGeneration(context);

    view.strategyText = strategyText(context);
    view.strategyCaption = v7k_get_mode(device) == 1 ? kCurrentCaption : kCaptureCaption;

    view.icons.fill(StatusView::Icon::Unchanged);
    if (current) {
        if (context.selfTest != 0) {
            for (int i = 0; i < 5; ++i)
                view.icons[i] = state & (1u << i) ? StatusView::Icon::Good : StatusView::Icon::Fault;
        }
    } else if (context.firmwareMajor != 0 || context.firmwareMinor != 0) {
        for (int bit = 0; bit < 5; ++bit)
            view.icons[kEarlierSlots[bit]] =
                state & (1u << bit) ? StatusView::Icon::Fault : StatusView::Icon::Good;
    }

    view.photoCount = QString::number(context.photoCount);
    view.satellites = QString::number(context.satellites);

    view.triggerCount = context.photoCount;
    for (int i = 0; i < 5; ++i) {
        view.cameraPhotos[i] = context.cameraPhotos[i];
        view.cameraGood[i] = state & (1u << i);
    }

    if (!(context.state & V7K_STATE_GPS_GOOD))
        view.gpsText = QStringLiteral("GPS硬件故障");
    else if (context.satellites < 4)
        view.gpsText = QStringLiteral("GPS未定位");

    if (current) {
        if (context.selfTest == 2)
            return view;
        if (context.selfTest == 0) {
            view.faultText = QStringLiteral("          设备自检中");
            return view;
        }
        if (state == 31)
            view.faultText = QString();
        else if (state == 0)
            view.faultText = kAllFaulty;
        else
            view.faultText = cameraList(state, false) + kFaultSuffix;
    } else {
        if (state == 31)
            view.faultText = kAllFaulty;
        else if (state == 0)
            view.faultText = QString();
        else
            view.faultText = cameraList(state, true) + kFaultSuffix;
    }
    return view;
}
