#pragma once

#include <QString>

// Names of the tables a download writes, the same for the page and for v7tool.
namespace PosNames {

// What the save dialog suggests: the compact time of the first selected file and "POS点数据".
QString suggestedName(const QString &compactTime);

// WiFi: one selected file goes to the chosen path itself; with several, each goes to the chosen
// path up to its first "." followed by the file's row number + 1 and ".xls" (rows are 0-based).
QString wifiOutputPath(const QString &chosen, int selectedCount, int row);

// USB: the tables go into the chosen path's folder, named by each file's compact time and
// "POS点数据.xls", or "POS点数据<j + 1>.xls" with several (j is 0-based within the selection).
QString usbOutputPath(const QString &chosen, const QString &compactTime, int selectedCount, int j);

} // namespace PosNames

// Which request sequence the camera's firmware expects for a POS download.
enum class PosFirmwareRange {
    Plain,            // below 3.31: the plain request; the program marks the file complete
    ProgramCompletes, // 3.31 up to 4.5: the offset request; the program marks it complete
    Confirmed,        // 4.5 and later: the offset request, confirmed with posfile_file_success
};

// The firmware version text ("4.41") read as a plain decimal number.
PosFirmwareRange posFirmwareRange(const QString &firmwareVersionText);
