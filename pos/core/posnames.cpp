#include "posnames.h"

namespace PosNames {

QString suggestedName(const QString &compactTime)
{
    return compactTime + QStringLiteral("POS点数据.xls");
}

QString tablePath(const QString &chosen)
{
    if (chosen.isEmpty() || chosen.endsWith(QLatin1String(".xls"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QStringLiteral(".xls");
}

QString outputPath(const QString &chosen, int selectedCount, int row)
{
    if (selectedCount <= 1)
        return chosen;
    const int dot = chosen.indexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? chosen.left(dot) : chosen;
    return base + QString::number(row + 1) + QStringLiteral(".xls");
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
