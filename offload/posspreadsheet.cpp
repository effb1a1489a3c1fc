#include "posspreadsheet.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QTextStream>

#include "postablecheck.h"

namespace PosSpreadsheet {
bool isHeaderField(const QString &field)
{
    static const char *const names[] = {"offset", "ID",   "Lon",     "Lat",  "Alt",  "Heading",
                                        "Pitch",  "Roll", "Psi_GPS", "Time", "Speed"};
    for (const char *name : names) {
        if (field.contains(QLatin1String(name)))
            return true;
    }
    return false;
}
} // namespace PosSpreadsheet

namespace {
using PosSpreadsheet::isHeaderField;

int countFields(QFile *file)
{
    QTextStream in(file);
    int count = 0;
    while (!in.atEnd())
        count += int(in.readLine().split(QLatin1Char(',')).size());
    return count;
}

uint recordTime(const QString &date, const QString &time)
{
    const QDateTime when = QDateTime::fromString(date + QLatin1Char(' ') + time,
                                                 QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return when.isValid() ? uint(when.toSecsSinceEpoch()) : MyExcelObject::InvalidTime;
}
} // namespace

namespace PosSpreadsheet {

void read(const QString &path, MyExcelObject *object)
{
    object->filePath = path;
    object->fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    object->count = countFields(&file);
    file.seek(0);

    // Date and time follow the "Time" name: a row holds one field per name, and one more because
    // the time text is a date and a time of day. This reads the per-camera tables (ten names,
    // date and time in columns 10 and 11), the five-lens main table (offsets after the time) and
    // the single-lens one (nine names). Without a "Time" name: columns 10 and 11 for ten names,
    // else 15 and 16.
    QTextStream in(&file);
    int headers = 0;
    int timeHeader = 0;
    int column = 0;
    PosPoint point;
    PosAttitude attitude;
    QString date;
    while (true) {
        QString token;
        in >> token;
        if (token.isEmpty())
            break;
        const QString field = token.section(QLatin1Char(','), 0, 0);
        if (isHeaderField(field)) {
            ++headers;
            if (timeHeader == 0 && field.contains(QLatin1String("Time")))
                timeHeader = headers;
            continue;
        }
        ++column;
        const int dateColumn = timeHeader ? timeHeader : (headers == 10 ? 10 : 15);
        const int timeColumn = dateColumn + 1;
        const int rowLength = timeHeader ? qMax(headers + 1, timeColumn) : timeColumn;
        if (column == 2) {
            point.x = field.toDouble();
        } else if (column == 3) {
            point.y = field.toDouble();
        } else if (column == 4) {
            point.z = field.toDouble();
            object->posList.append(point);
            object->attitudeList.append(PosAttitude{});
        } else if (column >= 5 && column <= 7 && column < dateColumn) {
            // Heading, pitch and roll follow the position in every layout the camera writes.
            PosAttitude &last = object->attitudeList.last();
            (column == 5 ? last.heading : column == 6 ? last.pitch : last.roll) = field.toDouble();
        } else if (column == dateColumn) {
            date = field;
            date.replace(QLatin1Char('/'), QLatin1Char('-'));
        } else if (column == timeColumn) {
            QString time = field;
            time.replace(QLatin1Char('-'), QLatin1Char(':'));
            object->timeList.append(recordTime(date, time));
            date.clear();
        }
        if (column >= rowLength)
            column = 0;
    }
}

} // namespace PosSpreadsheet

MyReadExcelThread::MyReadExcelThread(const QString &path, QObject *parent)
    : QThread(parent)
    , m_path(path)
{}

MyReadExcelThread::~MyReadExcelThread()
{
    quit();
    wait();
}

void MyReadExcelThread::run()
{
    auto *object = new MyExcelObject;
    const PosTableCheck check = PosSpreadsheet::readChecked(m_path, object);
    if (!check.accepted())
        emit refused(m_path, check.message(m_path));
    emit newObject(object);
    exec();
}
