#pragma once

#include <QList>
#include <QString>
#include <QThread>

#include "offloadpos.h"

// A POS table row's camera position (x = Lon, y = Lat in degrees, z = Alt in metres) and its
// attitude (heading, pitch, roll in degrees), as the table gives them: the same plain structs
// the offload keeps, so a table's lists go on to the offload shared, never copied.
using PosPoint = OffloadPosPoint;
using PosAttitude = OffloadPosAttitude;

// The exposures of one POS table: one time and one position per record, kept by the offload
// page for tagging photos, the task file and the sortie block files.
struct MyExcelObject
{
    // No record's time: a row timed at or after it is refused (a time list value's bound).
    static constexpr uint InvalidTime = uint(-1);

    int count = 0; // the table's lines, its header among them
    QString filePath;
    QString fileName;
    QString fileHash; // xxh64 of the file as read, 16 hex digits
    QList<uint> timeList; // seconds since 1970, local time
    QList<PosPoint> posList;
    QList<PosAttitude> attitudeList; // one per record of the position list
    int reserved1 = 0;
    int reserved2 = 0;
};

namespace PosSpreadsheet {
// A field naming a column; the test is a substring test, so "GPSTime" is a header too.
bool isHeaderField(const QString &field);
} // namespace PosSpreadsheet

// Reads one POS table off the GUI thread and hands the record set over once, by newObject.
// A table the strict reader refuses is announced by refused first and comes without records.
// The thread then idles in its event loop until quit() (the destructor quits and waits).
class MyReadExcelThread : public QThread
{
    Q_OBJECT
public:
    explicit MyReadExcelThread(const QString &path, QObject *parent = nullptr);
    ~MyReadExcelThread() override;

signals:
    void newObject(MyExcelObject *object); // the receiver owns object
    // message in English for the log and v7tool, operatorText as the offload page shows it
    void refused(const QString &path, const QString &message, const QString &operatorText);

protected:
    void run() override;

private:
    QString m_path;
};
