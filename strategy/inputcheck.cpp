#include "inputcheck.h"

#include <QRegularExpression>

namespace InputCheck {

namespace {
// Whole units and the first decimal digit, or nothing when the integer part alone is too long
// to be worth adding up.
bool splitDigits(const QString &text, qint64 &whole, int &tenth)
{
    const QString integer = integerPart(text);
    if (integer.size() > 15)
        return false;
    whole = integer.isEmpty() ? 0 : integer.toLongLong();
    const int point = text.indexOf(QLatin1Char('.'));
    tenth = point >= 0 && point + 1 < text.size() ? qMax(0, text.at(point + 1).digitValue()) : 0;
    return true;
}
} // namespace

QString illegalText()
{
    return QStringLiteral("输入值非法");
}

bool isIllegal(const QString &text)
{
    if (text.isEmpty())
        return false;
    if (text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('e')) ||
        text.contains(QLatin1Char('E')) || text.startsWith(QLatin1Char('.')) ||
        text.endsWith(QLatin1Char('.')))
        return true;
    static const QRegularExpression plain(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    return !plain.match(text).hasMatch();
}

QString integerPart(const QString &text)
{
    const int point = text.indexOf(QLatin1Char('.'));
    return point < 0 ? text : text.left(point);
}

double value(const QString &text)
{
    return text.isEmpty() ? 0.0 : text.toDouble();
}

qint64 truncatedWhole(const QString &text, qint64 limit)
{
    qint64 whole = 0;
    int tenth = 0;
    if (!splitDigits(text, whole, tenth) || whole > limit)
        return -1;
    return whole;
}

qint64 truncatedTenths(const QString &text, qint64 limit)
{
    qint64 whole = 0;
    int tenth = 0;
    if (!splitDigits(text, whole, tenth))
        return -1;
    const qint64 tenths = whole * 10 + tenth;
    return tenths > limit ? -1 : tenths;
}

} // namespace InputCheck
