#include "postablecheck.h"

#include <QDateTime>
#include <QFile>
#include <QStringDecoder>
#include <QStringList>
#include <QVarLengthArray>

#include <xxhash.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Far above any flight's table (a day of exposures at 10 Hz is some 130 MB).
constexpr qint64 kMaxTableBytes = qint64(1) << 30;
constexpr int kLinesNamed = 10;

// Blanks and tabs separate the values; the writer puts both after each one. The separators are
// ASCII, so the bytes of a UTF-8 line split where its text would.
using Fields = QVarLengthArray<QByteArrayView, 24>;

void fields(QByteArrayView line, Fields *out)
{
    out->clear();
    qsizetype start = -1;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        const bool gap = i == line.size() || line[i] == ' ' || line[i] == '\t' || line[i] == '\r';
        if (gap && start >= 0) {
            out->append(line.sliced(start, i - start));
            start = -1;
        } else if (!gap && start < 0) {
            start = i;
        }
    }
}

QString text(QByteArrayView bytes)
{
    return QString::fromUtf8(bytes);
}

// Text a table line can hold: UTF-8 without control characters other than tabs. Plain ASCII,
// as every table the camera writes, is told without decoding it.
bool isText(QByteArrayView bytes)
{
    bool ascii = true;
    for (const char c : bytes) {
        const uchar u = uchar(c);
        if (u >= 0x80) {
            ascii = false;
            continue;
        }
        if ((u < 0x20 && c != '\t' && c != '\r') || u == 0x7F)
            return false;
    }
    if (ascii)
        return true;
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString line = decode(bytes);
    return !decode.hasError();
}

// Where a row's values go: the layout the header gives.
struct Layout
{
    QStringList names;
    int dateColumn = 0; // 1-based
    int timeColumn = 0;
    int rowLength = 0;

    QString columnName(int column) const
    {
        if (column == dateColumn || column == timeColumn)
            return QStringLiteral("Time");
        const int index = column < dateColumn ? column - 1 : column - 2;
        return index >= 0 && index < names.size() ? names.at(index)
                                                  : QStringLiteral("column %1").arg(column);
    }
};

// Empty when line is a POS header; else why not.
QString readHeader(const QStringList &names, Layout *layout, OperatorOutcome *why)
{
    if (names.size() < 4) {
        *why = OperatorOutcome(OperatorOutcome::PosHeaderTooFew);
        return QStringLiteral("is not a POS header (too few names)");
    }
    for (const QString &name : names) {
        if (!PosSpreadsheet::isHeaderField(name) || name.contains(QLatin1Char(','))) {
            *why = OperatorOutcome(OperatorOutcome::PosHeaderName, {name.left(40)});
            return QStringLiteral("is not a POS header (\"%1\")").arg(name.left(40));
        }
    }
    *why = OperatorOutcome(OperatorOutcome::PosHeaderOrder);
    if (!names.at(1).contains(QLatin1String("Lon")) ||
        !names.at(2).contains(QLatin1String("Lat")) || !names.at(3).contains(QLatin1String("Alt")))
        return QStringLiteral("is not a POS header (Lon, Lat and Alt must be its 2nd to 4th "
                              "names)");
    int timeHeader = 0;
    for (int i = 0; i < names.size() && timeHeader == 0; ++i) {
        if (names.at(i).contains(QLatin1String("Time")))
            timeHeader = i + 1;
    }
    // Date and time follow the "Time" name: a row holds one value per name, and one more because
    // the time text is a date and a time of day. So the per-camera tables (ten names, date and
    // time in columns 10 and 11), the five-lens main table (offsets after the time) and the
    // single-lens one (nine names) all read. Without a "Time" name: columns 10 and 11 for ten
    // names, else 15 and 16.
    const int headers = int(names.size());
    layout->names = names;
    layout->dateColumn = timeHeader ? timeHeader : (headers == 10 ? 10 : 15);
    layout->timeColumn = layout->dateColumn + 1;
    layout->rowLength = timeHeader ? qMax(headers + 1, layout->timeColumn) : layout->timeColumn;
    *why = OperatorOutcome();
    return QString();
}

