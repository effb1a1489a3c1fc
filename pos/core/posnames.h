#pragma once

#include <QString>

// Names of the tables a download writes, the same for the page and for v7tool.
namespace PosNames {

// What the save dialog suggests: the compact time of the first selected file, "POS点数据" and
// the tables' suffix (just "POS点数据.xls" for a file without a time).
QString suggestedName(const QString &compactTime);

// The name the operator typed, with ".xls" added when it has no such suffix: the offload page's
// chooser and the spreadsheet programs only see tables by that suffix.
QString tablePath(const QString &chosen);

// One selected file goes to the chosen path itself; with several, each goes to the chosen path
// up to its first "." followed by the file's row number + 1 and ".xls" (rows are 0-based), for
// the WiFi slots and the USB drive's files alike.
QString outputPath(const QString &chosen, int selectedCount, int row);

} // namespace PosNames

// Which request sequence the camera's firmware expects for a POS download.
enum class PosFirmwareRange {
    Plain,            // below 3.31: the plain request; the program marks the file complete
    ProgramCompletes, // 3.31 up to 4.5: the offset request; the program marks it complete
    Confirmed,        // 4.5 and later: the offset request, confirmed with posfile_file_success
};

// The firmware version text ("4.41") read as a plain decimal number.
PosFirmwareRange posFirmwareRange(const QString &firmwareVersionText);
