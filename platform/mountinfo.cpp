#include "mountinfo.h"

namespace MountInfo {

QString unescape(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = digits.size() == 3;
            for (char d : digits)
                ok = ok && d >= '0' && d <= '7';
            if (ok) {
                out.append(char(digits.toInt(nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QString::fromUtf8(out);
}

QList<MountInfoEntry> parse(const QByteArray &text)
{
    QList<MountInfoEntry> entries;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root point options [optional...] - type source super
        const int separator = int(fields.indexOf(QByteArrayLiteral("-")));
        if (fields.size() < 6 || separator < 6 || separator + 2 >= fields.size())
            continue;
        MountInfoEntry entry;
        bool ok = false;
        entry.mountId = fields.at(0).toInt(&ok);
        const QList<QByteArray> numbers = fields.at(2).split(':');
        if (!ok || numbers.size() != 2)
            continue;
        entry.major = numbers.at(0).toUInt();
        entry.minor = numbers.at(1).toUInt();
        entry.root = unescape(fields.at(3));
        entry.mountPoint = unescape(fields.at(4));
        entry.options = unescape(fields.at(5));
        entry.fsType = unescape(fields.at(separator + 1));
        entry.source = unescape(fields.at(separator + 2));
        entry.superOptions = unescape(fields.value(separator + 3));
        entries.append(entry);
    }
    return entries;
}

bool isBlockVolume(const MountInfoEntry &entry)
{
    // A bind mount of a sub-folder shows the same device again; it is not a volume of its own.
    return entry.source.startsWith(QLatin1String("/dev/")) && entry.root == QLatin1String("/");
}

} // namespace MountInfo
