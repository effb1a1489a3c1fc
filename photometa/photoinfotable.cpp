#include "photoinfotable.h"

#include "exifreader.h"

#include <climits>
#include <ctime>

namespace {
const char kHeader[] = "照片路径,Model,make,focallength,width,height,time,\n";

// atoi of the digits at one position of the date text; missing positions read as 0.
int field(const QByteArray &text, int position)
{
    return position < text.size() ? std::atoi(text.constData() + position) : 0;
}
// Whole millimetres, fraction dropped; nonsense values (NaN, 1e30) give 0.
int wholeMillimetres(double mm)
{
    return (mm > -2147483648.0 && mm < 2147483648.0) ? int(mm) : 0;
}
} // namespace

bool PhotoInfoTable::open(const QString &path, bool append, QString *error)
{
    close();
    m_file.setFileName(path);
    const QIODevice::OpenMode mode = append ? QIODevice::WriteOnly | QIODevice::Append
                                            : QIODevice::WriteOnly | QIODevice::Truncate;
    if (!m_file.open(mode)) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(path, m_file.errorString());
        return false;
    }
    if (!append) {
        const qint64 n = qint64(sizeof kHeader) - 1;
        if (m_file.write(kHeader, n) != n || !m_file.flush()) {
            if (error)
                *error = QStringLiteral("cannot write %1: %2").arg(path, m_file.errorString());
            m_file.close();
            return false;
        }
    }
    return true;
}

bool PhotoInfoTable::appendRow(const QString &photoPath, const PhotoInfo &info)
{
    if (!m_file.isOpen())
        return false;
    const QByteArray text = row(photoPath, info);
    return m_file.write(text) == text.size() && m_file.flush();
}

void PhotoInfoTable::close()
{
    if (m_file.isOpen())
        m_file.close();
}

QByteArray PhotoInfoTable::row(const QString &photoPath, const PhotoInfo &info)
{
    QByteArray text;
    text += photoPath.toUtf8() + ',';
    text += info.cameraModel.toUtf8() + ',';
    text += info.cameraMake.toUtf8() + ',';
    text += QByteArray::number(wholeMillimetres(info.focalLength)) + ',';
    text += QByteArray::number(info.width) + ',';
    text += QByteArray::number(info.height) + ',';
    text += QByteArray::number(captureTime(info.dateTime)) + ',';
    text += info.dateTime.toUtf8() + '\n';
    return text;
}

long long PhotoInfoTable::captureTime(const QString &exifDate)
{
    const QByteArray text = exifDate.toLatin1();
    if (text.size() < 19)
        return -1;
    std::tm t = {};
    t.tm_year = field(text, 0) - 1900;
    t.tm_mon = field(text, 5) - 1;
    t.tm_mday = field(text, 8);
    t.tm_hour = field(text, 11);
    t.tm_min = field(text, 14);
    t.tm_sec = field(text, 17);
    t.tm_isdst = -1; // let the C library decide summer time for that date
    const std::time_t seconds = std::mktime(&t);
    if (seconds < 0 || seconds > INT_MAX)
        return -1;
    return seconds;
}
