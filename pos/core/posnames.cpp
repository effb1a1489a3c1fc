#include "posnames.h"

namespace PosNames {

QString suggestedName(const QString &compactTime)
{
    return compactTime + QStringLiteral("POS点数据");
}

QString wifiOutputPath(const QString &chosen, int selectedCount, int row)
{
    if (selectedCount <= 1)
        return chosen;
    const int dot = chosen.indexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? chosen.left(dot) : chosen;
    return base + QString::number(row + 1) + QStringLiteral(".xls");
}

QString usbOutputPath(const QString &chosen, const QString &compactTime, int selectedCount, int j)
{
    const QString folder = chosen.left(chosen.lastIndexOf(QLatin1Char('/')));
    if (selectedCount <= 1)
        return folder + QLatin1Char('/') + compactTime + QStringLiteral("POS点数据.xls");
    return folder + QLatin1Char('/') + compactTime + QStringLiteral("POS点数据%1.xls").arg(j + 1);
}

} // namespace PosNames

PosFirmwareRange posFirmwareRange(const QString &firmwareVersionText)
{
    const double version = firmwareVersionText.toDouble();
    if (version < 3.31)
        return PosFirmwareRange::Plain;
    if (version < 4.5)
        return PosFirmwareRange::ProgramCompletes;
    return PosFirmwareRange::Confirmed;
}
