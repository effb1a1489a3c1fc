#pragma once

#include <QString>
#include <QVector>

// One file on the camera's POS drive, as the USB view lists it.
struct PosUsbFile
{
    int number = 0; // 1-based position on the drive
    QString path;
    QString timeText;    // "2019-03-28 10-00-00" in the computer's time zone; empty: no time
    QString compactTime; // "20190328100000"; empty: no time
    qint64 points = 0;   // file size / record size
};

// The camera's POS store seen as a removable drive: its label, and its files in the order the
// directory holds them.
namespace PosUsbDrive {

inline constexpr char kLabel[] = "VESTRANEPOS";

// Lists the files of the drive at root. A file that cannot be opened ends the listing there
// (the files before it stay listed) and prints "读取文件出错" on the console.
QVector<PosUsbFile> list(const QString &root, int recordSize, bool *stoppedEarly = nullptr);

} // namespace PosUsbDrive