// Empty when value is a plain decimal number within limit; else why not. A decimal comma is
// refused: "1,234" may be a comma for the point or a thousands separator.
QString readNumber(QByteArrayView value, double limit, double *out, OperatorOutcome::Code *why)
{
    if (value.contains(',')) {
        *why = OperatorOutcome::PosDecimalComma;
        return QStringLiteral("\"%1\" has a comma (write numbers with a decimal point)")
            .arg(text(value).left(40));
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number)) {
        *why = OperatorOutcome::PosNotNumber;
        return QStringLiteral("\"%1\" is not a number").arg(text(value).left(40));
    }
    if (std::fabs(number) > limit) {
        *why = OperatorOutcome::PosOutOfRange;
        return QStringLiteral("%1 is out of range").arg(text(value).left(40));
    }
    *out = number;
    return QString();
}

// Every header name holds a letter other than e, so a value without one (a number, a date, a
// time) is no header name; the substring test runs only on the others.
bool mayBeHeaderField(QByteArrayView value)
{
    for (const char c : value) {
        if (((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && c != 'e' && c != 'E')
            return PosSpreadsheet::isHeaderField(text(value));
    }
    return false;
}

int twoDigits(QByteArrayView v, qsizetype at)
{
    const char a = v[at], b = v[at + 1];
    return a >= '0' && a <= '9' && b >= '0' && b <= '9' ? (a - '0') * 10 + (b - '0') : -1;
}

// Local seconds since 1970 of a row's date ("2019-03-28", "2019/03/28") and time of day
// ("10:00:07", "10-00-07"), -1 when they are none. Rows come in time order, so the local time
// zone's offset is asked once per minute of the table instead of once per row: asking it is
// what a long table's reading otherwise spends its time on.
class LocalTimes
{
public:
    qint64 seconds(QByteArrayView date, QByteArrayView clock)
    {
        if (date.size() == 10 && clock.size() == 8) {
            const int century = twoDigits(date, 0), years = twoDigits(date, 2);
            const int month = twoDigits(date, 5), day = twoDigits(date, 8);
            const int hour = twoDigits(clock, 0), minute = twoDigits(clock, 3);
            const int second = twoDigits(clock, 6);
            const bool separated = (date[4] == '-' || date[4] == '/') &&
                                   (date[7] == '-' || date[7] == '/') &&
                                   (clock[2] == ':' || clock[2] == '-') &&
                                   (clock[5] == ':' || clock[5] == '-');
            const QDate d(century * 100 + years, month, day);
            if (separated && century >= 0 && years >= 0 && d.isValid() &&
                QTime::isValid(hour, minute, second)) {
                const qint64 minuteKey = d.toJulianDay() * 1440 + hour * 60 + minute;
                const qint64 naive = (d.toJulianDay() - 2440588) * 86400 + hour * 3600 +
                                     minute * 60 + second;
                if (minuteKey != m_minute) {
                    const QDateTime when(d, QTime(hour, minute, second));
                    if (!when.isValid())
                        return -1;
                    m_minute = minuteKey;
                    m_offset = when.toSecsSinceEpoch() - naive;
                }
                return naive + m_offset;
            }
        }
        // Anything else the date and time parser takes.
        QString dateText = text(date), clockText = text(clock);
        dateText.replace(QLatin1Char('/'), QLatin1Char('-'));
        clockText.replace(QLatin1Char('-'), QLatin1Char(':'));
        const QDateTime when = QDateTime::fromString(dateText + QLatin1Char(' ') + clockText,
                                                     QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        return when.isValid() ? when.toSecsSinceEpoch() : -1;
    }

private:
    qint64 m_minute = std::numeric_limits<qint64>::min();
    qint64 m_offset = 0;
};

// Empty when the row reads; else why not. Fills point, attitude and time.
QString readRow(const Fields &values, const Layout &layout, LocalTimes *times, PosPoint *point,
                PosAttitude *attitude, uint *time, OperatorOutcome *why)
{
    for (QByteArrayView value : values) {
        if (mayBeHeaderField(value)) {
            *why = OperatorOutcome(OperatorOutcome::PosHeaderInData, {text(value).left(40)});
            return QStringLiteral("a header inside the data (\"%1\")").arg(text(value).left(40));
        }
    }
    if (values.size() != layout.rowLength) {
        *why = OperatorOutcome(OperatorOutcome::PosRowLength,
                               {QString::number(values.size()), QString::number(layout.rowLength)});
        return QStringLiteral("%1 values where the header asks for %2")
            .arg(values.size())
            .arg(layout.rowLength);
    }
    for (int column = 1; column <= layout.rowLength; ++column) {
        const QByteArrayView value = values.at(column - 1);
        if (column == layout.dateColumn)
            continue;
        if (column == layout.timeColumn) {
            const qint64 when = times->seconds(values.at(column - 2), value);
            if (when < 0 || when >= qint64(MyExcelObject::InvalidTime)) {
                const QString shown =
                    text(values.at(column - 2)).left(20) + QLatin1Char(' ') + text(value).left(20);
                *why = OperatorOutcome(OperatorOutcome::PosBadTime, {shown});
                return QStringLiteral("\"%1\" is not a date and time").arg(shown);
            }
            *time = uint(when);
            continue;
        }
        const double limit = column == 2 ? 180.0 : column == 3 ? 90.0 : 1e12;
        double number = 0;
        OperatorOutcome::Code code = OperatorOutcome::None;
        const QString problem = readNumber(value, limit, &number, &code);
        if (!problem.isEmpty()) {
            *why = OperatorOutcome(code, {QString::number(column), text(value).left(40)});
            return QStringLiteral("%1: %2").arg(layout.columnName(column), problem);
        }
        if (column == 2)
            point->x = number;
        else if (column == 3)
            point->y = number;
        else if (column == 4)
            point->z = number;
        else if (column == 5 && column < layout.dateColumn)
            attitude->heading = number;
        else if (column == 6 && column < layout.dateColumn)
            attitude->pitch = number;
        else if (column == 7 && column < layout.dateColumn)
            attitude->roll = number;
    }
    *why = OperatorOutcome();
    return QString();
}

PosTableCheck refuse(int line, const QString &problem, const OperatorOutcome &why)
{
    PosTableCheck check;
    check.firstBadLine = line;
    check.problem = problem;
    check.why = why;
    return check;
}
} // namespace

QString PosTableCheck::message(const QString &path) const
{
    if (accepted())
        return QString();
    if (badLines.isEmpty())
        return firstBadLine > 0
                   ? QStringLiteral("%1: line %2 %3").arg(path).arg(firstBadLine).arg(problem)
                   : QStringLiteral("%1: %2").arg(path, problem);
    QStringList named;
    for (int i = 0; i < badLines.size() && i < kLinesNamed; ++i)
        named << QString::number(badLines.at(i));
    if (badLines.size() > kLinesNamed)
        named << QStringLiteral("…");
    return QStringLiteral("%1: %2 of %3 rows cannot be read (%4 %5); line %6: %7")
        .arg(path)
        .arg(badLines.size())
        .arg(badLines.size() + rows)
        .arg(badLines.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"))
        .arg(named.join(QStringLiteral(", ")))
        .arg(firstBadLine)
        .arg(problem);
}

namespace PosSpreadsheet {

PosTableCheck parse(const QByteArray &content, MyExcelObject *object)
{
    QByteArrayView bytes(content);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    // One line at a time, with room for every row made at once: a long table is held once, as
    // its numbers, and never as a list of its lines.
    const qsizetype breaks = std::count(bytes.begin(), bytes.end(), '\n');
    Layout layout;
    LocalTimes localTimes;
    bool haveHeader = false;
    PosTableCheck check;
    QList<PosPoint> points;
    QList<PosAttitude> attitudes;
    QList<uint> times;
    points.reserve(breaks);
    attitudes.reserve(breaks);
    times.reserve(breaks);
    Fields values;
    qsizetype start = 0;
    for (int number = 1; start <= bytes.size(); ++number) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line = bytes.sliced(start, end - start);
        start = end + 1;
        const bool isLine = isText(line);
        values.clear();
        if (isLine)
            fields(line, &values);
        if (isLine && values.isEmpty())
            continue; // blank lines, the one after the last row among them
        if (!haveHeader) {
            if (!isLine)
                return refuse(number, QStringLiteral("is not text: this is not a POS table"),
                              OperatorOutcome::PosNotText);
            QStringList names;
            for (QByteArrayView value : values)
                names << text(value);
            OperatorOutcome why;
            const QString problem = readHeader(names, &layout, &why);
            if (!problem.isEmpty())
                return refuse(number, problem, why);
            haveHeader = true;
            continue;
        }
        PosPoint point;
        PosAttitude attitude;
        uint time = 0;
        OperatorOutcome why(OperatorOutcome::PosNotText);
        const QString problem =
            isLine ? readRow(values, layout, &localTimes, &point, &attitude, &time, &why)
                   : QStringLiteral("is not text");
        if (problem.isEmpty()) {
            points << point;
            attitudes << attitude;
            times << time;
            continue;
        }
        if (check.badLines.isEmpty()) {
            check.firstBadLine = number;
            check.problem = problem;
            check.why = why;
        }
        check.badLines << number;
    }
    if (!haveHeader)
        return refuse(0, QStringLiteral("is empty: no POS header and no POS rows"),
                      OperatorOutcome::PosEmpty);
    check.rows = int(points.size());
    if (check.accepted() && points.isEmpty())
        return refuse(0, QStringLiteral("holds a POS header but no POS rows"),
                      OperatorOutcome::PosHeaderOnly);
    if (!check.accepted())
        return check;
    // One per line, as the page shows it (count - 1 records).
    object->count = int(breaks + 1) - (bytes.endsWith('\n') ? 1 : 0);
    object->posList = points;
    object->attitudeList = attitudes;
    object->timeList = times;
    return check;
}

PosTableCheck readChecked(const QString &path, MyExcelObject *object)
{
    object->filePath = path;
    object->fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    object->fileHash.clear();
    object->count = 0;
    object->posList.clear();
    object->attitudeList.clear();
    object->timeList.clear();
    QFile file(path);
    if (!file.exists())
        return refuse(0, QStringLiteral("no such file"), OperatorOutcome::PosNoFile);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(0, QStringLiteral("cannot be read: %1").arg(file.errorString()),
                      OperatorOutcome::PosUnreadable);
    if (file.size() > kMaxTableBytes)
        return refuse(0, QStringLiteral("is too large for a POS table"), OperatorOutcome::PosTooLarge);
    // Mapped, the table's bytes stay in the page cache instead of a copy on the heap.
    const qint64 size = file.size();
    uchar *mapped = size > 0 ? file.map(0, size) : nullptr;
    const QByteArray content =
        mapped ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), qsizetype(size))
               : file.readAll();
    if (!mapped && file.error() != QFileDevice::NoError)
        return refuse(0, QStringLiteral("cannot be read: %1").arg(file.errorString()),
                      OperatorOutcome::PosUnreadable);
    const PosTableCheck check = parse(content, object);
    if (check.accepted())
        object->fileHash = hashText(content);
    return check;
}

QString hashText(QByteArrayView content)
{
    return QString::number(qulonglong(XXH64(content.data(), size_t(content.size()), 0)), 16)
        .rightJustified(16, QLatin1Char('0'));
}

} // namespace PosSpreadsheet
