#include "postablecheck.h"

#include <QDateTime>
#include <QFile>
#include <QStringDecoder>
#include <QStringList>

#include <cmath>

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
QString readNumber(const QString &value, double limit, double *out, OperatorOutcome::Code *why)
{
    if (value.contains(QLatin1Char(','))) {
        *why = OperatorOutcome::PosDecimalComma;
        return QStringLiteral("\"%1\" has a comma (write numbers with a decimal point)")
            .arg(value.left(40));
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number)) {
        *why = OperatorOutcome::PosNotNumber;
        return QStringLiteral("\"%1\" is not a number").arg(value.left(40));
    }
    if (std::fabs(number) > limit) {
        *why = OperatorOutcome::PosOutOfRange;
        return QStringLiteral("%1 is out of range").arg(value.left(40));
    }
    *out = number;
    return QString();
}

// Empty when the row reads; else why not. Fills point, attitude and time.
QString readRow(const QStringList &values, const Layout &layout, PosPoint *point,
                PosAttitude *attitude, uint *time, OperatorOutcome *why)
{
    for (const QString &value : values) {
        if (PosSpreadsheet::isHeaderField(value)) {
            *why = OperatorOutcome(OperatorOutcome::PosHeaderInData, {value.left(40)});
            return QStringLiteral("a header inside the data (\"%1\")").arg(value.left(40));
        }
    }
    *why = OperatorOutcome(OperatorOutcome::PosRowLength,
                           {QString::number(values.size()), QString::number(layout.rowLength)});
    if (values.size() != layout.rowLength)
        return QStringLiteral("%1 values where the header asks for %2")
            .arg(values.size())
            .arg(layout.rowLength);
    QString date;
    for (int column = 1; column <= layout.rowLength; ++column) {
        const QString &value = values.at(column - 1);
        if (column == layout.dateColumn) {
            date = value;
            date.replace(QLatin1Char('/'), QLatin1Char('-'));
            continue;
        }
        if (column == layout.timeColumn) {
            QString clock = value;
            clock.replace(QLatin1Char('-'), QLatin1Char(':'));
            const QDateTime when = QDateTime::fromString(date + QLatin1Char(' ') + clock,
                                                         QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            if (!when.isValid() || when.toSecsSinceEpoch() < 0 ||
                when.toSecsSinceEpoch() >= qint64(MyExcelObject::InvalidTime)) {
                *why = OperatorOutcome(OperatorOutcome::PosBadTime,
                                       {values.at(column - 2).left(20) + QLatin1Char(' ') +
                                        value.left(20)});
                return QStringLiteral("\"%1 %2\" is not a date and time")
                    .arg(values.at(column - 2).left(20), value.left(20));
            }
            *time = uint(when.toSecsSinceEpoch());
            continue;
        }
        const double limit = column == 2 ? 180.0 : column == 3 ? 90.0 : 1e12;
        double number = 0;
        OperatorOutcome::Code code = OperatorOutcome::None;
        const QString problem = readNumber(value, limit, &number, &code);
        if (!problem.isEmpty()) {
            *why = OperatorOutcome(code, {QString::number(column), value.left(40)});
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
    QByteArray bytes = content;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QList<QByteArray> lines = bytes.split('\n');
    Layout layout;
    bool haveHeader = false;
    PosTableCheck check;
    QList<PosPoint> points;
    QList<PosAttitude> attitudes;
    QList<uint> times;
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        QString line;
        const bool text = isText(lines.at(i), &line);
        const QStringList values = text ? fields(line) : QStringList();
        if (text && values.isEmpty())
            continue; // blank lines, the one after the last row among them
        if (!haveHeader) {
            if (!text)
                return refuse(number, QStringLiteral("is not text: this is not a POS table"),
                              OperatorOutcome::PosNotText);
            OperatorOutcome why;
            const QString problem = readHeader(values, &layout, &why);
            if (!problem.isEmpty())
                return refuse(number, problem, why);
            haveHeader = true;
            continue;
        }
        PosPoint point;
        PosAttitude attitude;
        uint time = 0;
        OperatorOutcome why(OperatorOutcome::PosNotText);
        const QString problem = text ? readRow(values, layout, &point, &attitude, &time, &why)
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
    object->count = int(lines.size()) - (bytes.endsWith('\n') ? 1 : 0);
    object->posList = points;
    object->attitudeList = attitudes;
    object->timeList = times;
    return check;
}

PosTableCheck readChecked(const QString &path, MyExcelObject *object)
{
    object->filePath = path;
    object->fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
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
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return refuse(0, QStringLiteral("cannot be read: %1").arg(file.errorString()),
                      OperatorOutcome::PosUnreadable);
    return parse(content, object);
}

} // namespace PosSpreadsheet
