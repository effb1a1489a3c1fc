#include "posusbdownload.h"

#include "posrawtables.h"

#include <QDebug>

PosUsbDownload::PosUsbDownload(const QVector<Item> &items, int recordSize, bool perLens)
    : m_items(items)
    , m_recordSize(recordSize)
    , m_perLens(perLens)
{}

QString PosUsbDownload::progressText(int index, int count, bool perLens, int percent)
{
    if (perLens)
        return QStringLiteral("共:%1个 ,已下载:%2%").arg(count).arg(percent);
    return QStringLiteral("%1/%2 ,已下载:%3%").arg(index + 1).arg(count).arg(percent);
}

void PosUsbDownload::run()
{
    const int count = int(m_items.size());
    for (int j = 0; j < count; ++j) {
        const Item &item = m_items[j];
        int shown = -1;
        auto onProgress = [&](double percent) {
            const int whole = int(percent);
            if (whole == shown)
                return;
            shown = whole;
            emit progress(whole, progressText(j, count, m_perLens, whole));
        };
        const PosRawTables::Result result =
            PosRawTables::write(item.rawPath, m_recordSize, item.mainPath, m_perLens, onProgress);
        if (!result.ok) {
            qWarning().noquote() << "fail to read:" << result.error;
            emit finished(false, item.mainPath, result.error);
            return;
        }
        // The page, as the Windows program, goes on without the lens tables it cannot make.
        if (!result.lensError.isEmpty())
            qWarning().noquote() << "no lens tables:" << result.lensError;
        if (result.leftover > 0)
            qDebug().noquote() << item.rawPath << "ends in" << result.leftover
                               << "bytes that are no whole record";
        emit progress(100, progressText(j, count, m_perLens, 100));
    }
    emit finished(true, QString(), QString());
}
