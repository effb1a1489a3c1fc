#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "testtools.h"

// POS tables computed from raw camera records by the test's own code, to compare with what the
// library writes; and the comparison of downloaded tables with `v7tool pos decode`.
namespace PosReference {
QByteArray mainTable(const QByteArray &raw, int recordSize);
QByteArray lensTable(const QByteArray &raw, int lens); // 52-byte records, lens 0..4

// The table up to its first ".xls", then Front, Right, Back, Left or Center and ".xls".
inline QString lensPath(const QString &table, int lens)
{
    const char *const names[] = {"Front", "Right", "Back", "Left", "Center"};
    return table.left(table.indexOf(QLatin1String(".xls"))) + names[lens] + ".xls";
}

// Writes what `v7tool pos decode` (the tool at `tool`) makes of `raw` to `out`.
inline bool decode(const QString &tool, const QString &raw, int recordSize, bool lensTables,
                   const QString &out)
{
    QStringList args{"pos", "decode", "--record-size", QString::number(recordSize), raw, "-o", out};
    if (lensTables)
        args << "--per-lens";
    return QProcess::execute(tool, args) == 0;
}

// Empty when `table` and its five lens tables (or their absence) are byte for byte what the tool
// decodes from `raw`; else what differs.
inline QString differsFromDecode(const QString &tool, const QString &table, const QString &raw,
                                 int recordSize, bool lensTables)
{
    QTemporaryDir dir;
    const QString expected = dir.filePath("expected.xls");
    if (!decode(tool, raw, recordSize, lensTables, expected))
        return QStringLiteral("v7tool pos decode failed on ") + raw;
    if (!QFile::exists(table) || fileBytes(table) != fileBytes(expected))
        return table + " differs";
    for (int lens = 0; lens < 5; ++lens) {
        if (QFile::exists(lensPath(table, lens)) != lensTables ||
            fileBytes(lensPath(table, lens)) != fileBytes(lensPath(expected, lens)))
            return lensPath(table, lens) + (lensTables ? " differs" : " written");
    }
    return QString();
}
} // namespace PosReference
