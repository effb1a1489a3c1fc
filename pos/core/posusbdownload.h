#pragma once

#include <QObject>
#include <QString>
#include <QVector>

// One USB download: the tables of the selected files of the POS drive, written on a worker
// thread (a 20,000-record file takes a while) and reported through queued signals.
class PosUsbDownload : public QObject
{
    Q_OBJECT
public:
    struct Item
    {
        QString rawPath;
        QString mainPath;
    };

    PosUsbDownload(const QVector<Item> &items, int recordSize, bool perLens);

    // Writes every item in turn; runs on the worker thread and touches nothing else.
    void run();

    // The label of the progress line: "2/3 ,已下载:45%", or with independent POS
    // "共:3个 ,已下载:45%".
    static QString progressText(int index, int count, bool perLens, int percent);

signals:
    void progress(int percent, const QString &text);
    void finished(bool ok, const QString &failedPath, const QString &error);

private:
    QVector<Item> m_items;
    int m_recordSize;
    bool m_perLens;
};
