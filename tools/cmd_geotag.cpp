// v7tool geotag: writes the positions of a POS table into photos, the n-th photo from the n-th row.
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "geotag.h"
#include "posspreadsheet.h"
#include "toolcommand.h"

namespace {
int usage()
{
    std::fprintf(stderr, "usage: v7tool geotag --pos TABLE.xls [--focal MM] PHOTO...\n");
    return 2;
}

void printLine(const QJsonObject &object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

int run(const QStringList &arguments)
{
    QString table;
    int focal = 20;
    QStringList photos;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--pos") && i + 1 < arguments.size()) {
            table = arguments.at(++i);
        } else if (a == QLatin1String("--focal") && i + 1 < arguments.size()) {
            bool ok = false;
            focal = arguments.at(++i).toInt(&ok);
            if (!ok || focal < 0)
                return usage();
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage();
        } else {
            photos.append(a);
        }
    }
    if (table.isEmpty() || photos.isEmpty())
        return usage();

    MyExcelObject rows;
    PosSpreadsheet::read(table, &rows);
    if (rows.posList.isEmpty())
        std::fprintf(stderr, "v7tool geotag: %s holds no POS rows\n", qPrintable(table));

    int failures = 0;
    for (int i = 0; i < photos.size(); ++i) {
        QJsonObject line;
        line[QStringLiteral("file")] = photos.at(i);
        if (i >= rows.posList.size()) {
            line[QStringLiteral("tagged")] = false;
            line[QStringLiteral("error")] = QStringLiteral("no POS row");
            printLine(line);
            continue;
        }
        const PosPoint &p = rows.posList.at(i);
        const GeoPosition position{p.y, p.x, p.z};
        QString error;
        const bool ok = Geotag::tagFile(photos.at(i), focal, position, &error);
        line[QStringLiteral("tagged")] = ok;
        line[QStringLiteral("latitude")] = position.latitude;
        line[QStringLiteral("longitude")] = position.longitude;
        line[QStringLiteral("altitude")] = position.altitude;
        line[QStringLiteral("error")] = error;
        if (!ok)
            ++failures;
        printLine(line);
    }
    return failures == 0 ? 0 : 1;
}

ToolCommand command("geotag", "write POS positions into photos (--pos TABLE.xls --focal MM)",
                    &run);
} // namespace
