#include "blocklabels.h"

#include <QFile>

#include <blkid.h>

namespace {

// udev writes label bytes outside plain ASCII as "\xHH".
QString decodeUdev(const QByteArray &text)
{
    QByteArray out;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == '\\' && i + 3 < text.size() && text.at(i + 1) == 'x') {
            bool ok = false;
            const int value = text.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(text.at(i));
    }
    return QString::fromUtf8(out);
}

} // namespace

namespace BlockLabelReader {

BlockLabels probe(const QString &device)
{
    BlockLabels labels;
    blkid_probe probe = blkid_new_probe_from_filename(QFile::encodeName(device).constData());
    if (!probe)
        return labels;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe,
                                      BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    if (blkid_do_safeprobe(probe) == 0) {
        labels.found = true;
        const char *value = nullptr;
        size_t size = 0;
        if (blkid_probe_lookup_value(probe, "LABEL", &value, &size) == 0)
            labels.label = QString::fromUtf8(value);
        if (blkid_probe_lookup_value(probe, "UUID", &value, &size) == 0)
            labels.uuid = QString::fromUtf8(value);
        if (blkid_probe_lookup_value(probe, "TYPE", &value, &size) == 0)
            labels.fsType = QString::fromUtf8(value);
    }
    blkid_free_probe(probe);
    return labels;
}

BlockLabels fromUdevRecord(const QByteArray &record)
{
    BlockLabels labels;
    QString plainLabel;
    bool encoded = false;
    for (const QByteArray &line : record.split('\n')) {
        if (!line.startsWith("E:"))
            continue;
        const int equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.mid(2, equals - 2);
        const QByteArray value = line.mid(equals + 1);
        if (key == "ID_FS_LABEL_ENC") {
            labels.label = decodeUdev(value);
            encoded = true;
        } else if (key == "ID_FS_LABEL") {
            plainLabel = QString::fromUtf8(value);
        } else if (key == "ID_FS_UUID") {
            labels.uuid = QString::fromUtf8(value);
        } else if (key == "ID_FS_TYPE") {
            labels.fsType = QString::fromUtf8(value);
        } else {
            continue;
        }
        labels.found = true;
    }
    // The plain form has blanks and odd bytes replaced by "_"; the encoded one keeps them.
    if (!encoded)
        labels.label = plainLabel;
    return labels;
}

BlockLabels fromUdev(unsigned major, unsigned minor)
{
    QFile file(QStringLiteral("/run/udev/data/b%1:%2").arg(major).arg(minor));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return fromUdevRecord(file.readAll());
}

BlockLabels read(const QString &device, unsigned major, unsigned minor)
{
    const BlockLabels probed = probe(device);
    return probed.found ? probed : fromUdev(major, minor);
}

} // namespace BlockLabelReader
